#include "app/setup_terminal.h"

#include <cstdio>

#include "app/cli_platform.h"

namespace tvx::app {

int RunSetupTerminal(const CommandLine& command) {
  (void)command;
  if (!StdinIsTerminal()) {
    std::fputs(
        "torvandrix-upload: setup without steps is a terminal and needs one on standard input; "
        "a script gives its steps with --send, --expect or --script\n"
        "see 'torvandrix-upload setup --help'\n",
        stderr);
    return kExitUsage;
  }
  std::fputs("torvandrix-upload: the interactive setup terminal is not built yet\n", stderr);
  return kExitUsage;
}

}  // namespace tvx::app
