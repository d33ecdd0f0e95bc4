#include "radio_sim/setup_interface.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "radio_sim/radio_arith.h"

namespace tvx::sim {

namespace {

constexpr std::uint8_t kCr = 13;
constexpr std::uint8_t kBackspace = 8;
constexpr std::uint8_t kDelete = 127;
constexpr std::uint8_t kEscape = 27;
constexpr std::uint8_t kF1 = 255;
constexpr std::uint8_t kExtendedKey = 0;

bool BelongsElsewhere(std::uint8_t b) {
  return b == kWakeByte || b == kProgramByte || b == 0xE2 || b == 0xE3;
}

struct SettingInfo {
  std::string_view command;
  std::string_view label;  ///< as "1" shows it, padded to 20 columns
  std::uint32_t SetupSettings::*value;
  std::uint32_t min;
  std::uint32_t max;
  std::string_view unit;  ///< after the number, with its blank
};

constexpr SettingInfo kSettings[] = {
    {"RADIOID", "Radio ID", &SetupSettings::radio_id, 1, 254, ""},
    {"NETID", "Network ID", &SetupSettings::network_id, 0, 255, ""},
    {"HOP", "Hop pattern", &SetupSettings::hop_pattern, 0, 63, ""},
    {"POWER", "Transmit power", &SetupSettings::power_dbm, 20, 30, " dBm"},
};

std::string SettingLine(const SettingInfo& info, const SetupSettings& settings) {
  std::string line(info.label);
  line.resize(20, ' ');
  return line + std::to_string(settings.*info.value) + std::string(info.unit) + "\r\n";
}

std::string Upper(std::string_view text) {
  std::string s;
  for (char c : text) {
    if (c != ' ') s.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return s;
}

}  // namespace

SetupInterface::SetupInterface(const RadioConfig& config)
    : config_(config), yields_(config.mode == RadioMode::kAuto) {
  typed_.reserve(kMaxLine);
}

std::size_t SetupInterface::Feed(std::span<const std::uint8_t> in, const LineState& /*line*/,
                                 double /*now*/, RadioOutput& out) {
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::uint8_t b = in[i];
    if (yields_ && AtRest() && BelongsElsewhere(b)) return i;
    if (++counters_.bytes_received == config_.At(Fault::kSetupLineError)) {
      ++counters_.line_errors;
      out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(Fault::kSetupLineError));
      out.RequestLineError();
    }
    if (counters_.bytes_received == config_.At(Fault::kSetupHangUp)) {
      // This key is answered; what follows it in the same batch dies with the line.
      Key(b, out);
      out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(Fault::kSetupHangUp));
      out.RequestHangUp();
      return in.size();
    }
    Key(b, out);
  }
  return in.size();
}

void SetupInterface::Key(std::uint8_t b, RadioOutput& out) {
  if (skip_scan_code_) {
    skip_scan_code_ = false;
    return;
  }
  if (b == kCr || b == kEscape || b == kF1) {
    // The line ends: answered (CR), dropped (escape) or dropped for the menu (F1).
    out.Send("\r\n");
    if (b == kCr) {
      ++counters_.lines;
      out.Note(EventKind::kSetupLine, static_cast<std::uint32_t>(typed_.size()));
      Answer(out);
    }
    if (b == kF1) Menu(out);
    typed_.clear();
    out.Send("Choice> ");
  } else if (b == kBackspace || b == kDelete) {
    if (!typed_.empty()) {
      typed_.pop_back();
      out.Send("\b \b");
    }
  } else if (b == kExtendedKey) {
    skip_scan_code_ = true;
  } else if (b >= 0x20 && b < 0x7F && typed_.size() < kMaxLine) {
    typed_.push_back(static_cast<char>(b));
    out.Send(b);
  }
  // Line feeds, other control bytes and characters past the line's end are ignored.
}

void SetupInterface::Menu(RadioOutput& out) {
  ++counters_.menus_shown;
  out.Send("Torvandrix 900 MHz Radio - Setup\r\n");
  out.Send("Serial Number " + std::to_string(config_.serial) + "\r\n\r\n");
  out.Send(" 1  Radio settings\r\n");
  out.Send(" 2  Network status\r\n");
  out.Send(" 3  Firmware revision\r\n");
  out.Send(" 4  Programming mode (firmware upload)\r\n");
  out.Send(" ?  This menu\r\n\r\n");
}

void SetupInterface::Answer(RadioOutput& out) {
  const std::string command = Upper(typed_);
  if (command.empty()) return;
  if (command == "?" || command == "H" || command == "HELP" || command == "M" ||
      command == "MENU") {
    Menu(out);
  } else if (command == "1") {
    out.Send(SettingLine(kSettings[0], settings_));
    out.Send(SettingLine(kSettings[1], settings_));
    out.Send("Band                902-928 MHz\r\n");
    out.Send(SettingLine(kSettings[2], settings_));
    out.Send(SettingLine(kSettings[3], settings_));
    out.Send("Data port           19200 8N1\r\n");
  } else if (command == "2") {
    out.Send("Local radio, master of its network\r\n");
    out.Send("Remote radios heard 0\r\n");
  } else if (command == "3") {
    out.Send("Firmware Rev " + config_.firmware_revision + "\r\n");
  } else if (command == "4") {
    out.Send("Programming mode is entered by the upload program\r\n");
  } else if (command == "CHARS") {
    CharacterTable(out);
  } else if (command.starts_with("TEXT") &&
             command.find_first_not_of("0123456789", 4) == std::string::npos &&
             command.size() <= 10) {
    const std::uint32_t lines =
        command.size() == 4 ? 100u : static_cast<std::uint32_t>(std::stoul(command.substr(4)));
    LongText(std::min<std::uint32_t>(lines, 100000), out);
  } else if (!ChangeSetting(command, out)) {
    out.Send("Unknown command " + typed_ + "\r\n");
  }
}

bool SetupInterface::ChangeSetting(const std::string& command, RadioOutput& out) {
  for (const SettingInfo& info : kSettings) {
    if (!command.starts_with(info.command)) continue;
    const std::string_view digits = std::string_view(command).substr(info.command.size());
    // At most 6 digits: no number the radio takes is longer, and none overflows.
    if (digits.empty() || digits.size() > 6 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
      return false;
    }
    const auto value = static_cast<std::uint32_t>(std::stoul(std::string(digits)));
    const std::string label(info.label);
    if (value < info.min || value > info.max) {
      out.Send(label + " must be " + std::to_string(info.min) + " to " + std::to_string(info.max) +
               "\r\n");
    } else {
      settings_.*info.value = value;
      out.Send(label + " set to " + std::to_string(value) + "\r\n");
    }
    return true;
  }
  return false;
}

void SetupInterface::CharacterTable(RadioOutput& out) {
  out.Send("Character table\r\n");
  for (int row = 0; row < 8; ++row) {
    for (int column = 0; column < 32; ++column)
      out.Send(static_cast<std::uint8_t>(row * 32 + column));
    out.Send("\r\n");
  }
  // What a terminal that acted on the radio's bytes would do: set its title, leave the
  // alternate screen, change colours, reset itself (7-bit and 8-bit introducers).
  out.Send(
      "Controls \x1b]2;Radio title\x1b\\ \x1b[?1049l \x1b[31;44m \x1b"
      "c \x9b"
      "2J \x1b[8;10;40t\r\n");
  out.Send("End of table\r\n");
}

void SetupInterface::LongText(std::uint32_t lines, RadioOutput& out) {
  std::string line = "Line 000000 ";
  while (line.size() < 78) line += "the quick brown fox jumps over the lazy dog ";
  line.resize(78);
  line += "\r\n";
  for (std::uint32_t i = 1; i <= lines; ++i) {
    const std::string number = std::to_string(i);
    line.replace(5 + 6 - number.size(), number.size(), number);
    out.Send(line);
  }
  out.Send("End of text\r\n");
}

}  // namespace tvx::sim
