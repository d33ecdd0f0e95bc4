#include "console/posix_terminfo.h"

#include <unistd.h>

#include <cstdlib>

#include <curses.h>
#include <term.h>  // after everything else: it defines a macro for every capability name

namespace tvx::console::posix {

bool TerminalIsUsable(std::string& error) {
  const char* term_variable = std::getenv("TERM");
  const std::string term = term_variable ? term_variable : "";
  int status = 0;
  if (setupterm(nullptr, STDOUT_FILENO, &status) != OK) {
    error = "cannot use this terminal (TERM=" + term + ")";
    return false;
  }
  const char* cup = tigetstr(const_cast<char*>("cup"));
  const bool addressable = cup != nullptr && cup != reinterpret_cast<char*>(-1);
  del_curterm(cur_term);
  if (!addressable) {
    error = "cannot use this terminal (TERM=" + term +
            "): it cannot move the cursor; run the program in a terminal window";
    return false;
  }
  return true;
}

}  // namespace tvx::console::posix
