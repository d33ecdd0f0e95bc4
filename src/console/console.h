// The console a job draws on and reads keys from: the screen model plus a keyboard, a beep and
// a way to make the model visible. Backends: the terminal (posix_console) and the scripted
// console of the tests.
//
// Keys are texts in the console's own form: one character for an ordinary key (Enter "\r",
// Backspace "\b", Tab "\t", Esc "\x1b", Ctrl-C "\x03"); two characters for an extended key, a 0
// byte and the PC scan code of the key (F1 59 .. F10 68, F11 87, F12 88, Home 71, Up 72,
// PgUp 73, Left 75, keypad 5 76, Right 77, End 79, Down 80, PgDn 81, Ins 82, Del 83). The code
// names the key, not the modifiers: Shift, Ctrl or Alt held with one of these keys gives the
// same two characters. Alt held with a character key gives that key's code (Alt+A 30, Alt+1 2).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console/screen_model.h"

namespace tvx::console {

/// A handle the platform can wait on: a file descriptor on POSIX, a HANDLE on Windows.
/// kNoWaitHandle when there is none.
using NativeWaitHandle = std::intptr_t;
inline constexpr NativeWaitHandle kNoWaitHandle = -1;

class Console {
 public:
  virtual ~Console() = default;

  ScreenModel& Screen() { return screen_; }
  const ScreenModel& Screen() const { return screen_; }

  /// Returns at once: "" when no key is waiting, else the next key (see the key form above).
  /// Modifier keys alone yield nothing.
  virtual std::string ReadKey() = 0;
  /// Whether a key is waiting, without taking it.
  virtual bool KeyWaiting() = 0;
  /// Sounds the simple beep.
  virtual void Beep() = 0;
  /// Makes the screen model visible. Cheap when nothing changed. Without `force` the backend
  /// may skip a refresh to keep a bounded rate (about 30 per second). Returns true when the
  /// terminal now shows the model, false when changes are still held back.
  virtual bool Present(bool force) = 0;
  /// Blocks until a key may be waiting or `timeout_ms` passed (-1: no limit). Presents first.
  /// Spurious returns are allowed; callers re-check KeyWaiting().
  virtual void AwaitKey(int timeout_ms) = 0;
  /// The handle that becomes ready when keyboard input arrives (for waits that also watch the
  /// serial port), or kNoWaitHandle.
  virtual NativeWaitHandle KeyWaitHandle() const = 0;
  /// Whether the program was asked from outside to end (see stop_request.h; the process's
  /// request unless a backend keeps its own): the jobs end at their next safe point, and
  /// AwaitKey returns within kStopCheckMs of the request. Any thread; never blocks.
  virtual bool StopRequested() const;
  /// Throws away every key typed and not yet taken: what the key decoder holds and what the
  /// system's input buffer holds. Keys typed after it returns are kept. A screen that hands over
  /// to another calls it, so the next one sees only keys pressed after it is drawn. Never
  /// blocks; a console without type-ahead does nothing.
  virtual void DiscardTypeAhead() {}

 protected:
  ScreenModel screen_;
};

/// Whether `key`, as ReadKey gives it, is the Escape key (one byte 27).
inline bool IsEscape(std::string_view key) {
  return key == "\x1b";
}

/// Blocks until a key is pressed and returns it; returns "" at once when a stop is requested.
std::string WaitForKey(Console& console);

/// Reads a typed line with echo at the cursor: bytes 32 and up are stored and echoed (at most
/// 128, more are ignored), Backspace removes and blanks the last one, other control keys and
/// extended keys are ignored, Enter ends the line and moves to the next row. The text excludes
/// the Enter. A stop request ends it early with the text typed so far: callers look at
/// StopRequested() before they act on the answer.
std::string ReadLine(Console& console);

}  // namespace tvx::console
