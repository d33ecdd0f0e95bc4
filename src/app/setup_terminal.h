// The setup sub-command's interactive form: a plain terminal to one radio's set-up interface in
// the user's own terminal window, of any size.
#pragma once

#include "app/command_line.h"

namespace tvx::app {

/// Runs the terminal on `command.port` until Q or q (or a stop request) and returns the exit
/// status: 0, 5 when the port did not open, 2 without a terminal on standard input (the
/// message points to the scripted form), 128 + N after signal N.
int RunSetupTerminal(const CommandLine& command);

}  // namespace tvx::app
