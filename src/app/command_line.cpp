#include "app/command_line.h"

#include <CLI/CLI.hpp>
#include <string_view>
#include <utility>

namespace tvx::app {
namespace {

#ifndef TVX_VERSION
#define TVX_VERSION "unknown"
#endif

constexpr std::string_view kUsage =
    "usage: torvandrix-upload [--com N=DEVICE]...\n"
    "       torvandrix-upload direct [--port DEVICE] [--data-port] [--high-speed] [--retries N]"
    "\n                         [--timeout SECONDS] [--log FILE]\n"
    "       torvandrix-upload rf [--port DEVICE] --copies N [--start S] [--passes R]"
    "\n                         [--timeout SECONDS] [--log FILE]\n"
    "       torvandrix-upload ports\n"
    "       torvandrix-upload --help | --version\n";

// The help, with the platform's words put in for {window}, {example}, {unbound} and {log}.
constexpr std::string_view kHelp =
    "Loads firmware into a Torvandrix 900 MHz radio over a serial port, directly or over RF\n"
    "through a local radio, and opens the radio's set-up terminal. Without a sub-command it\n"
    "runs full screen in a {window} of at least 80 x 51 characters; choose from the\n"
    "menu with 1 to 4, leave with Esc.\n"
    "\n"
    "Ports: \"Com1\" to \"Com9\" (menu item 3) are the devices named in the environment\n"
    "variables TORVANDRIX_COM1 to TORVANDRIX_COM9, e.g. TORVANDRIX_COM1={example};\n"
    "without one, ComN is {unbound}.\n"
    "\n"
    "Sub-commands run one job without the full screen and exit:\n"
    "  direct   the direct upload into a radio on the port (its diagnostic port unless\n"
    "           --data-port; \"Radio in setup?\" is answered yes). A prompt that offers a\n"
    "           retry retries up to --retries times per word (default 3), then the job stops.\n"
    "  rf       the RF upload through the local radio on the port: --copies of each frame\n"
    "           (1-9), from record --start (default 0), --passes times (default 1).\n"
    "  ports    the serial devices of this machine, one a line.\n"
    "\n"
    "Exit status: 0 complete, 1 checksum error, 2 usage, 3 stopped (retries spent, dead\n"
    "line, silent radio), 4 radio refused, 5 port could not be opened; 128 + N after\n"
    "signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP): the job ends after the word or frame\n"
    "on the wire, closes the port and logs the outcome \"interrupted\"; a second signal\n"
    "ends the program at once.\n"
    "\n"
    "Every upload's outcome is appended as one line of JSON to the upload log:\n"
    "--log FILE, else TORVANDRIX_LOG, else {log}.\n"
    "\n"
    "Options:\n"
    "  -h, --help          show this text and exit\n"
    "  --version           show the version and exit\n"
    "  --com N=DEVICE      menu: bind ComN to DEVICE, as TORVANDRIX_COM<N> does (repeatable)\n"
    "  --port DEVICE       direct, rf: the device to use for this run (default Com1)\n"
    "  --log FILE          menu, direct, rf: append the upload log to FILE\n"
    "  --timeout SECONDS   direct, rf: when the radio has been silent this long at a wait,\n"
    "                      press Enter as an operator would (a retry, mid-transfer), and\n"
    "                      Escape if it stays silent as long again (default 10; 0: never)\n";

std::string FillIn(std::string_view pattern, const HelpWording& wording) {
  const std::pair<std::string_view, std::string_view> words[] = {
      {"{window}", wording.window},
      {"{example}", wording.device_example},
      {"{unbound}", wording.unbound_device},
      {"{log}", wording.default_log},
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

// "N=DEVICE" with N 1..9 and a device name.
std::string CheckComBinding(const std::string& text, const HelpWording& wording) {
  const std::size_t eq = text.find('=');
  if (eq != 1 || text[0] < '1' || text[0] > '9' || text.size() < 3) {
    return "expected N=DEVICE with N from 1 to 9, e.g. 1=" + std::string(wording.device_example);
  }
  return {};
}

CommandLine Print(CommandAction action, std::string text) {
  CommandLine command;
  command.action = action;
  command.text = std::move(text);
  return command;
}

CommandLine UsageError(const std::string& reason) {
  return Print(CommandAction::kUsageError,
               "torvandrix-upload: " + reason + "\n" + std::string(kUsage));
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv, const HelpWording& wording) {
  CommandLine command;
  CLI::App app("torvandrix-upload", "torvandrix-upload");
  app.set_help_flag("-h,--help");
  bool version = false;
  app.add_flag("--version", version);
  std::vector<std::string> bindings;
  app.add_option("--com", bindings)
      ->check(CLI::Validator(
          [&wording](const std::string& text) { return CheckComBinding(text, wording); },
          "N=DEVICE"));
  app.add_option("--log", command.log);
  app.require_subcommand(0, 1);

  CLI::App* direct = app.add_subcommand("direct");
  direct->add_option("--port", command.port);
  direct->add_flag("--data-port", command.data_port);
  direct->add_flag("--high-speed", command.high_speed);
  direct->add_option("--retries", command.retries)->check(CLI::Range(0, 1000000));
  direct->add_option("--timeout", command.timeout_seconds)->check(CLI::Range(0.0, 86400.0));
  direct->add_option("--log", command.log);

  CLI::App* rf = app.add_subcommand("rf");
  rf->add_option("--port", command.port);
  rf->add_option("--copies", command.copies)->required()->check(CLI::Range(1, 9));
  rf->add_option("--start", command.start)->check(CLI::Range(0, 65535));
  rf->add_option("--passes", command.passes)->check(CLI::Range(1, 32767));
  rf->add_option("--timeout", command.timeout_seconds)->check(CLI::Range(0.0, 86400.0));
  rf->add_option("--log", command.log);

  CLI::App* ports = app.add_subcommand("ports");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    return Print(CommandAction::kHelp, std::string(kUsage) + "\n" + FillIn(kHelp, wording));
  } catch (const CLI::ParseError& e) {
    return UsageError(e.what());
  }
  if (version) return Print(CommandAction::kVersion, "torvandrix-upload " TVX_VERSION "\n");

  if (direct->parsed()) {
    command.action = CommandAction::kDirect;
  } else if (rf->parsed()) {
    command.action = CommandAction::kRf;
  } else if (ports->parsed()) {
    command.action = CommandAction::kPorts;
  }
  if (command.action != CommandAction::kMenu && !bindings.empty()) {
    return UsageError("--com is for the menu; a sub-command takes --port DEVICE");
  }
  // The range check lets "nan" through: no comparison with it fails.
  if (!(command.timeout_seconds >= 0.0)) return UsageError("--timeout: expected seconds, 0 and up");
  if (command.action == CommandAction::kPorts && !command.log.empty()) {
    return UsageError("ports writes no log");
  }
  for (const std::string& binding : bindings) {
    command.com_bindings.emplace_back(binding[0] - '0', binding.substr(2));
  }
  return command;
}

}  // namespace tvx::app
