// Verification and completion: a wrong checksum with its read-back, and the ways out of the
// checksum and read-back waits.
#include <string>

#include "direct/prompt_row.h"
#include "upload_fixture.h"

namespace tvx::testing {
namespace {

constexpr std::uint64_t kReleaseWords = 33097;

TEST_F(DirectUploadTest, WrongChecksumIsRejectedAndTheReadBackShowsTheBadWord) {
  sim::RadioConfig config = FastRadio();
  config.corrupt_store_word = 777;  // second byte stored with bit 0 flipped
  StartRadio(config);
  console_.Feed("N\rY\r\r");
  Answer("I Sent ", "x");
  Run();

  const sim::RadioCounters counters = SettledCounters();
  EXPECT_EQ(counters.direct.verdicts_rejected, 1u);
  EXPECT_EQ(counters.direct.verdicts_accepted, 0u);
  EXPECT_EQ(counters.direct.readbacks_completed, 1u);
  EXPECT_EQ(counters.direct.readback_words, kReleaseWords);
  EXPECT_EQ(counters.bytes_received, kHandshakeBytes + kReleaseWords * 6 + 1 + kReleaseWords * 3);

  EXPECT_EQ(console_.RowTrimmed(21), "CHECK SUM ERROR!!!");
  EXPECT_TRUE(console_.RowColours(21, 1, 18, console::kYellow, console::kBlue));
  const WalkWord& bad = UploadWords()[776];
  const auto stored = static_cast<std::uint8_t>(bad.word.b1 ^ 1);
  ASSERT_EQ(prompts_.size(), 1u);  // exactly the one word stored wrong
  std::string expected =
      direct::ReadBackMismatchLine(bad.word.b0, bad.word.b0, bad.word.b1, stored);
  expected.erase(expected.find_last_not_of(' ') + 1);
  EXPECT_EQ(prompts_[0].text, expected);
  EXPECT_TRUE(prompts_[0].yellow_on_blue);
  EXPECT_EQ(console_.Beeps(), 2);  // the checksum and the one mismatch
  // After a complete read-back the job closes without the program time.
  EXPECT_EQ(console_.RowTrimmed(29), "");
  EXPECT_EQ(console_.RowTrimmed(25), " 4143   FFFE   2");
  EXPECT_TRUE(console_.RowText(30).starts_with("Hit any key to return to main menu"));
}

// Escape leaves the read-back wait, as it leaves the checksum wait, so a radio that stops
// answering in the read-back cannot trap the operator.
TEST_F(DirectUploadTest, EscapeLeavesTheReadBack) {
  sim::RadioConfig config = FastRadio();
  config.bad_checksum = true;  // every word is stored right; only the checksum is off
  StartRadio(config);
  console_.Feed("N\rY\r\r");
  FeedWhen([](const sim::RadioCounters& r) { return r.direct.readback_words >= 200; }, "a\x1b");
  Run();
  const sim::RadioCounters counters = SettledCounters();
  EXPECT_EQ(counters.direct.verdicts_rejected, 1u);
  EXPECT_EQ(counters.direct.readbacks_completed, 0u);
  EXPECT_LT(counters.direct.readback_words, kReleaseWords);
  EXPECT_EQ(console_.RowTrimmed(21), "CHECK SUM ERROR!!!");
  EXPECT_TRUE(prompts_.empty());
  EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
  EXPECT_EQ(console_.Beeps(), 1);
}

TEST_F(DirectUploadTest, EscapeLeavesTheChecksumWaitWithoutAVerdict) {
  StartRadio(FastRadio());
  port_->GoDeafAfterDataFrame(kReleaseWords);  // the checksum never reaches the job
  console_.Feed("N\rY\r\r");
  FeedWhen([](const sim::RadioCounters& r) { return r.direct.checksums_sent > 0; }, "a\x1b");
  Run();
  const sim::RadioCounters counters = SettledCounters();
  EXPECT_EQ(counters.direct.word_attempts, kReleaseWords);
  EXPECT_EQ(counters.direct.verdicts_accepted + counters.direct.verdicts_rejected, 0u);
  EXPECT_EQ(counters.bytes_received, kHandshakeBytes + kReleaseWords * 6);
  EXPECT_EQ(console_.RowTrimmed(19), "");
  EXPECT_EQ(console_.RowTrimmed(20), "");
  EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
  EXPECT_EQ(console_.RowTrimmed(30), "Hit any key to return to main menu");
}

}  // namespace
}  // namespace tvx::testing
