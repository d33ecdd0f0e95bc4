#include "console/format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace tvx::console {
namespace {

// The first number field of a picture: a run of '#' with at most one '.' that is followed by a
// '#'. A '.' not followed by a '#' (the end of a sentence) is plain text.
struct PictureField {
  std::size_t begin = std::string_view::npos;
  std::size_t end = 0;
  int integer_positions = 0;
  int decimals = 0;
  bool has_point = false;
};

bool IsPointBeforeDigit(std::string_view picture, std::size_t i) {
  return picture[i] == '.' && i + 1 < picture.size() && picture[i + 1] == '#';
}

PictureField FindField(std::string_view picture) {
  PictureField field;
  std::size_t i = 0;
  while (i < picture.size() && picture[i] != '#' && !IsPointBeforeDigit(picture, i)) ++i;
  if (i == picture.size()) return field;
  field.begin = i;
  while (i < picture.size() && picture[i] == '#') {
    ++field.integer_positions;
    ++i;
  }
  if (i < picture.size() && IsPointBeforeDigit(picture, i)) {
    field.has_point = true;
    ++i;
    while (i < picture.size() && picture[i] == '#') {
      ++field.decimals;
      ++i;
    }
  }
  field.end = i;
  return field;
}

// Adds one unit in the last place to a string of decimal digits; returns false on carry out.
bool IncrementDigits(std::string& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return true;
    }
    digits[i] = '0';
  }
  return false;
}

// The value rounded to `decimals` places, a half away from zero, without a sign: the exact
// decimal expansion of the double is rounded, so no binary scaling error creeps in.
void RoundedDigits(double magnitude, int decimals, std::string& integer, std::string& fraction) {
  // 1074 fractional digits hold any double exactly; 309 integer digits the largest one.
  static constexpr int kExactDecimals = 1074;
  std::array<char, 1500> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                    std::chars_format::fixed, kExactDecimals);
  const std::string_view exact(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
  const std::size_t point = exact.find('.');
  integer = std::string(exact.substr(0, point));
  std::string_view rest = point == std::string_view::npos ? "" : exact.substr(point + 1);
  fraction = std::string(rest.substr(0, std::min<std::size_t>(decimals, rest.size())));
  fraction.resize(decimals, '0');
  const bool round_up = static_cast<std::size_t>(decimals) < rest.size() && rest[decimals] >= '5';
  if (round_up && !IncrementDigits(fraction) && !IncrementDigits(integer)) {
    integer.insert(integer.begin(), '1');
  }
}

}  // namespace

std::string PlainNumber(long long value) {
  const bool negative = value < 0;
  const unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                                : static_cast<unsigned long long>(value);
  std::array<char, 24> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), magnitude);
  std::string text(1, negative ? '-' : ' ');
  text.append(digits.data(), result.ptr);
  text += ' ';
  return text;
}

std::string Hex(std::uint32_t value) {
  std::array<char, 8> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value, 16);
  std::string text(digits.data(), result.ptr);
  for (char& c : text) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string FormatPicture(std::string_view picture, double value) {
  const PictureField field = FindField(picture);
  if (field.begin == std::string_view::npos) return std::string(picture);

  std::string number;
  if (!std::isfinite(value)) {
    number = std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
  } else {
    std::string integer;
    std::string fraction;
    RoundedDigits(std::fabs(value), field.decimals, integer, fraction);
    const bool zero = integer.find_first_not_of('0') == std::string::npos &&
                      fraction.find_first_not_of('0') == std::string::npos;
    if (std::signbit(value) && !zero) number += '-';
    // With no integer positions a value below one shows no leading zero (".50").
    if (!(field.integer_positions == 0 && integer == "0")) number += integer;
    if (field.has_point) number += '.' + fraction;
  }
  const std::size_t width = field.end - field.begin;
  if (number.size() < width) number.insert(0, width - number.size(), ' ');

  std::string text(picture.substr(0, field.begin));
  text += number;
  text += picture.substr(field.end);
  return text;
}

double NumericValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // The number is the run of digits with an optional fraction, sliced from the text itself.
  const std::size_t start = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  const std::string_view integer = text.substr(start, i - start);
  std::size_t end = i;
  if (i < text.size() && text[i] == '.') {
    std::size_t j = i + 1;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
    if (j > i + 1) end = j;
  }
  if (end == start) return 0.0;
  const std::string_view number = text.substr(start, end - start);
  const bool integer_part_zero = integer.find_first_not_of('0') == std::string_view::npos;

  double value = 0.0;
  // from_chars ignores the locale, so a decimal comma setting cannot change the result.
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    value = integer_part_zero ? 0.0 : std::numeric_limits<double>::max();
  }
  return negative ? -value : value;
}

std::int32_t RoundToInt(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  if (value <= kMin) return std::numeric_limits<std::int32_t>::min();
  if (value >= kMax) return std::numeric_limits<std::int32_t>::max();
  double rounded = std::floor(value);
  const double rest = value - rounded;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(rounded, 2.0) != 0.0)) rounded += 1.0;
  return static_cast<std::int32_t>(rounded);
}

}  // namespace tvx::console
