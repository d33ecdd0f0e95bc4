// Turns the bytes a terminal sends into the console's key texts (see console.h): one character
// for an ordinary key, a 0 byte and the PC scan code for an extended key. This is the only place
// where key sequences are decoded; the terminal library hands over plain bytes.
//
// The scan code names the key, not the modifiers: Shift, Ctrl and Alt held with a cursor,
// editing or function key give the same two characters as the key alone, and Alt held with a
// character key gives that key's scan code (Alt+A: 0, 30).
//
// Escape handling: an Esc byte opens a sequence. "ESC [ ..." and "ESC O ..." are the cursor,
// editing and function keys of xterm-like, rxvt-like and Linux console terminals; Esc followed
// by another key within the escape delay is that key with Alt held; an Esc with nothing after
// it within the delay is the Esc key itself. A sequence that names no key, or that is malformed
// or runs over its longest length, is dropped whole: none of its bytes become keys. Pure: time
// is passed in by the caller.
//
// Mouse reports ("ESC [ < b ; x ; y M" or "m", and the older "ESC [ M" with three bytes) are
// never keys: the wheel's turns are counted for the console to scroll its view with, every
// other mouse event is dropped.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace tvx::console {

class KeyDecoder {
 public:
  /// `escape_delay_ms`: how long the byte after an Esc may lag behind it before the Esc counts
  /// as a key of its own. `sequence_gap_ms`: how long the bytes inside a sequence may lag behind
  /// each other before the sequence is taken as cut off (and dropped).
  explicit KeyDecoder(int escape_delay_ms = 25, int sequence_gap_ms = 100)
      : escape_delay_ms_(escape_delay_ms), sequence_gap_ms_(sequence_gap_ms) {}

  /// One byte from the terminal (a character of the console's 8-bit set), at `now_ms`.
  void FeedByte(std::uint8_t byte, std::int64_t now_ms);

  /// Whether a key is ready at `now_ms` (an Esc whose delay has run out becomes ready).
  bool HasKey(std::int64_t now_ms);
  /// Takes the next ready key, or "" when none is ready at `now_ms`.
  std::string Take(std::int64_t now_ms);
  /// Milliseconds until an open Esc turns into a key; -1 when nothing open would give a key.
  int MsUntilTimeout(std::int64_t now_ms) const;
  /// Forgets the ready keys, the wheel's turns and any open sequence.
  void Clear();
  /// The mouse wheel's turns since the last call: each turn away from the user (the view moves
  /// towards row 1) counts -1, each turn towards the user +1.
  int TakeWheelTurns();

 private:
  enum class State {
    kIdle,
    kEsc,       // Esc seen (twice when alt_)
    kSequence,  // "ESC [" or "ESC O" and what followed
    kLinuxF,    // "ESC [ [": the Linux console's F1..F5 follow
    kOverlong,  // a sequence past its longest length: dropped up to its final byte
    kMouse,     // "ESC [ M": the three bytes of an old-style mouse report follow
  };

  bool OnlyIntroducer() const;  // nothing after "ESC", "ESC [" or "ESC O" yet
  void Expire(std::int64_t now_ms);
  void Plain(std::uint8_t byte);
  void AfterEsc(std::uint8_t byte);
  void InSequence(std::uint8_t byte);
  void Emit(std::string key);
  void Mouse(int button);
  void Reset();

  int escape_delay_ms_;
  int sequence_gap_ms_;
  State state_ = State::kIdle;
  bool alt_ = false;      // a second Esc before the sequence: Alt held with the key
  std::string sequence_;  // the introducer ('[' or 'O'), parameters and intermediates
  std::int64_t last_byte_ms_ = 0;
  std::deque<std::string> ready_;
  int wheel_turns_ = 0;
};

}  // namespace tvx::console
