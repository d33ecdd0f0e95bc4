// The console on a POSIX terminal: the screen model drawn with ncursesw (wide-character glyphs of
// the console's 8-bit character set), the bytes of the keyboard decoded by the KeyDecoder into
// the console's key texts. The user's terminal is restored when the console is destroyed; a stop
// signal (see stop_request.h) ends the console's wait at once and is left to the program to act
// on, and a second one restores the terminal before the program ends (with 128 + the signal
// number); a terminal without an alternate screen is cleared then. After a stop
// (SIGCONT) the console's terminal modes are put back at once and the screen is drawn again.
//
// A window of 80 columns and 24 to 50 rows shows the page through a view (see page_view.h): the
// rows around the cursor, and row 51 on the window's last row. There the terminal reports the
// mouse, and the wheel scrolls the view without any key reaching the job; the next key the job
// reads brings the view back to the cursor. A resize is drawn at once, from the page: nothing
// written meanwhile, in view or not, is lost.
#pragma once

#include <memory>
#include <string>

#include "console/console.h"

namespace tvx::console::posix {

/// Whether standard input and standard output are both terminals. The console needs both.
bool StdioIsTerminal();

class TerminalConsole final : public Console {
 public:
  /// Takes over the terminal (alternate screen, raw keys, no echo). Returns null and a one-line
  /// reason in `error` when the terminal cannot be used (unknown TERM, or one that cannot move
  /// the cursor); nothing has been drawn then. Only one TerminalConsole may exist at a time.
  static std::unique_ptr<TerminalConsole> Open(std::string& error);
  /// Gives the terminal back exactly as it was found.
  ~TerminalConsole() override;

  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;

  std::string ReadKey() override;
  bool KeyWaiting() override;
  /// The terminal bell.
  void Beep() override;
  /// Draws the cells changed since the last draw (the view first moved to the cursor's row), at
  /// most about 30 times a second unless `force`. While the window is smaller than 80 x 24 a
  /// notice to enlarge it is shown instead (returns true then: nothing more can be shown until
  /// the window grows), and keys typed meanwhile are dropped: ReadKey and KeyWaiting see none of
  /// them.
  bool Present(bool force) override;
  /// Presents, then sleeps in poll() on standard input (and on window size changes).
  void AwaitKey(int timeout_ms) override;
  /// Standard input, file descriptor 0.
  NativeWaitHandle KeyWaitHandle() const override;
  /// Clears the key decoder, and ncurses' and the terminal driver's input queues.
  void DiscardTypeAhead() override;

 private:
  struct Impl;
  explicit TerminalConsole(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

/// Opens the terminal console as a plain Console (see TerminalConsole::Open).
std::unique_ptr<Console> OpenTerminalConsole(std::string& error);

}  // namespace tvx::console::posix
