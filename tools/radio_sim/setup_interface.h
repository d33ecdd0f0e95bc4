// The radio's own set-up menu: typed characters are echoed, CR ends the line, answers end their
// lines with CR LF; backspace takes back a character, F1 (255) shows the menu. "1" shows the
// settings, which "RADIOID n", "NETID n", "HOP n" and "POWER n" change; "3" shows the firmware
// revision. Extra commands to try a terminal: "CHARS" (every byte value, then control
// sequences), "TEXT n" (n long lines).
// In RadioMode::kAuto, "U", "4", 0xE2 and 0xE3 at the start of a line are left to other faces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "radio_sim/radio_config.h"
#include "radio_sim/radio_output.h"

namespace tvx::sim {

/// What "1" shows and the setting commands change; kept for the life of the radio.
struct SetupSettings {
  std::uint32_t radio_id = 1;
  std::uint32_t network_id = 7;
  std::uint32_t hop_pattern = 12;
  std::uint32_t power_dbm = 30;
};

struct SetupCounters {
  std::uint64_t bytes_received = 0;
  std::uint32_t lines = 0;  ///< lines ended with a carriage return
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
  const SetupSettings& Settings() const { return settings_; }

 private:
  /// Handles a setting command ("NETID12", blanks taken out); false when it is none.
  bool ChangeSetting(const std::string& command, RadioOutput& out);
  /// One typed byte.
  void Key(std::uint8_t b, RadioOutput& out);
  void Answer(RadioOutput& out);
  void Menu(RadioOutput& out);
  void CharacterTable(RadioOutput& out);
  void LongText(std::uint32_t lines, RadioOutput& out);

  RadioConfig config_;
  bool yields_;
  SetupCounters counters_;
  SetupSettings settings_;
  std::string typed_;
  bool skip_scan_code_ = false;  ///< a 0 was typed: the next byte is a function key's code
};

}  // namespace tvx::sim
