// The code page against the system's own account of it: glibc's CP437 conversion for what the
// high bytes show, and the system's character classes for their ASCII stand-ins.
#include <iconv.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <string>

#include "console/cp437.h"

namespace tvx::console {
namespace {

TEST(Cp437SystemTest, HighBytesShowWhatTheSystemsCodePageSays) {
  const iconv_t convert = iconv_open("UTF-32LE", "CP437");
  if (convert == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no CP437 conversion here";
  for (int b = 128; b < 256; ++b) {
    char in = static_cast<char>(b);
    unsigned char out[4] = {};
    char* in_at = &in;
    char* out_at = reinterpret_cast<char*>(out);
    std::size_t in_left = 1;
    std::size_t out_left = sizeof out;
    ASSERT_NE(iconv(convert, &in_at, &in_left, &out_at, &out_left), static_cast<std::size_t>(-1));
    const char32_t expected = out[0] | out[1] << 8 | out[2] << 16 | char32_t{out[3]} << 24;
    EXPECT_EQ(Cp437Glyph(static_cast<std::uint8_t>(b)), expected) << "byte " << b;
  }
  iconv_close(convert);
}

// A terminal without the glyphs shows a letter as a letter (an accent, a Greek letter, a
// superscript n become a plain ASCII letter), never as a digit or a sign.
TEST(Cp437SystemTest, TheStandInOfEveryLetterIsALetter) {
  const std::string before = std::setlocale(LC_CTYPE, nullptr);
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  int letters = 0;
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    if (!std::iswalpha(static_cast<wint_t>(Cp437Glyph(byte)))) continue;
    ++letters;
    const char stand_in = Cp437StandIn(byte);
    EXPECT_TRUE((stand_in >= 'a' && stand_in <= 'z') || (stand_in >= 'A' && stand_in <= 'Z'))
        << "byte " << b << " stands in as '" << stand_in << "'";
  }
  std::setlocale(LC_CTYPE, before.c_str());
  EXPECT_GE(letters, 52 + 40) << "the locale knows too few letters to judge";
}

}  // namespace
}  // namespace tvx::console
