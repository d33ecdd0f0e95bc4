// The signals the terminal console handles itself, and what their handlers share with it. A
// fault signal gives the terminal back before the program ends; a window change and a return
// from a stop are flagged and wake the console's wait. Everything a handler touches is prepared
// before it is armed, and the handlers use only write(), tcsetattr() and raise().
#pragma once

#include <signal.h>
#include <termios.h>

#include <array>
#include <cstddef>
#include <map>

namespace tvx::console::posix {

/// What a handler needs to give the terminal back. Only one terminal console exists at a time.
struct RestoreState {
  termios saved{};    // the user's terminal modes
  termios program{};  // the console's modes (raw keys, no echo), put back after SIGCONT
  std::array<char, 512> sequence{};  // leaves the alternate screen (or clears the screen), shows
                                     // the cursor, resets the colours, ends mouse reports
  std::size_t sequence_length = 0;
  volatile sig_atomic_t armed = 0;  // the handlers act only while set
  int wake_read = -1;               // the wake pipe: the console polls its read end
  int wake_write = -1;
};
extern RestoreState g_restore;
/// Set by SIGWINCH and SIGCONT, cleared by the console when it has acted on them.
extern volatile sig_atomic_t g_resized;
extern volatile sig_atomic_t g_continued;

/// Writes the restore sequence and puts the user's modes back, once per arming. Safe in a
/// signal handler.
void RestoreTerminalFromSignal();
/// Ends the console's wait: one byte into the wake pipe. Safe in a signal handler.
void Wake();

/// The handlers of the fault signals, SIGWINCH and SIGCONT. Uninstall puts back the ones found.
class TerminalSignalHandlers {
 public:
  void Install();
  void Uninstall();

 private:
  std::map<int, struct sigaction> previous_;
};

}  // namespace tvx::console::posix
