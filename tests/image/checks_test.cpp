#include "image/checks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace {

using tvx::image::BitMix;
using tvx::image::Crc16Register;
using tvx::image::Crc16Table;
using tvx::image::Crc16Update;

Crc16Register CrcOver(std::string_view bytes) {
  Crc16Register reg;  // preset 0xFF, 0xFF as the RF frames use it
  for (const char c : bytes) {
    Crc16Update(reg, static_cast<std::uint8_t>(c));
  }
  return reg;
}

TEST(Crc16, TableHoldsTheReflectedCcittEntries) {
  const auto& table = Crc16Table();
  EXPECT_EQ(table[0], 0x0000);
  EXPECT_EQ(table[1], 0x1189);
  EXPECT_EQ(table[2], 0x2312);
  EXPECT_EQ(table[3], 0x329B);
  EXPECT_EQ(table[128], 0x8408);
  EXPECT_EQ(table[255], 0x0F78);
}

TEST(Crc16, CheckValuesWithPresetAndNoFinalXor) {
  const Crc16Register empty = CrcOver("");
  EXPECT_EQ(empty.high, 0xFF);
  EXPECT_EQ(empty.low, 0xFF);

  const Crc16Register zero = CrcOver(std::string_view("\0", 1));
  EXPECT_EQ(zero.high, 0x0F);
  EXPECT_EQ(zero.low, 0x87);

  const Crc16Register digits = CrcOver("123456789");
  EXPECT_EQ(digits.high, 0x6F);
  EXPECT_EQ(digits.low, 0x91);
}

TEST(Crc16, HeaderFrameCoversBytesAfterTheTypeByte) {
  const std::uint8_t frame[] = {0xE2, 0x12, 0x36, 0x10, 0x30, 0x34};
  Crc16Register reg;
  for (std::size_t i = 1; i < sizeof frame; ++i) {
    Crc16Update(reg, frame[i]);
  }
  EXPECT_EQ(reg.high, 0xD1);  // sent first
  EXPECT_EQ(reg.low, 0xB8);
}

TEST(BitMix, SequenceFromOne) {
  std::uint16_t w = 0x0001;
  const std::uint16_t expected[] = {0x0002, 0x0004, 0x0009, 0x0013, 0x0027, 0x004F, 0x009E, 0x013D};
  for (const std::uint16_t e : expected) {
    BitMix(w);
    EXPECT_EQ(w, e);
  }
}

TEST(BitMix, SingleSteps) {
  const std::pair<std::uint16_t, std::uint16_t> steps[] = {
      {0x8000, 0x0001}, {0x1234, 0x2468}, {0x0038, 0x0070}, {0xFFFF, 0xFFFE}, {0x0000, 0x0000}};
  for (const auto& [from, to] : steps) {
    std::uint16_t w = from;
    BitMix(w);
    EXPECT_EQ(w, to) << std::hex << "from 0x" << from;
  }
}

TEST(BitMix, VisitsEveryNonzeroValueOnceBeforeReturningToTheSeed) {
  std::vector<bool> seen(65536, false);
  std::uint16_t w = 0x0001;
  int steps = 0;
  do {
    ASSERT_FALSE(seen[w]) << "value repeated after " << steps << " steps";
    seen[w] = true;
    BitMix(w);
    ++steps;
  } while (w != 0x0001 && steps <= 65536);
  EXPECT_EQ(steps, 65535);
  EXPECT_FALSE(seen[0]);
}

}  // namespace
