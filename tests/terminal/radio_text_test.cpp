// The radio's bytes as text: the hostile character table (every byte value) leaves no control
// byte but the line end, and the escaped form says every byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/radio_text.h"

namespace tvx::testing {
namespace {

using terminal::AppendEscaped;
using terminal::RadioText;

std::vector<std::uint8_t> AllBytes() {
  std::vector<std::uint8_t> bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<std::uint8_t>(b));
  return bytes;
}

TEST(RadioText, EveryByteValueLeavesNoControlCodeButTheLineEnd) {
  const std::string text = RadioText(AllBytes());
  // Nothing below 32 survives but the new line of the carriage return, and no C1 control
  // (U+0080..U+009F, UTF-8 C2 80..C2 9F) either: the glyphs of 127..159 are other characters.
  int new_lines = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<std::uint8_t>(text[i]);
    if (c == '\n') ++new_lines;
    EXPECT_TRUE(c >= 32 || c == '\n') << "byte " << int{c} << " at " << i;
    EXPECT_NE(c, 0x7F);
    if (c == 0xC2 && i + 1 < text.size()) {
      EXPECT_FALSE(static_cast<std::uint8_t>(text[i + 1]) < 0xA0) << "a C1 control at " << i;
    }
  }
  EXPECT_EQ(new_lines, 1);
  // 21 is the first byte shown, as its glyph; escape and delete are glyphs too.
  EXPECT_EQ(text.substr(0, 1), "\n");
  EXPECT_EQ(text.substr(1, 2), "\u00A7");             // 21
  EXPECT_NE(text.find("\u2190"), std::string::npos);  // 27, escape
  EXPECT_NE(text.find("\u2302"), std::string::npos);  // 127, delete
  EXPECT_NE(text.find("\u00C7"), std::string::npos);  // 128
  EXPECT_EQ(text.substr(text.size() - 2), "\u00A0");  // 255
}

TEST(RadioText, LinesOfTheSetupMenu) {
  const std::string said =
      "OK\r\n\x07\x1B[2J\x9B"
      "1m";
  EXPECT_EQ(RadioText({reinterpret_cast<const std::uint8_t*>(said.data()), said.size()}),
            "OK\n\u2190[2J\u00A21m");
}

TEST(RadioText, EscapedFormSaysEveryByte) {
  std::string text;
  const std::uint8_t bytes[] = {'a', '\\', 13, 10, 0, 0x7F, 0xFF, ' '};
  AppendEscaped(text, bytes);
  EXPECT_EQ(text, "a\\\\\\x0D\\x0A\\x00\\x7F\\xFF ");
}

}  // namespace
}  // namespace tvx::testing
