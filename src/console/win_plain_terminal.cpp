// The plain terminal on Windows is not built yet: the interactive setup refuses to start there
// and points to the scripted form, which works on every platform.
#include "console/plain_terminal.h"

namespace tvx::console {

std::unique_ptr<PlainTerminal> OpenPlainTerminal(std::string& error) {
  error = "the interactive set-up terminal is not available on Windows yet";
  return nullptr;
}

}  // namespace tvx::console
