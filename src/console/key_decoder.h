// Turns what a terminal delivers - plain bytes, escape sequences and keys already named by the
// terminal library - into the console's key texts (see console.h): one character for an
// ordinary key, a 0 byte and the PC scan code for an extended key.
//
// Escape handling: an Esc byte opens a sequence. "ESC [ ..." and "ESC O ..." are the cursor,
// editing and function keys; Esc followed by another key within the escape delay is that key
// with Alt held (Alt+letter gives the letter key's scan code); an Esc with nothing after it
// within the delay is the Esc key itself. Pure: time is passed in by the caller.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace tvx::console {

/// Keys a terminal library may hand over already decoded.
enum class NamedKey {
  kF1,
  kF2,
  kF3,
  kF4,
  kF5,
  kF6,
  kF7,
  kF8,
  kF9,
  kF10,
  kF11,
  kF12,
  kShiftF1,
  kShiftF2,
  kShiftF3,
  kShiftF4,
  kShiftF5,
  kShiftF6,
  kShiftF7,
  kShiftF8,
  kShiftF9,
  kShiftF10,
  kShiftF11,
  kShiftF12,
  kCtrlF1,
  kCtrlF2,
  kCtrlF3,
  kCtrlF4,
  kCtrlF5,
  kCtrlF6,
  kCtrlF7,
  kCtrlF8,
  kCtrlF9,
  kCtrlF10,
  kCtrlF11,
  kCtrlF12,
  kUp,
  kDown,
  kLeft,
  kRight,
  kHome,
  kEnd,
  kPageUp,
  kPageDown,
  kInsert,
  kDelete,
  kBackTab,
  kBackspace,
  kEnter,
};

/// The console key text of a named key: "\0" + scan code, or "\b" / "\r" for Backspace/Enter.
std::string KeyText(NamedKey key);

class KeyDecoder {
 public:
  /// `escape_delay_ms`: how long the bytes after an Esc may lag behind it.
  explicit KeyDecoder(int escape_delay_ms = 25) : escape_delay_ms_(escape_delay_ms) {}

  /// One byte from the terminal (a character of the console's 8-bit set), at `now_ms`.
  void FeedByte(std::uint8_t byte, std::int64_t now_ms);
  /// A key the terminal library decoded itself. Directly after an Esc it counts as Alt+key,
  /// which gives the key itself.
  void FeedNamed(NamedKey key, std::int64_t now_ms);

  /// Whether a key is ready at `now_ms` (an Esc whose delay has run out becomes ready).
  bool HasKey(std::int64_t now_ms);
  /// Takes the next ready key, or "" when none is ready at `now_ms`.
  std::string Take(std::int64_t now_ms);
  /// Milliseconds until an open escape sequence times out; -1 when none is open.
  int MsUntilTimeout(std::int64_t now_ms) const;

 private:
  void Expire(std::int64_t now_ms);
  void FlushTimedOut();
  void Plain(std::uint8_t byte);
  void AfterEsc(std::uint8_t byte);
  void FinishSequence();

  int escape_delay_ms_;
  std::string pending_;  // an open escape sequence, starting with Esc
  std::int64_t pending_since_ms_ = 0;
  std::deque<std::string> ready_;
};

}  // namespace tvx::console
