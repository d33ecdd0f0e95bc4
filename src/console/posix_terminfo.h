// What the terminal description (terminfo) says about the terminal the program runs in.
#pragma once

#include <string>

namespace tvx::console::posix {

/// Whether the terminal named by TERM can show the console: terminfo knows it and it can move
/// the cursor. Writes nothing to the terminal. On false, `error` holds a one-line reason.
bool TerminalIsUsable(std::string& error);

}  // namespace tvx::console::posix
