// Verification and completion on the memory radio: the verdict and the outcome line, the
// read-back after a wrong checksum, a resent word the checksum cannot see, a verdict not written.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "memory_upload_fixture.h"

namespace tvx::testing {
namespace {

constexpr const char* kChecksumError =
    "Upload failed: checksum error. Upload again before using the radio.";
// Word attempt 10 is the word at 0x1002 of the small image, plain bytes 22 23.
constexpr std::uint32_t kWordAt1002 = 10;

void ExpectOutcome(const ScriptedConsole& console, const char* text) {
  EXPECT_EQ(console.RowTrimmed(32), text);
  EXPECT_TRUE(console.RowColours(32, 1, static_cast<int>(std::string(text).size()),
                                 console::kYellow, console::kRed));
}

// A wrong checksum is rejected and the read-back shows the one bad word; with Escape at the
// mismatch the read-back ends there instead, with the program time.
TEST_F(MemoryUploadTest, WrongChecksumIsRejectedAndTheReadBackShowsTheBadWord) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kCorruptStore, kWordAt1002);  // second byte stored with bit 0 flipped
  StartRadio(config);
  ctx_->image = SmallImage();
  Answer("I Sent ", "x");
  Run();

  const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
  EXPECT_EQ(counters.direct.verdicts_rejected, 1u);
  EXPECT_EQ(counters.direct.verdicts_accepted, 0u);
  EXPECT_EQ(counters.direct.readbacks_completed, 1u);
  EXPECT_EQ(counters.direct.readback_words, kSmallImageWords);
  EXPECT_EQ(counters.bytes_received,
            kHandshakeBytes + kSmallImageWords * 6 + 1 + kSmallImageWords * 3);

  EXPECT_EQ(console_.RowTrimmed(21), "CHECK SUM ERROR!!!");
  EXPECT_TRUE(console_.RowColours(21, 1, 18, console::kYellow, console::kBlue));
  ASSERT_EQ(prompts_.size(), 1u);  // exactly the one word stored wrong
  EXPECT_EQ(prompts_[0], "I Sent 22     I Got 22      I Sent 23     I Got 22");
  EXPECT_TRUE(prompts_yellow_on_blue_[0]);
  EXPECT_EQ(console_.Beeps(), 2);  // the checksum and the one mismatch
  // After a complete read-back the job closes without the program time; the read-back shows
  // every record, the empty one included.
  EXPECT_EQ(console_.RowTrimmed(29), "");
  EXPECT_EQ(console_.RowTrimmed(25), "   18   FFF0   16");
  ExpectOutcome(console_, kChecksumError);
  // Nothing of the mismatch line is left beside the closing text.
  EXPECT_EQ(console_.RowTrimmed(30), "Hit any key to return to main menu");
  EXPECT_TRUE(console_.RowColours(30, 35, 79, console::kBrightWhite, console::kBlack));
}

TEST_F(MemoryUploadTest, EscapeAtAReadBackMismatchEndsTheReadBack) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kCorruptStore, kWordAt1002, 0);  // this time the first byte
  StartRadio(config);
  ctx_->image = SmallImage();
  Answer("I Sent ", "\x1b");
  Run();
  const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
  EXPECT_EQ(counters.direct.readback_words, kWordAt1002);
  EXPECT_EQ(counters.direct.readbacks_completed, 0u);
  ASSERT_EQ(prompts_.size(), 1u);
  EXPECT_EQ(prompts_[0], "I Sent 22     I Got 23      I Sent 23     I Got 23");
  EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
  ExpectOutcome(console_, kChecksumError);
}

// The checksum cannot see a word that went out twice: refused once, then stored wrongly on its
// resend, it leaves a matching checksum. The verdict stays 0xAA, but the operator is told.
TEST_F(MemoryUploadTest, ResentWordStoredWronglyIsNamedInTheOutcome) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kBadReply, kWordAt1002);
  config.Add(sim::Fault::kCorruptStore, kWordAt1002 + 1);  // its resend
  StartRadio(config);
  ctx_->image = SmallImage();
  Answer("Bad Data!", "y");
  Run();
  const auto snapshot = port_->SettledSnapshot();
  EXPECT_EQ(snapshot->counters.direct.verdicts_accepted, 1u);
  EXPECT_EQ(snapshot->memory.space[0][0x1003], 0x23 ^ 1);
  EXPECT_EQ(console_.RowText(32) + console_.RowTrimmed(33),
            "Checksum accepted, but 1 resent words are not covered by it: upload again to be "
            "sure.");
  EXPECT_TRUE(console_.RowColours(32, 1, 80, console::kYellow, console::kRed));
}

// A verdict the port did not write leaves the radio without an answer: no success is claimed,
// and after a wrong checksum no read-back follows.
TEST_F(MemoryUploadTest, VerdictNotWrittenIsNoSuccess) {
  for (const bool checksum_right : {true, false}) {
    SCOPED_TRACE(checksum_right ? "0xAA" : "0x55");
    sim::RadioConfig config = Radio();
    if (!checksum_right) config.Add(sim::Fault::kBadChecksum);
    StartRadio(config);
    ctx_->image = SmallImage();
    // The first single byte after the last data frame is the verdict.
    port_->on_write = [this, frames = std::uint64_t{0}](std::span<const std::uint8_t> b) mutable {
      if (b.size() == 3 && ++frames == kSmallImageWords) port_->RefuseWrite(1, 1);
    };
    Run();
    const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
    EXPECT_EQ(counters.direct.verdicts_accepted + counters.direct.verdicts_rejected, 0u);
    EXPECT_EQ(counters.direct.readback_words, 0u);
    EXPECT_EQ(result_.outcome, direct::Outcome::kStopped);
    ExpectOutcome(console_, kStopped);
  }
}

}  // namespace
}  // namespace tvx::testing
