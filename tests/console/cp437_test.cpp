#include "console/cp437.h"

#include <gtest/gtest.h>

#include <set>

namespace tvx::console {
namespace {

TEST(Cp437Test, KnownGlyphs) {
  EXPECT_EQ(Cp437Glyph(0xB0), U'\u2591');
  EXPECT_EQ(Cp437Glyph(0xC4), U'\u2500');
  EXPECT_EQ(Cp437Glyph(0x01), U'\u263A');
  EXPECT_EQ(Cp437Glyph(0x7F), U'\u2302');
  EXPECT_EQ(Cp437Glyph(0x82), U'\u00E9');
  EXPECT_EQ(Cp437Glyph(0xFF), U'\u00A0');
  EXPECT_EQ(Cp437Glyph('A'), U'A');
}

TEST(Cp437Test, EveryByteIsVisibleAndDistinct) {
  std::set<char32_t> seen;
  for (int b = 0; b < 256; ++b) {
    const char32_t glyph = Cp437Glyph(static_cast<std::uint8_t>(b));
    EXPECT_TRUE(glyph >= 0x20 && glyph != 0x7F) << "byte " << b << " shows a control code";
    seen.insert(glyph);
    const char stand_in = Cp437StandIn(static_cast<std::uint8_t>(b));
    EXPECT_TRUE(stand_in >= 0x20 && stand_in <= 0x7E) << "byte " << b;
  }
  EXPECT_EQ(seen.size(), 255u);  // byte 0 and the space are both blank
}

TEST(Cp437Test, TypedCharactersMapBack) {
  for (int b = 128; b < 256; ++b) {
    EXPECT_EQ(Cp437FromUnicode(Cp437Glyph(static_cast<std::uint8_t>(b))), b);
  }
  EXPECT_EQ(Cp437FromUnicode(U'q'), 'q');
  EXPECT_EQ(Cp437FromUnicode(U'\u20AC'), -1);  // the euro sign has no byte
}

}  // namespace
}  // namespace tvx::console
