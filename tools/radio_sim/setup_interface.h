// The radio's own set-up interface on its serial port: a small line-oriented menu. Typed
// characters are echoed (the PC's terminal shows only what the radio sends), a carriage return
// ends the line, and every answer ends its lines with CR LF. Backspace takes back a character;
// F1 (byte 255) shows the menu; the two-byte codes of other function keys are ignored.
//
// Two commands outside the radio's menu help to try a terminal: "CHARS" sends every byte value
// 0 to 255 in rows of 32 (each row ended with CR LF), then a row of escape sequences a terminal
// would act on (window title, screen switch, colours, reset), then "End of table"; "TEXT n"
// sends n numbered lines of 78 characters (n up to 100000, default 100), then "End of text".
//
// In a radio that finds out by itself who is talking, "4" or "U" typed at the start of an empty
// line belong to the programming mode, and 0xE2 / 0xE3 to an RF download: the interface leaves
// those bytes to the other faces of the radio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "radio_sim/radio_config.h"
#include "radio_sim/radio_output.h"

namespace tvx::sim {

struct SetupCounters {
  std::uint64_t bytes_received = 0;
  std::uint32_t lines = 0;  ///< lines ended with a carriage return
  std::uint32_t unknown_commands = 0;
  std::uint32_t menus_shown = 0;
  std::uint32_t line_errors = 0;  ///< receive errors the PC's line was asked to report
};

class SetupInterface {
 public:
  static constexpr std::size_t kMaxLine = 40;

  explicit SetupInterface(const RadioConfig& config);

  /// Handles typed bytes; returns how many were taken (all, unless it leaves a byte to another
  /// face of the radio, see above).
  std::size_t Feed(std::span<const std::uint8_t> in, const LineState& line, double now,
                   RadioOutput& out);
  /// True when no line is being typed.
  bool AtRest() const { return typed_.empty() && !skip_scan_code_; }

  const SetupCounters& Counters() const { return counters_; }
  /// The text typed so far on the current line.
  std::string_view TypedLine() const { return typed_; }

 private:
  void Answer(RadioOutput& out);
  void Text(std::string_view text, RadioOutput& out);
  void Menu(RadioOutput& out);
  void Prompt(RadioOutput& out);
  void CharacterTable(RadioOutput& out);
  void LongText(std::uint32_t lines, RadioOutput& out);

  RadioConfig config_;
  bool yields_;
  SetupCounters counters_;
  std::string typed_;
  bool skip_scan_code_ = false;  ///< a 0 was typed: the next byte is a function key's code
};

}  // namespace tvx::sim
