// The console's 8-bit character set: what each byte looks like, for terminals that speak
// Unicode, and a plain ASCII stand-in for those that do not. Every byte has a picture: bytes
// 0..31 and 127 are shown as symbols, never acted on as control codes.
#pragma once

#include <cstdint>

namespace tvx::console {

/// The Unicode code point of the byte's glyph (byte 0 is a blank, 255 a no-break space).
char32_t Cp437Glyph(std::uint8_t byte);

/// A printable ASCII character (32..126) that stands in for the byte's glyph.
char Cp437StandIn(std::uint8_t byte);

/// The byte 128..255 whose glyph is `code_point`; code points below 128 map to themselves;
/// -1 when the character set has no such glyph.
int Cp437FromUnicode(char32_t code_point);

}  // namespace tvx::console
