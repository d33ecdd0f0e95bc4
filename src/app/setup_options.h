// The setup sub-command's options: a terminal to the radio's set-up interface, or (with steps)
// a script run against one radio or several at once. The options are defined here and taken as
// plain text; their checks are ours, so every usage error is a sentence of this program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/setup_script.h"

namespace CLI {
class App;
}

namespace tvx::app {

struct CommandLine;

/// What setup was asked to do, beyond the options every sub-command shares (--port, --timeout,
/// --log, --quiet, --json in CommandLine).
struct SetupOptions {
  /// --send, --send-secret and --expect in the order given (each escape resolved).
  std::vector<terminal::Step> steps;
  /// --script FILE: the steps are read from it when the run begins. Empty: none.
  std::string script;
  /// --session-log FILE: every byte both ways, appended. Empty: none.
  std::string session_log;
  /// --baud N, bit/s: one of the settings screen's rates.
  std::uint32_t baud = 19200;

  /// Steps were given: the scripted form.
  bool Scripted() const { return !steps.empty() || !script.empty(); }
};

/// The options as CLI11 hands them over, before they are checked.
struct SetupArguments {
  std::vector<std::string> ports;
  std::string baud;
  std::string timeout;
  std::string script;
  std::string session_log;
  std::vector<std::string> send;
  std::vector<std::string> send_secret;
  std::vector<std::string> expect;
};

/// Adds the "setup" sub-command to `app`, writing into `raw` and `command` (--log, --quiet,
/// --json). Returns the sub-command.
CLI::App* AddSetupCommand(CLI::App& app, SetupArguments& raw, CommandLine& command);

/// Checks what `setup` parsed and fills in `command` (ports, timeout, setup). Returns a usage
/// error (one sentence, no line end), empty when all is well. Never prints.
std::string FinishSetupCommand(const CLI::App& setup, const SetupArguments& raw,
                               CommandLine& command);

}  // namespace tvx::app
