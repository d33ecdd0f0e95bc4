#include "app/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <string_view>
#include <utility>

#include "app/access_code_text.h"
#include "app/config_file.h"
#include "app/help_formatter.h"
#include "app/printable_text.h"
#include "image/firmware_image.h"
#include "image/image_check.h"

namespace tvx::app {
namespace {

#ifndef TVX_VERSION
#define TVX_VERSION "unknown"
#endif

constexpr std::string_view kProgram = "torvandrix-upload";

// The program's own help around its generated parts, with the platform's words put in for
// {window}, {example}, {unbound} and {log}; one line a paragraph, wrapped when printed.
constexpr std::string_view kOverview =
    "Loads firmware into a Torvandrix 900 MHz radio over a serial port, directly or over RF "
    "through a local radio, and opens the radio's set-up terminal. Without a sub-command it "
    "runs full screen in a {window} of at least 80 x 51 characters; choose from the menu with "
    "1 to 4, leave with Esc.\n"
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

// "A, B and C".
std::string Enumerate(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
    text += items[i];
  }
  return text;
}

// The first value a check refused, kept so that the usage error can quote it: CLI11's errors
// name the option and the value only inside their own English text.
struct Refusal {
  const CLI::Option* option = nullptr;
  std::string value;
};

// The command line's options and sub-commands, the words each option's usage error uses for
// what it takes, and the explanation of a parse error in those words.
class Parser {
 public:
  Parser(CommandLine& command, const HelpWording& wording, const ParseSettings& settings);
  /// Wipes every copy of an access code's text it holds, CLI11's included.
  ~Parser();
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  CLI::App& App() { return app_; }
  CLI::App* Direct() { return direct_; }
  CLI::App* Rf() { return rf_; }
  CLI::App* Ports() { return ports_; }
  CLI::App* Image() { return image_; }
  const std::vector<std::string>& Bindings() const { return bindings_; }
  bool Version() const { return version_; }
  /// Whether the command line (not the file) gave `option`.
  bool OnCommandLine(const CLI::Option* option) const { return origins_.OnCommandLine(option); }
  const CLI::Option* Com() const { return com_; }
  const CLI::Option* Log() const { return log_; }
  /// The configuration file that was read, or was to be; empty when none.
  std::string ConfigFile() const;
  /// An option given on the command line both before the sub-command and after it (--log,
  /// --access-code), or one ComN bound twice; a reason, or nothing.
  std::string CheckGivenTwice() const;
  /// Decides the access code (the option, the variable, the file, the built-in one); a reason
  /// when the one that wins is not an access code.
  std::string TakeAccessCode(CommandLine& command, const CLI::App*& help_scope) const;
  /// Reads and checks the image the form loads (--image, the file's key, image's FILE) and holds
  /// rf's --start to it; a reason when either is wrong.
  std::string TakeImage(CommandLine& command, const CLI::App*& help_scope) const;
  /// Without the default file's place, which would otherwise show in the help.
  void ForgetDefaultFile() { config_->default_str(""); }

  /// Whether `error` is the configuration file's: it cannot be read, or its form or a key is
  /// wrong.
  bool FileFailed(const CLI::ParseError& error) const {
    return !unread_.empty() || dynamic_cast<const CLI::ConfigError*>(&error) != nullptr ||
           dynamic_cast<const CLI::FileError*>(&error) != nullptr;
  }
  /// The sub-command the arguments chose (parsed or begun), else the program itself.
  const CLI::App* Scope() const;
  /// Why CLI11 refused the arguments, in one line without the program's name; sets
  /// `help_scope` to the app whose help tells the right form.
  std::string Explain(const CLI::ParseError& error, const CLI::App*& help_scope) const;

 private:
  CLI::Option* Takes(CLI::Option* option, std::string takes);
  // Refuses an empty value, as for --port "" (a device must be named).
  CLI::Option* NotEmpty(CLI::Option* option);
  // Decimal digits only (with one point if `fraction`), from `min` to `max`; the usage error
  // says the option takes "`what` from `min` to `max``note`".
  CLI::Option* Number(CLI::Option* option, std::string_view what, std::int32_t min,
                      std::int32_t max, bool fraction = false, std::string_view note = "");
  CLI::Validator Recorded(CLI::Validator check, const CLI::Option* option);
  /// --port; `repeatable` (direct): every occurrence adds one more port.
  void AddPort(CLI::App* sub, CommandLine& command, bool repeatable = false);
  void AddTimeout(CLI::App* sub, CommandLine& command, std::string_view description);
  CLI::Option* AddLog(CLI::App* sub, CommandLine& command, std::string_view description);
  void AddOutput(CLI::App* sub, CommandLine& command);
  void AddAccessCode(CLI::App* app);
  void AddImage(CLI::App* app);
  void AddImageCommand(CommandLine& command);
  void AddConfigFile(const ParseSettings& settings);
  void SiftFileItems(std::vector<CLI::ConfigItem>& items);

  std::string TakesText(const CLI::Option* option) const;
  const CLI::Option* OptionNamed(const CLI::App* app, std::string_view name) const;
  std::string ReadFile(const std::string& path);
  std::string ExplainMismatch(const std::string& what) const;
  std::string ExplainExtra(const CLI::App* scope, const CLI::App*& help_scope) const;
  std::string ExplainUnknownOption(const CLI::App* holder, std::string_view name) const;
  std::string ExplainFileError(const CLI::ParseError& error, const CLI::App*& help_scope) const;
  const CLI::App* OwnerOf(const CLI::Option* option) const;
  std::string InFile() const;

  const HelpWording& wording_;
  CLI::App app_;
  CLI::App* direct_ = nullptr;
  CLI::App* rf_ = nullptr;
  CLI::App* ports_ = nullptr;
  CLI::App* image_ = nullptr;
  std::vector<const CLI::Option*> image_options_;
  CLI::Option* image_file_ = nullptr;  ///< image's FILE
  CLI::Option* start_ = nullptr;
  std::vector<std::string> bindings_;
  bool version_ = false;
  std::string access_code_variable_;
  CLI::Option* com_ = nullptr;
  CLI::Option* log_ = nullptr;
  CLI::Option* config_ = nullptr;
  std::string default_config_;
  std::function<std::string(const std::string&, std::string&, bool&)> read_file_;
  std::string read_path_;  // the configuration file read (or tried), and why it was not
  std::string unread_;
  std::string access_code_text_;
  std::vector<const CLI::Option*> access_code_options_;
  std::shared_ptr<ConfigFileReader> reader_ = std::make_shared<ConfigFileReader>();
  SettingOrigins origins_;
  std::map<const CLI::Option*, std::string> takes_;
  // Written by the checks, which hold a share of it, and read by Explain.
  std::shared_ptr<Refusal> refusal_ = std::make_shared<Refusal>();
};

Parser::Parser(CommandLine& command, const HelpWording& wording, const ParseSettings& settings)
    : wording_(wording),
      app_(FillIn(kOverview, wording), std::string(kProgram)),
      access_code_variable_(settings.access_code_variable) {
  auto formatter = std::make_shared<HelpFormatter>();
  formatter->label("Subcommands", std::string(kSubcommandsHeading));
  app_.formatter(formatter);
  app_.set_help_flag("-h,--help", "show this text and exit");
  app_.add_flag("--version", version_, "show the version and exit");
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
                                 "Screen to FILE, one line of text at a time")
                     ->type_name("FILE")),
        "a file name");
  AddAccessCode(&app_);
  AddImage(&app_);
  AddConfigFile(settings);
  app_.require_subcommand(0, 1);

  direct_ = app_.add_subcommand("direct", "The direct upload into a radio wired to the port.");
  direct_->footer(std::string(kDirectFooter));
  AddPort(direct_, command, true);
  direct_->add_flag("--data-port", command.data_port,
                    "the radio is wired by its data port, not its diagnostic port");
  direct_->add_flag("--high-speed", command.high_speed, "load at high speed, 115200 bit/s");
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
      "program holds it now, and what it says it is; \"-\" where that is not known.");
  ports_->add_flag("--json", command.json,
                   "print the same as one JSON array of objects, one a device, instead");
  AddImageCommand(command);
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

CLI::Option* Parser::Takes(CLI::Option* option, std::string takes) {
  takes_[option] = std::move(takes);
  return option;
}

CLI::Validator Parser::Recorded(CLI::Validator check, const CLI::Option* option) {
  const std::string description = check.get_description();
  return CLI::Validator(
      [check = std::move(check), option, refusal = refusal_](std::string& value) {
        const std::string given = value;
        std::string error = check(value);
        if (!error.empty() && refusal->option == nullptr) *refusal = {option, given};
        return error;
      },
      description);
}

CLI::Option* Parser::NotEmpty(CLI::Option* option) {
  return option->check(Recorded(
      CLI::Validator([](const std::string& text) { return text.empty() ? "empty" : ""; }, ""),
      option));
}

CLI::Option* Parser::Number(CLI::Option* option, std::string_view what, std::int32_t min,
                            std::int32_t max, bool fraction, std::string_view note) {
  Takes(option, std::string(what) + " from " + std::to_string(min) + " to " + std::to_string(max) +
                    std::string(note));
  const CLI::Validator range =
      fraction ? CLI::Range(double{1.0} * min, double{1.0} * max) : CLI::Range(min, max);
  // Decimal digits only: no sign, exponent, "0x" or blank, which CLI11's conversion would
  // take. Leading zeros go, so that "010" is ten, not C's octal eight.
  CLI::Validator decimal(
      [fraction, range](std::string& text) -> std::string {
        const std::size_t point = fraction ? text.find('.') : std::string::npos;
        std::string digits = text;
        if (point != std::string::npos) digits.erase(point, 1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
          return "not a decimal number";
        }
        const std::size_t whole = point == std::string::npos ? text.size() : point;
        const std::size_t zeros = std::min(text.find_first_not_of('0'), whole);
        std::string plain = text.substr(zeros == whole && whole > 0 ? whole - 1 : zeros);
        std::string error = range(plain);
        if (error.empty()) text = std::move(plain);
        return error;
      },
      std::to_string(min) + " to " + std::to_string(max));
  // A transform may change the text (checks run on a copy).
  return option->transform(Recorded(decimal, option));
}

void Parser::AddPort(CLI::App* sub, CommandLine& command, bool repeatable) {
  const std::string description =
      FillIn("the serial device, e.g. {example}, or Com1 to Com9 (any case) as the menu binds them",
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
  sub->add_flag("--quiet", command.quiet,
                "print no progress and no notes; errors and the outcome line stay");
  sub->add_flag("--json", command.json,
                "print the outcome record, the JSON object of the upload log's line, instead "
                "of the outcome line: standard output then holds that and nothing else");
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
  image_->add_flag("--json", command.json, "print the same as one JSON object instead");
}

std::string Parser::TakeImage(CommandLine& command, const CLI::App*& help_scope) const {
  help_scope = Scope();
  const CLI::Option* given = nullptr;
  if (command.action == CommandAction::kImage) {
    if (image_file_->count() > 0 && !command.export_path.empty()) {
      return "image --export writes the built-in image: give no FILE with it";
    }
    if (image_file_->count() > 0) given = image_file_;
  } else {
    for (const CLI::Option* option : image_options_) {
      if (option->count() > 0 && (given == nullptr || OnCommandLine(option))) given = option;
    }
  }
  if (given != nullptr) {
    std::string error;
    command.image = LoadChosenImage(given->results().back(), error);
    if (!command.image) {
      if (OnCommandLine(given)) return error;
      help_scope = &app_;
      return InFile() + ": " + ConfigKey(*OwnerOf(given), *given) + ": " + error;
    }
  }
  if (command.action != CommandAction::kRf) return {};
  const ChosenImage& chosen = command.image ? *command.image : BuiltInImage();
  const std::int32_t last = image::WalkRecordCount(chosen.Bytes()) - 1;
  if (command.start <= last) return {};
  const std::string place =
      OnCommandLine(start_) ? start_->get_name() : InFile() + ": " + ConfigKey(*rf_, *start_);
  return place + " takes a record from 0 to " + std::to_string(last) + ", not \"" +
         std::to_string(command.start) + "\"";
}

// CLI11 reads the file after the arguments, for the options they left unset, and refuses a
// key that names no option.
void Parser::AddConfigFile(const ParseSettings& settings) {
  default_config_ = settings.config_file;
  config_ = app_.set_config("--config", default_config_,
                            "read the settings from FILE instead of the place below")
                ->type_name("FILE");
  Takes(NotEmpty(config_), "a file name");
  // CLI11 asks for the file's name (the default one too) before it opens the file: the file is
  // read then, by the platform, which never waits on what is no regular file.
  read_file_ = settings.read_file;
  config_->check(CLI::Validator([this](std::string& path) { return ReadFile(path); }, ""));
  reader_->before_items = [this](std::vector<CLI::ConfigItem>& items) { SiftFileItems(items); };
  app_.config_formatter(reader_);
  app_.allow_config_extras(CLI::config_extras_mode::error);
}

// Notes what the command line gave, then leaves out the sections of the sub-commands that do not
// run (so that "[rf] timeout" never sets the timeout of direct, the two sharing one value),
// once their keys are known to be options.
void Parser::SiftFileItems(std::vector<CLI::ConfigItem>& items) {
  origins_.TakeCommandLine(app_);
  const CLI::App* running = Scope();
  std::erase_if(items, [&](const CLI::ConfigItem& item) {
    if (item.parents.empty() || item.parents.front() == running->get_name()) return false;
    const CLI::App* section = nullptr;
    for (const CLI::App* sub : app_.get_subcommands({})) {
      if (sub->get_name() == item.parents.front()) section = sub;
    }
    const bool marker = item.name == "++" || item.name == "--";  // a section's start and end
    if (section == nullptr) return marker;                       // CLI11 refuses the keys under it
    const bool known =
        marker || (item.parents.size() == 1 && OptionNamed(section, "--" + item.name) != nullptr);
    if (!known) throw CLI::ConfigError::Extras(item.fullname());
    return true;
  });
}

std::string Parser::ReadFile(const std::string& path) {
  if (path != read_path_) {  // CLI11 asks more than once
    read_path_ = path;
    bool absent = !read_file_;
    unread_ = read_file_ ? read_file_(path, reader_->text, absent) : "no file is read here";
    // A default file need not be there; a file in a folder that cannot be searched may be.
    if (absent && config_->count() == 0) unread_.clear();
  }
  return unread_.empty() ? "" : "cannot be read";
}

std::string Parser::ConfigFile() const {
  const std::vector<std::string>& given = config_->results();
  return given.empty() ? default_config_ : given.back();
}

// "in the configuration file FILE".
std::string Parser::InFile() const {
  return "the configuration file " + PrintableText(ConfigFile());
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

std::string Parser::TakeAccessCode(CommandLine& command, const CLI::App*& help_scope) const {
  const CLI::Option* given = nullptr;
  bool on_line = false;
  for (const CLI::Option* option : access_code_options_) {
    if (option->count() == 0) continue;
    if (given == nullptr || OnCommandLine(option)) given = option;
    on_line = on_line || OnCommandLine(option);
  }
  std::string text = access_code_text_;
  std::string place;
  help_scope = &app_;
  if (on_line) {
    place = "--access-code";
    help_scope = Scope();
  } else if (!access_code_variable_.empty()) {
    text = access_code_variable_;
    place = "TORVANDRIX_ACCESS_CODE";
  } else if (given != nullptr) {
    place = InFile() + ": " + ConfigKey(*OwnerOf(given), *given);
  } else {
    return {};  // the code built in
  }
  command.access_code = ReadAccessCode(text);
  SecureWipe(text);
  if (command.access_code) return {};
  return place + " takes " + std::string(kAccessCodeForm);
}

const CLI::App* Parser::OwnerOf(const CLI::Option* option) const {
  for (const CLI::App* sub : app_.get_subcommands({})) {
    for (const CLI::Option* own : sub->get_options()) {
      if (own == option) return sub;
    }
  }
  return &app_;
}

// A file that cannot be read, or a key in it that is no option (or not one for a file).
std::string Parser::ExplainFileError(const CLI::ParseError& error,
                                     const CLI::App*& help_scope) const {
  help_scope = &app_;
  if (!unread_.empty()) return InFile() + " cannot be read: " + unread_;
  if (dynamic_cast<const ConfigFormError*>(&error) != nullptr) return InFile() + error.what();
  const auto* config = dynamic_cast<const CLI::ConfigError*>(&error);
  if (config == nullptr) return InFile() + " cannot be read";
  const ConfigKeyError bad = ReadConfigError(*config);
  const std::string quoted = "\"" + PrintableText(bad.key) + "\"";
  if (!bad.unknown) return InFile() + " cannot set " + quoted;
  std::string text = InFile() + " holds an unknown key, " + quoted;
  std::vector<std::string> owners;
  for (const CLI::App* sub : app_.get_subcommands({})) {
    if (OptionNamed(sub, "--" + bad.key) != nullptr) owners.push_back("[" + sub->get_name() + "]");
  }
  if (!owners.empty()) text += ": an option of a sub-command goes under " + Enumerate(owners);
  return text;
}

const CLI::App* Parser::Scope() const {
  const std::vector<CLI::App*> chosen = app_.get_subcommands();
  return chosen.empty() ? &app_ : chosen.front();
}

std::string Parser::TakesText(const CLI::Option* option) const {
  const auto found = takes_.find(option);
  return found == takes_.end() ? "a value" : found->second;
}

const CLI::Option* Parser::OptionNamed(const CLI::App* app, std::string_view name) const {
  for (const CLI::Option* option : app->get_options()) {
    if (option->nonpositional() && option->check_name(std::string(name))) return option;
  }
  return nullptr;
}

std::string Parser::Explain(const CLI::ParseError& error, const CLI::App*& help_scope) const {
  const CLI::App* scope = Scope();
  help_scope = scope;
  if (const CLI::Option* option = refusal_->option; option != nullptr) {
    // A value the command line did not give came from the file.
    const std::string place = OnCommandLine(option)
                                  ? option->get_name()
                                  : InFile() + ": " + ConfigKey(*OwnerOf(option), *option);
    return place + " takes " + TakesText(option) + ", not \"" + PrintableText(refusal_->value) +
           "\"";
  }
  if (FileFailed(error)) return ExplainFileError(error, help_scope);
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    for (const CLI::Option* option : scope->get_options()) {
      if (option->get_required() && option->count() == 0) {
        return scope->get_name() + " needs " + option->get_name() + ": " + TakesText(option);
      }
    }
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr ||
      dynamic_cast<const CLI::ConversionError*>(&error) != nullptr) {
    if (std::string text = ExplainMismatch(error.what()); !text.empty()) return text;
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    return ExplainExtra(scope, help_scope);
  }
  return "the command line cannot be read";
}

// CLI11 names the option in its text: "--timeout: 1 required SECONDS missing", "--retries: At
// Most 1 required but received 2", "Could not convert: --quiet = maybe". The name may be the
// sub-command's option or the program's (--log, --access-code): the one that holds values is
// meant.
std::string Parser::ExplainMismatch(const std::string& what) const {
  const CLI::Option* named = nullptr;
  for (const CLI::App* app : {Scope(), static_cast<const CLI::App*>(&app_)}) {
    for (const CLI::Option* option : app->get_options()) {
      const std::string name = option->get_name();
      const std::size_t at = name.empty() ? std::string::npos : what.find(name);
      const std::size_t after = at + name.size();
      if (at == std::string::npos || (at > 0 && what[at - 1] != ' ') ||
          (after < what.size() && what[after] != ':' && what[after] != ' ')) {
        continue;
      }
      if (named == nullptr || (named->count() == 0 && option->count() > 0)) named = option;
    }
  }
  if (named == nullptr) return {};
  const std::string name = named->get_name();
  if (origins_.FileRead() && !OnCommandLine(named)) {  // the file's key
    const std::string key = InFile() + ": " + ConfigKey(*OwnerOf(named), *named);
    if (named->get_expected_max() == 0) return key + " takes true or false";
    return key + " takes " + TakesText(named) + (named->count() > 1 ? ", one only" : "");
  }
  if (named->get_expected_max() == 0) return name + " takes no value";
  if (named->count() > 1) return name + " is given more than once";
  return name + " takes " + TakesText(named) + ", and none was given";
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

CommandLine Print(CommandAction action, std::string text) {
  CommandLine command;
  command.action = action;
  command.text = std::move(text);
  return command;
}

// The reason, then where the right form is told: the help of the sub-command it belongs to.
CommandLine UsageError(const std::string& reason, const CLI::App* scope, const CLI::App* top) {
  const std::string help =
      scope == top ? std::string(kProgram) : std::string(kProgram) + " " + scope->get_name();
  return Print(CommandAction::kUsageError,
               std::string(kProgram) + ": " + reason + "\nsee '" + help + " --help'\n");
}

}  // namespace

bool ParseComBinding(std::string_view text, std::pair<int, std::string>& binding) {
  if (text.size() < 3 || text[0] < '1' || text[0] > '9' || text[1] != '=') return false;
  binding = {text[0] - '0', std::string(text.substr(2))};
  return true;
}

CommandLine ParseCommandLine(int argc, const char* const* argv, const HelpWording& wording,
                             const ParseSettings& settings) {
  CommandLine command;
  Parser parser(command, wording, settings);
  CLI::App& app = parser.App();
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    parser.ForgetDefaultFile();
    return Print(CommandAction::kHelp, app.help());
  } catch (const CLI::ParseError& e) {
    // The file is read before the help is given: a bad one must not hide the help it points to.
    if (parser.Scope()->get_help_ptr()->count() > 0 && parser.FileFailed(e)) {
      parser.ForgetDefaultFile();
      return Print(CommandAction::kHelp, app.help());
    }
    const CLI::App* help_scope = &app;
    const std::string reason = parser.Explain(e, help_scope);
    return UsageError(reason, help_scope, &app);
  }
  if (const std::string twice = parser.CheckGivenTwice(); !twice.empty()) {
    return UsageError(twice, parser.Scope(), &app);
  }
  if (parser.Version())
    return Print(CommandAction::kVersion, "torvandrix-upload " TVX_VERSION "\n");

  if (parser.Direct()->parsed()) {
    command.action = CommandAction::kDirect;
    if (!command.ports.empty()) command.port = command.ports.front();
  } else if (parser.Rf()->parsed()) {
    command.action = CommandAction::kRf;
  } else if (parser.Ports()->parsed()) {
    command.action = CommandAction::kPorts;
  } else if (parser.Image()->parsed()) {
    command.action = CommandAction::kImage;
  }
  // Only the forms that send the access code read it (and refuse a wrong one).
  const CLI::App* code_scope = &app;
  if (command.action == CommandAction::kMenu || command.action == CommandAction::kDirect) {
    if (const std::string bad = parser.TakeAccessCode(command, code_scope); !bad.empty()) {
      return UsageError(bad, code_scope, &app);
    }
  }
  // The file's bindings serve every form: a sub-command's "--port ComN" too.
  if (command.action != CommandAction::kMenu && parser.OnCommandLine(parser.Com())) {
    return UsageError("--com is for the menu; a sub-command takes --port DEVICE", parser.Scope(),
                      &app);
  }
  if (command.action == CommandAction::kPorts && parser.OnCommandLine(parser.Log())) {
    return UsageError("ports writes no log", parser.Scope(), &app);
  }
  if (command.action != CommandAction::kPorts) {
    const CLI::App* image_scope = &app;
    if (const std::string bad = parser.TakeImage(command, image_scope); !bad.empty()) {
      return UsageError(bad, image_scope, &app);
    }
  }
  for (const std::string& text : parser.Bindings()) {
    ParseComBinding(text, command.com_bindings.emplace_back());  // checked while parsing
  }
  return command;
}

}  // namespace tvx::app
