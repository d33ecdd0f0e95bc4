#include "app/setup_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <map>

#include "app/command_line.h"
#include "app/printable_text.h"

namespace tvx::app {
namespace {

// The rates of the settings screen.
constexpr std::array<std::uint32_t, 6> kBaudRates = {4800, 9600, 19200, 38400, 57600, 115200};
constexpr double kMaxTimeoutSeconds = 86400;

// Decimal digits with at most one point; false for anything else (signs, exponents, blanks).
bool ParseSeconds(const std::string& text, double& seconds) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
      std::count(text.begin(), text.end(), '.') > 1 || text == ".") {
    return false;
  }
  seconds = std::stod(text);
  return seconds <= kMaxTimeoutSeconds;
}

}  // namespace

CLI::App* AddSetupCommand(CLI::App& app, SetupArguments& raw, CommandLine& command) {
  CLI::App* setup = app.add_subcommand(
      "setup",
      "The radio's own set-up interface: a plain terminal in a window of any size, or with "
      "--send/--expect/--script a script run against every --port at once.");
  setup
      ->add_option("--port", raw.ports,
                   "the serial device, or Com1 to Com9; given more than once (scripted), the "
                   "same steps run against every radio at the same time")
      ->type_name("DEVICE")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  setup
      ->add_option("--baud", raw.baud,
                   "the line rate: 4800, 9600, 19200 (default), 38400, "
                   "57600 or 115200 bit/s")
      ->type_name("N");
  const auto step = [&](const char* name, std::vector<std::string>& into, const char* text) {
    setup->add_option(name, into, text)
        ->type_name(name[2] == 'e' ? "PATTERN" : "TEXT")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  };
  step("--send", raw.send,
       "send TEXT as typed keys (escapes \\r \\n \\t \\\\ \\xNN); steps run in the order given");
  step("--send-secret", raw.send_secret,
       "the same, but TEXT is never shown, echoed or recorded (its echo shows as <secret>)");
  step("--expect", raw.expect,
       "wait for the regular expression PATTERN in what the radio sent since the previous "
       "match; named groups (?<name>...) are captured");
  setup
      ->add_option("--script", raw.script,
                   "read the steps from FILE, one a line: send TEXT, send-secret TEXT, expect "
                   "PATTERN, wait MS, # comment")
      ->type_name("FILE");
  setup
      ->add_option("--timeout", raw.timeout,
                   "how long an expect waits, in seconds (default 10); 0: for ever")
      ->type_name("SECONDS");
  setup
      ->add_option("--session-log", raw.session_log,
                   "append every byte both ways to FILE, one timestamped line per line")
      ->type_name("FILE");
  setup->add_option("--log", command.log, "append the outcome to FILE instead of the upload log")
      ->type_name("FILE");
  setup->add_flag("--quiet", command.quiet, "do not copy the radio's text to standard output");
  setup->add_flag("--json", command.json,
                  "print the outcome record (the upload log's line) instead of the outcome line");
  return setup;
}

std::string FinishSetupCommand(const CLI::App& setup, const SetupArguments& raw,
                               CommandLine& command) {
  for (const std::string& port : raw.ports) {
    if (port.empty()) return "--port takes a device, not an empty text";
  }
  command.ports = raw.ports;
  if (!raw.ports.empty()) command.port = raw.ports.front();
  SetupOptions& options = command.setup;
  if (!raw.baud.empty()) {
    const auto rate = std::find_if(kBaudRates.begin(), kBaudRates.end(),
                                   [&](std::uint32_t r) { return std::to_string(r) == raw.baud; });
    if (rate == kBaudRates.end()) {
      return "--baud takes 4800, 9600, 19200, 38400, 57600 or 115200, not \"" +
             PrintableText(raw.baud) + "\"";
    }
    options.baud = *rate;
  }
  if (!raw.timeout.empty() && !ParseSeconds(raw.timeout, command.timeout_seconds)) {
    return "--timeout takes seconds from 0 to 86400 (0: wait for ever), not \"" +
           PrintableText(raw.timeout) + "\"";
  }
  if (setup.count("--script") > 0 && raw.script.empty()) return "--script takes a file name";
  if (setup.count("--session-log") > 0 && raw.session_log.empty()) {
    return "--session-log takes a file name";
  }
  if (setup.count("--log") > 0 && command.log.empty()) return "--log takes a file name";
  options.script = raw.script;
  // The program's own --session-log (or the file's key) records setup too, unless it names one.
  options.session_log = raw.session_log.empty() ? command.session_log : raw.session_log;

  // The steps in the order they stood on the command line.
  const std::map<std::string, std::pair<terminal::StepKind, const std::vector<std::string>*>>
      kinds = {{"--send", {terminal::StepKind::kSend, &raw.send}},
               {"--send-secret", {terminal::StepKind::kSendSecret, &raw.send_secret}},
               {"--expect", {terminal::StepKind::kExpect, &raw.expect}}};
  std::map<std::string, std::size_t> taken;
  for (const CLI::Option* option : setup.parse_order()) {
    const auto kind = kinds.find(option->get_name());
    if (kind == kinds.end()) continue;
    const std::vector<std::string>& values = *kind->second.second;
    const std::size_t n = taken[kind->first]++;
    if (n >= values.size()) continue;
    if (std::string error = terminal::AddOptionStep(kind->second.first, values[n], options.steps);
        !error.empty()) {
      return error;
    }
  }
  if (!options.script.empty() && !options.steps.empty()) {
    return "--script and --send/--send-secret/--expect are two ways to give the steps: use one";
  }
  if (!options.Scripted()) {
    if (command.ports.size() > 1) {
      return "the interactive terminal takes one --port; several run only with steps "
             "(--send, --expect, --script)";
    }
    if (command.json) return "--json is for the scripted form (--send, --expect, --script)";
  }
  return {};
}

}  // namespace tvx::app
