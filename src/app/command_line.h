// What the program is asked to do by its command line, decided before the terminal is taken
// over (nothing may be printed while the screen is up).
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tvx::app {

enum class CommandAction {
  kRun,        ///< no arguments: the full-screen program
  kHelp,       ///< print `text` on standard output, exit 0
  kVersion,    ///< print `text` on standard output, exit 0
  kUsageError  ///< print `text` on standard error, exit 2
};

struct CommandLine {
  CommandAction action = CommandAction::kRun;
  std::string text;  ///< what to print, ending in a new line; empty for kRun
};

/// Reads the arguments after the program name: none, "--help" (or "-h"), or "--version". Any
/// other argument, or more than one, is a usage error.
CommandLine ParseCommandLine(std::span<const std::string_view> arguments);

}  // namespace tvx::app
