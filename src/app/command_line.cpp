#include "app/command_line.h"

namespace tvx::app {
namespace {

#ifndef TVX_VERSION
#define TVX_VERSION "unknown"
#endif

constexpr std::string_view kUsage = "usage: torvandrix-upload [--help | --version]\n";

constexpr std::string_view kHelp =
    "Loads firmware into a Torvandrix 900 MHz radio over a serial port, directly or over RF\n"
    "through a local radio, and opens the radio's set-up terminal. Runs full screen in a\n"
    "terminal window of at least 80 x 51 characters; choose from the menu with 1 to 4, leave\n"
    "with Esc.\n"
    "\n"
    "Ports: \"Com1\" to \"Com9\" (menu item 3) are the devices named in the environment\n"
    "variables TORVANDRIX_COM1 to TORVANDRIX_COM9, e.g. TORVANDRIX_COM1=/dev/ttyUSB0;\n"
    "without one, ComN is /dev/ttyS(N-1).\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this text and exit\n"
    "  --version    show the version and exit\n";

}  // namespace

CommandLine ParseCommandLine(std::span<const std::string_view> arguments) {
  if (arguments.empty()) return {};
  if (arguments.size() == 1) {
    const std::string_view argument = arguments.front();
    if (argument == "--help" || argument == "-h") {
      return {CommandAction::kHelp, std::string(kUsage) + "\n" + std::string(kHelp)};
    }
    if (argument == "--version") {
      return {CommandAction::kVersion, "torvandrix-upload " TVX_VERSION "\n"};
    }
  }
  const std::string reason = arguments.size() == 1
                                 ? "unknown argument: " + std::string(arguments.front())
                                 : "takes at most one argument";
  return {CommandAction::kUsageError, "torvandrix-upload: " + reason + "\n" + std::string(kUsage)};
}

}  // namespace tvx::app
