// The arithmetic of the direct protocol: the masked data frame, the serial-number unmasking and
// the challenge word, checked against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "direct/challenge.h"
#include "direct/prompt_row.h"
#include "direct/protocol.h"

namespace tvx::direct {
namespace {

TEST(DirectProtocol, DataFrameOfAWordAt8010) {
  // One mix step from 0x8010 gives 0x0020; the radio echoes 0x80, 0x10 and answers 0x94.
  const DataFrame f = MakeDataFrame(0x8010, 0x12, 0x34);
  EXPECT_EQ(f.d0, 0x12);
  EXPECT_EQ(f.d1, 0x14);
  EXPECT_EQ(f.check, 0xCF);
  EXPECT_EQ(f.expected_reply, 0x94);
  // A reply equal to d1 itself is right only in the lowest 256 bytes of a space.
  EXPECT_EQ(MakeDataFrame(0x0042, 0x12, 0x34).expected_reply, MakeDataFrame(0x0042, 0x12, 0x34).d1);
}

TEST(DirectProtocol, SerialNumberUnmasking) {
  // Challenge 0x1234: K1 = 0x2468, K2 = 0x48D1.
  EXPECT_EQ(DecodeSerial(0x1234, 0x12, 0xE8, 0xC3), 9123456u);
  for (const std::uint32_t serial : {9109999u, 9110000u, 9280000u, 9280001u, 0u, 16777215u}) {
    for (const std::uint16_t challenge :
         {std::uint16_t{1}, std::uint16_t{0x1234}, std::uint16_t{0xFFFF}}) {
      const auto r = EncodeSerial(challenge, serial);
      EXPECT_EQ(DecodeSerial(challenge, r[0], r[1], r[2]), serial);
    }
  }
}

TEST(DirectProtocol, ChallengeWordNeverZero) {
  EXPECT_EQ(ChallengeWord(0.0), 1);
  EXPECT_EQ(ChallengeWord(std::nextafter(1.0, 0.0)), 65535);
  EXPECT_EQ(ChallengeWord(0.5), 32768);
  // Just under and over a half step of the scale.
  EXPECT_EQ(ChallengeWord(0.49 / 65534.0), 1);
  EXPECT_EQ(ChallengeWord(0.51 / 65534.0), 2);
}

TEST(DirectProtocol, PromptLinesUseFourteenColumnZones) {
  // A zone start already reached still advances a full zone.
  std::string line(14, 'x');
  ZoneStep(line);
  EXPECT_EQ(line.size(), 28u);
  EXPECT_EQ(AddressEchoPrompt(0x8008, 0x0880),
            "I Sent 8008   I Got 880     Continue?(<esc> to quit) ");
  EXPECT_EQ(BadDataPrompt(0x0C, 0x73, 0xF00E),
            "I Sent C      I Got 73      Address F00E  Bad Data!,Continue?(<esc> to quit) ");
  EXPECT_LT(BadDataPrompt(0xFF, 0xFF, 0xFFFF).size(), 80u);
}

}  // namespace
}  // namespace tvx::direct
