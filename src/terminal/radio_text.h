// What the radio sends, as the Radio Setup Screen shows it, in text form for everything that is
// not the full screen (a plain terminal, a script's expectations, a record of the session):
// bytes 21 to 255 are the console's character-set glyphs written as UTF-8, a carriage return
// starts a new line ("\n"), and every other byte from 0 to 20 (the line feed among them) is
// dropped. No byte of the radio survives as a control code of the user's terminal.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tvx::terminal {

/// Whether the byte is shown as a glyph (21 to 255).
constexpr bool IsShownByte(std::uint8_t byte) {
  return byte >= 21;
}

/// Appends the text form of `bytes` to `text`. Pure; every chunk boundary is fine (a byte is
/// never more than one character).
void AppendRadioText(std::string& text, std::span<const std::uint8_t> bytes);

/// The text form of `bytes`.
std::string RadioText(std::span<const std::uint8_t> bytes);

/// Appends `bytes` as plain ASCII that says every byte: 32 to 126 as themselves (the backslash
/// doubled), every other byte as \xNN (two upper-case hexadecimal digits). For records and
/// messages that must show exactly what went over the line.
void AppendEscaped(std::string& text, std::span<const std::uint8_t> bytes);

}  // namespace tvx::terminal
