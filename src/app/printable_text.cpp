#include "app/printable_text.h"

#include <cstddef>

namespace tvx::app {
namespace {

// The length of the well-formed UTF-8 sequence at `at`, or 0. Overlong forms, UTF-16
// surrogates (U+D800..U+DFFF) and code points above U+10FFFF are not well-formed.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  unsigned char low = 0x80;  // the range of the second byte, narrowed for some leads
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

// U+0080..U+009F (0xC2 0x80..0x9F): the C1 controls, which a terminal may act on as it does on
// ESC sequences (U+009B is CSI).
bool IsC1Control(std::string_view text, std::size_t at) {
  return static_cast<unsigned char>(text[at]) == 0xC2 && at + 1 < text.size() &&
         static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

void AppendEscape(std::string& out, unsigned char byte) {
  constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte == '\\') {
      out += "\\\\";
      ++at;
    } else if (byte < 0x20 || byte == 0x7F) {
      AppendEscape(out, byte);
      ++at;
    } else if (byte < 0x80) {
      out += static_cast<char>(byte);
      ++at;
    } else if (const std::size_t length = Utf8SequenceLength(text, at);
               length != 0 && !IsC1Control(text, at)) {
      out.append(text.substr(at, length));
      at += length;
    } else {  // a stray byte, or the first of the two of a C1 control (the second follows)
      AppendEscape(out, byte);
      ++at;
    }
  }
  return out;
}

}  // namespace tvx::app
