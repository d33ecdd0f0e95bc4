// Number and text forms used on every screen. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tvx::console {

/// Plain number: a sign position (blank or '-'), the decimal digits, one trailing blank.
/// 19200 -> " 19200 ", -5 -> "-5 ".
std::string PlainNumber(long long value);

/// Upper-case hexadecimal without leading zeros: 0xE3 -> "E3", 5 -> "5", 0 -> "0".
std::string Hex(std::uint32_t value);

/// Formats `value` by a picture: each '#' is a digit position, one '.' marks the decimal point;
/// the value is rounded to the positions after the point (a half away from zero) and
/// right-aligned with blanks in the positions before it; a value with more integer digits
/// widens the field. Every other character is copied. Only the first run of '#'/'.' is a number
/// field, and a '.' belongs to it only when a '#' follows (so "Done. ##" keeps its full stop).
/// ("##.##", 5.5) -> " 5.50"; ("### ", 7) -> "  7 "; ("Program Time is ##.## S", 123.456) ->
/// "Program Time is 123.46 S".
std::string FormatPicture(std::string_view picture, double value);

/// The decimal number at the start of `text` after leading blanks and tabs (optional sign,
/// digits, optional fraction); 0 when the text does not start with a number.
double NumericValue(std::string_view text);

/// Rounds to the nearest integer, a half to the even neighbour (2.5 -> 2, 3.5 -> 4); values
/// beyond the 32-bit range are clamped.
std::int32_t RoundToInt(double value);

}  // namespace tvx::console
