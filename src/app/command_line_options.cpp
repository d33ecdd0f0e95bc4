// The command line's options and sub-commands: the help around them, what each option takes and
// binds, and the usage errors about arguments that are no option or no sub-command of this one.
#include <CLI/CLI.hpp>
#include <array>
#include <memory>
#include <string_view>
#include <utility>

#include "app/access_code_text.h"
#include "app/command_line_parser.h"
#include "app/help_formatter.h"
#include "app/printable_text.h"
#include "image/firmware_image.h"
#include "image/image_check.h"

namespace tvx::app {
namespace {

// The program's own help around its generated parts, with the platform's words put in for
// {window}, {example}, {unbound} and {log}; one line a paragraph, wrapped when printed.
constexpr std::string_view kOverview =
    "Loads firmware into a Torvandrix 900 MHz radio over a serial port, directly or over RF "
    "through a local radio, and opens the radio's set-up terminal. Without a sub-command it "
    "runs full screen on a page of 80 x 51 characters, seen whole in a {window} of 51 rows or "
    "more and through a view that follows the cursor in one of 24 to 50; choose from the menu "
    "with 1 to 4, leave with Esc.\n"
    "\n"
    "Ports: \"Com1\" to \"Com9\" (menu item 3) are the devices named in the environment "
    "variables TORVANDRIX_COM1 to TORVANDRIX_COM9, e.g. TORVANDRIX_COM1={example}; without "
    "one, ComN is {unbound}.";

constexpr std::string_view kSubcommandsHeading =
    "Sub-commands run one job without the full screen and exit; 'torvandrix-upload "
    "SUB-COMMAND --help' lists the options of each";

constexpr std::string_view kFooter =
    "Exit status: 0 complete, 1 checksum error, 2 usage, 3 stopped (retries spent, dead line, "
    "silent radio), 4 radio refused, 5 port could not be opened, 6 complete, but words were "
    "resent that the checksum does not cover (load it again to be sure); 128 + N after signal "
    "N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP): the job ends after the word or frame on the "
    "wire, closes the port and logs the outcome \"interrupted\"; a second signal ends the "
    "program at once.\n"
    "\n"
    "Every upload's outcome is appended as one line of JSON to the upload log: the file that "
    "--log names, else TORVANDRIX_LOG, else {log}.\n"
    "\n"
    "Settings: what the command line leaves unset comes from the configuration file, --config "
    "FILE else {config} when it exists: one \"key = value\" a line, keys named as the long "
    "options; the program's own at the top (log = \"/var/log/uploads.jsonl\", com = "
    "[\"1={example}\"], access-code = \"0x12,0x34,0x56,0x78\"), a sub-command's under its "
    "name ([direct] then retries = 5). The access code: --access-code, else "
    "TORVANDRIX_ACCESS_CODE, else the file's, else the code built in; it is never shown. The "
    "variable or the file keeps the code out of the process list, which shows the command "
    "line's for a moment.";

constexpr std::string_view kDirectFooter =
    "The questions of the upload are answered by the options: the radio's diagnostic port "
    "unless --data-port, \"Radio in setup?\" yes, high speed only with --high-speed. A prompt "
    "that offers a retry (a missing or wrong answer from the radio) is answered with a retry "
    "up to --retries times per word; then the upload stops. After a checksum error the "
    "read-back runs to its end and prints every word that differs.\n"
    "\n"
    "Several radios at once: give --port once per radio (the same device twice is a usage "
    "error). Each upload runs on its own, and a port that fails ends its upload alone; every "
    "note starts with the device, and on a terminal each port has a live line. At the end "
    "come one outcome line per port, starting with its device (with --json, one record a "
    "line), and one log line per upload. The exit status is 0 when every upload completed, "
    "else the most serious among them in the order 5, 4, 3, 1, 6.";

constexpr std::string_view kRfFooter =
    "Each frame is sent again until its echo from the local radio comes back intact, so a "
    "silent local radio ends the run by --timeout. Between passes the radio network gets six "
    "seconds.";

}  // namespace

std::string FillIn(std::string_view pattern, const HelpWording& wording) {
  const std::pair<std::string_view, std::string_view> words[] = {
      {"{window}", wording.window},          {"{example}", wording.device_example},
      {"{unbound}", wording.unbound_device}, {"{log}", wording.default_log},
      {"{config}", wording.default_config},
  };
  std::string text(pattern);
  for (const auto& [mark, word] : words) {
    for (std::size_t at = text.find(mark); at != std::string::npos;
         at = text.find(mark, at + word.size())) {
      text.replace(at, mark.size(), word);
    }
  }
  return text;
}

Parser::Parser(CommandLine& command, const HelpWording& wording, const ParseSettings& settings)
    : wording_(wording),
      app_(FillIn(kOverview, wording), std::string(kProgram)),
      access_code_variable_(settings.access_code_variable) {
  auto formatter = std::make_shared<HelpFormatter>();
  formatter->label("Subcommands", std::string(kSubcommandsHeading));
  app_.formatter(formatter);
  app_.set_help_flag("-h,--help", "show this text and exit");
  Flag(app_.add_flag("--version", version_, "show the version and exit"));
  CLI::Option* com = com_ =
      app_.add_option("--com", bindings_,
                      "bind ComN to DEVICE for the menu, as TORVANDRIX_COM<N> does (repeatable)")
          ->type_name("N=DEVICE");
  com->check(Recorded(CLI::Validator(
                          [](const std::string& text) -> std::string {
                            std::pair<int, std::string> binding;
                            return ParseComBinding(text, binding) ? "" : "not N=DEVICE";
                          },
                          ""),
                      com));
  Takes(com, FillIn("N=DEVICE with N from 1 to 9, e.g. 1={example}", wording));
  log_ = AddLog(&app_, command, "append the upload log to FILE instead of the place below");
  Takes(NotEmpty(app_.add_option("--session-log", command.session_log,
                                 "append every byte to and from the radio on the Radio Setup "
                                 "Screen (and of setup without its own) to FILE, line by line")
                     ->type_name("FILE")),
        "a file name");
  AddAccessCode(&app_);
  AddImage(&app_);
  AddConfigFile(settings);
  app_.require_subcommand(0, 1);

  direct_ = app_.add_subcommand("direct", "The direct upload into a radio wired to the port.");
  direct_->footer(std::string(kDirectFooter));
  AddPort(direct_, command, true);
  Flag(direct_->add_flag("--data-port", command.data_port,
                         "the radio is wired by its data port, not its diagnostic port"));
  Flag(direct_->add_flag("--high-speed", command.high_speed, "load at high speed, 115200 bit/s"));
  Number(direct_
             ->add_option("--retries", command.retries,
                          "retries of a word at a prompt that offers one; then the upload stops")
             ->type_name("N")
             ->capture_default_str(),
         "a number", 0, 1000000);
  AddTimeout(direct_, command,
             "when the radio has not answered a wait this long: mid-transfer the word is sent "
             "again (a retry, counted by --retries), elsewhere the upload stops; 0: wait for "
             "ever");
  AddLog(direct_, command, "append the outcome to FILE instead of the upload log");
  AddOutput(direct_, command);
  AddAccessCode(direct_);
  AddImage(direct_);

  rf_ = app_.add_subcommand(
      "rf", "The RF upload through the local radio on the port to the radios of its network.");
  rf_->footer(std::string(kRfFooter));
  AddPort(rf_, command);
  Number(rf_->add_option("--copies", command.copies, "intact copies of every frame")
             ->type_name("N")
             ->required(),
         "a number", 1, 9);
  // Held to the last record of the image once it is read (TakeImage).
  start_ = rf_->add_option("--start", command.start,
                           "the first record to send; 0 also sends the header frame")
               ->type_name("S")
               ->capture_default_str();
  Number(start_, "a record", 0, image::kMaxRecordCount - 1);
  const std::string built_in_last =
      std::to_string(image::WalkRecordCount(image::FirmwareImage()) - 1);
  start_->get_validator(0)->description("0 to the image's last record, " + built_in_last +
                                        " for the one built in");
  Number(rf_->add_option("--passes", command.passes,
                         "how many times the image is sent, six seconds apart")
             ->type_name("R")
             ->capture_default_str(),
         "a number", 1, 32767);
  AddTimeout(rf_, command,
             "when the local radio has been silent this long, press Enter as an operator "
             "would, which ends the run; 0: wait for ever");
  AddLog(rf_, command, "append the outcome to FILE instead of the upload log");
  AddOutput(rf_, command);
  AddImage(rf_);

  ports_ = app_.add_subcommand(
      "ports",
      "The serial devices of this machine, one a line under a header: the device, the ComN "
      "that binds it, its stable name, the USB vendor:product, serial number, whether another "
      "program holds it now, and what it says it is; \"-\" where that is not known. Ports "
      "on serial servers (rfc2217://HOST:PORT) are not listed: none can be known from here.");
  Flag(ports_->add_flag("--json", command.json,
                        "print the same as one JSON array of objects, one a device, instead"));
  AddImageCommand(command);
  setup_ = AddSetupCommand(app_, setup_raw_, command);
  // Last: a sub-command takes its parent's footer when it is made.
  app_.footer(FillIn(kFooter, wording));
}

Parser::~Parser() {
  SecureWipe(access_code_text_);
  SecureWipe(access_code_variable_);
  for (const CLI::Option* option : access_code_options_) {
    // The strings are CLI11's own, not const; only its accessor is.
    for (const std::string& given : option->results()) SecureWipe(const_cast<std::string&>(given));
  }
}

void Parser::AddPort(CLI::App* sub, CommandLine& command, bool repeatable) {
  const std::string description = FillIn(
      "the serial device, e.g. {example}, Com1 to Com9 (any case) as the menu binds them, "
      "or a serial server's port rfc2217://HOST:PORT",
      wording_);
  CLI::Option* port = repeatable
                          ? sub->add_option("--port", command.ports,
                                            description +
                                                "; given more than once, one upload per port, all "
                                                "at the same time")
                                ->expected(1)
                                ->allow_extra_args(false)
                                ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                          : sub->add_option("--port", command.port, description);
  Takes(NotEmpty(port->type_name("DEVICE")->default_str(
            "Com1 when TORVANDRIX_COM1 binds it, else the one USB serial adapter")),
        FillIn("a device, e.g. {example}, or Com1 to Com9", wording_));
}

void Parser::AddTimeout(CLI::App* sub, CommandLine& command, std::string_view description) {
  Number(sub->add_option("--timeout", command.timeout_seconds, std::string(description))
             ->type_name("SECONDS")
             ->capture_default_str(),
         "seconds", 0, 86400, true, " (0: wait for ever)");
}

CLI::Option* Parser::AddLog(CLI::App* sub, CommandLine& command, std::string_view description) {
  return Takes(
      NotEmpty(sub->add_option("--log", command.log, std::string(description))->type_name("FILE")),
      "a file name");
}

void Parser::AddOutput(CLI::App* sub, CommandLine& command) {
  Flag(sub->add_flag("--quiet", command.quiet,
                     "print no progress and no notes; errors and the outcome line stay"));
  Flag(sub->add_flag("--json", command.json,
                     "print the outcome record, the JSON object of the upload log's line, instead "
                     "of the outcome line: standard output then holds that and nothing else"));
}

// The program's own option, and direct's (after the sub-command); the value is checked once
// the place that wins is known (TakeAccessCode), and never echoed.
void Parser::AddAccessCode(CLI::App* app) {
  access_code_options_.push_back(
      Takes(app->add_option("--access-code", access_code_text_,
                            "the radio's access code instead of the one built in: " +
                                std::string(kAccessCodeForm) + "; it is never shown")
                ->type_name("CODE"),
            std::string(kAccessCodeForm)));
}

// The program's own --image (the menu's), and direct's and rf's; read once the place that wins
// is known (TakeImage).
void Parser::AddImage(CLI::App* app) {
  image_options_.push_back(
      Takes(NotEmpty(app->add_option("--image",
                                     "load the stored-form image in FILE instead of the one "
                                     "built in; it is read and checked before any port opens")
                         ->type_name("FILE")),
            "a file name"));
}

void Parser::AddImageCommand(CommandLine& command) {
  image_ = app_.add_subcommand(
      "image",
      "What a stored-form image holds (the built-in one without FILE): records, runs of "
      "contiguous records, data bytes, the words and pair checksum of a direct upload, the RF "
      "header frame and the SHA-256 of the stored form.");
  image_file_ =
      Takes(NotEmpty(image_->add_option("FILE", "the image to show; none: the one built in")),
            "a file name");
  Takes(NotEmpty(image_
                     ->add_option("--export", command.export_path,
                                  "write the built-in image in the stored form to FILE instead")
                     ->type_name("FILE")),
        "a file name");
  Flag(image_->add_flag("--json", command.json, "print the same as one JSON object instead"));
}

std::string Parser::CheckGivenTwice() const {
  for (const CLI::App* sub : app_.get_subcommands({})) {
    for (const CLI::Option* option : sub->get_options()) {
      const CLI::Option* top = OptionNamed(&app_, option->get_name());
      if (top != nullptr && OnCommandLine(top) && OnCommandLine(option)) {
        return option->get_name() + " is given more than once";
      }
    }
  }
  std::array<bool, 9> bound{};
  for (const std::string& text : bindings_) {
    if (std::exchange(bound[text[0] - '1'], true)) {  // N=DEVICE, checked while parsing
      const std::string place = OnCommandLine(com_) ? std::string("--com") : InFile() + ": com";
      return place + " binds Com" + text[0] + " twice";
    }
  }
  return {};
}

const CLI::App* Parser::OwnerOf(const CLI::Option* option) const {
  for (const CLI::App* sub : app_.get_subcommands({})) {
    for (const CLI::Option* own : sub->get_options()) {
      if (own == option) return sub;
    }
  }
  return &app_;
}

const CLI::App* Parser::Scope() const {
  const std::vector<CLI::App*> chosen = app_.get_subcommands();
  return chosen.empty() ? &app_ : chosen.front();
}

const CLI::Option* Parser::OptionNamed(const CLI::App* app, std::string_view name) const {
  for (const CLI::Option* option : app->get_options()) {
    if (option->nonpositional() && option->check_name(std::string(name))) return option;
  }
  return nullptr;
}

std::string Parser::ExplainExtra(const CLI::App* scope, const CLI::App*& help_scope) const {
  // The first argument left over, and the app it was left to: the sub-command's own, or
  // the program's (before the sub-command, or a second sub-command after it).
  const CLI::App* holder = scope;
  std::vector<std::string> extras = scope->remaining(false);
  if (extras.empty()) {
    holder = &app_;
    extras = app_.remaining(false);
  }
  if (extras.empty()) return "the command line cannot be read";
  const std::string& extra = extras.front();
  if (extra.size() > 1 && extra[0] == '-') {
    return ExplainUnknownOption(holder, std::string_view(extra).substr(0, extra.find('=')));
  }
  const std::string quoted = "\"" + PrintableText(extra) + "\"";
  if (scope != &app_) {
    for (const CLI::App* sub : app_.get_subcommands({})) {
      if (sub->check_name(extra)) {
        return "one sub-command at a time, not " + quoted + " after " + scope->get_name();
      }
    }
  }
  if (holder != &app_) {
    const bool only_help = holder->get_options().size() == 1;
    return holder->get_name() + (only_help ? " takes no arguments" : " takes options only") +
           ", not " + quoted;
  }
  help_scope = &app_;  // not a sub-command's fault
  return "unknown sub-command " + quoted + ": the sub-commands are direct, rf, image and ports";
}

// `holder` is the app the option was given to.
std::string Parser::ExplainUnknownOption(const CLI::App* holder, std::string_view name) const {
  const std::string shown = PrintableText(name);
  if (name == "--com" && holder != &app_) {
    return "--com is for the menu; a sub-command takes --port DEVICE";
  }
  if (name == "--log" && holder == ports_) return "ports writes no log";
  std::vector<std::string> owners;
  for (const CLI::App* sub : app_.get_subcommands({})) {
    if (OptionNamed(sub, name) != nullptr) owners.push_back(sub->get_name());
  }
  if (holder == &app_) {
    if (owners.empty()) return shown + " is not an option";
    return shown + " is an option of " + Enumerate(owners) + ": give it after the sub-command";
  }
  if (OptionNamed(&app_, name) != nullptr)
    owners.insert(owners.begin(), "the program without a sub-command");
  if (owners.empty()) return shown + " is not an option of " + holder->get_name();
  return shown + " is an option of " + Enumerate(owners) + ", not of " + holder->get_name();
}

}  // namespace tvx::app
