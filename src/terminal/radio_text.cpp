#include "terminal/radio_text.h"

#include <array>

#include "console/cp437.h"

namespace tvx::terminal {
namespace {

constexpr std::uint8_t kCarriageReturn = 13;

// The UTF-8 form of every byte's glyph, built once; empty for the bytes that are dropped.
struct GlyphTable {
  GlyphTable() {
    for (int b = 0; b < 256; ++b) {
      const auto byte = static_cast<std::uint8_t>(b);
      if (byte == kCarriageReturn) {
        utf8[b] = "\n";
        continue;
      }
      if (!IsShownByte(byte)) continue;
      const char32_t c = console::Cp437Glyph(byte);
      std::string& s = utf8[b];
      if (c < 0x80) {
        s += static_cast<char>(c);
      } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
      } else {  // the character set has nothing above the basic plane
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
  }
  std::array<std::string, 256> utf8;
};

const GlyphTable& Glyphs() {
  static const GlyphTable table;
  return table;
}

}  // namespace

void AppendRadioText(std::string& text, std::span<const std::uint8_t> bytes) {
  const GlyphTable& table = Glyphs();
  for (const std::uint8_t b : bytes) text += table.utf8[b];
}

void AppendEscaped(std::string& text, std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (const std::uint8_t b : bytes) {
    if (b == '\\') {
      text += "\\\\";
    } else if (b >= 32 && b < 127) {
      text += static_cast<char>(b);
    } else {
      text += "\\x";
      text += kDigits[b >> 4];
      text += kDigits[b & 0xF];
    }
  }
}

std::string RadioText(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size());
  AppendRadioText(text, bytes);
  return text;
}

}  // namespace tvx::terminal
