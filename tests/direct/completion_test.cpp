// Verification and completion: the verdict and the outcome line, the read-back after a wrong
// checksum, the ways out of the checksum and read-back waits, and a line that dies in them.
#include <string>

#include "console/format.h"
#include "direct/protocol.h"
#include "upload_fixture.h"

namespace tvx::testing {
namespace {

constexpr const char* kChecksumError =
    "Upload failed: checksum error. Upload again before using the radio.";
constexpr const char* kStopped =
    "Upload stopped before the end: the radio's firmware is incomplete.";
// Word attempt 10 is the word at 0x1002 of the small image, plain bytes 22 23.
constexpr std::uint32_t kWordAt1002 = 10;

void ExpectOutcome(const ScriptedConsole& console, const char* text) {
  EXPECT_EQ(console.RowTrimmed(32), text);
  EXPECT_TRUE(console.RowColours(32, 1, static_cast<int>(std::string(text).size()),
                                 console::kYellow, console::kRed));
}

TEST_F(DirectUploadTest, WrongChecksumIsRejectedAndTheReadBackShowsTheBadWord) {
  sim::RadioConfig config = FastRadio();
  config.Add(sim::Fault::kCorruptStore, kWordAt1002);  // second byte stored with bit 0 flipped
  StartRadio(config);
  console_.Feed("N\rY\r\r");
  Answer("I Sent ", "x");
  Run();

  const sim::RadioCounters counters = SettledCounters();
  EXPECT_EQ(counters.direct.verdicts_rejected, 1u);
  EXPECT_EQ(counters.direct.verdicts_accepted, 0u);
  EXPECT_EQ(counters.direct.readbacks_completed, 1u);
  EXPECT_EQ(counters.direct.readback_words, kSmallImageWords);
  EXPECT_EQ(counters.bytes_received,
            kHandshakeBytes + kSmallImageWords * 6 + 1 + kSmallImageWords * 3);

  EXPECT_EQ(console_.RowTrimmed(21), "CHECK SUM ERROR!!!");
  EXPECT_TRUE(console_.RowColours(21, 1, 18, console::kYellow, console::kBlue));
  ASSERT_EQ(prompts_.size(), 1u);  // exactly the one word stored wrong
  EXPECT_EQ(prompts_[0].text, "I Sent 22     I Got 22      I Sent 23     I Got 22");
  EXPECT_TRUE(prompts_[0].yellow_on_blue);
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

// Escape at a read-back mismatch ends the read-back there, with the program time. This time the
// first byte of the word is the one stored wrong.
TEST_F(DirectUploadTest, EscapeAtAReadBackMismatchEndsTheReadBack) {
  sim::RadioConfig config = FastRadio();
  config.Add(sim::Fault::kCorruptStore, kWordAt1002, 0);
  StartRadio(config);
  console_.Feed("N\rY\r\r");
  Answer("I Sent ", "\x1b");
  Run();
  const sim::RadioCounters counters = SettledCounters();
  EXPECT_EQ(counters.direct.readback_words, kWordAt1002);
  EXPECT_EQ(counters.direct.readbacks_completed, 0u);
  ASSERT_EQ(prompts_.size(), 1u);
  EXPECT_EQ(prompts_[0].text, "I Sent 22     I Got 23      I Sent 23     I Got 23");
  EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
  ExpectOutcome(console_, kChecksumError);
}

// The checksum cannot see a word that went out twice: refused once, then stored wrongly on its
// resend, it leaves a matching checksum. The verdict stays 0xAA, but the operator is told.
TEST_F(DirectUploadTest, ResentWordStoredWronglyIsNamedInTheOutcome) {
  sim::RadioConfig config = FastRadio();
  config.Add(sim::Fault::kBadReply, kWordAt1002);
  config.Add(sim::Fault::kCorruptStore, kWordAt1002 + 1);  // its resend
  StartRadio(config);
  console_.Feed("N\rY\r\r");
  Answer("Bad Data!", "y");
  Run();
  const auto snapshot = SettledSnapshot();
  EXPECT_EQ(snapshot->counters.direct.verdicts_accepted, 1u);
  EXPECT_EQ(snapshot->memory.space[0][0x1003], 0x23 ^ 1);
  EXPECT_EQ(console_.RowText(32) + console_.RowTrimmed(33),
            "Checksum accepted, but 1 resent words are not covered by it: upload again to be "
            "sure.");
  EXPECT_TRUE(console_.RowColours(32, 1, 80, console::kYellow, console::kRed));
}

// A verdict the port did not write leaves the radio without an answer: no success is claimed,
// and after a wrong checksum no read-back follows.
TEST_F(DirectUploadTest, VerdictNotWrittenIsNoSuccess) {
  for (const bool checksum_right : {true, false}) {
    SCOPED_TRACE(checksum_right ? "0xAA" : "0x55");
    sim::RadioConfig config = FastRadio();
    if (!checksum_right) config.Add(sim::Fault::kBadChecksum);
    StartRadio(config);
    std::uint64_t data_frames = 0;
    port_->on_write = [&](std::span<const std::uint8_t> bytes) {
      if (bytes.size() == 3) ++data_frames;
      // The first single byte after the last data frame is the verdict.
      if (bytes.size() == 1 && data_frames == kSmallImageWords) {
        port_->fail_this_write = true;
        data_frames = 0;
      }
    };
    console_.Feed("N\rY\r\r");
    Run();
    port_->on_write = nullptr;
    const sim::RadioCounters counters = SettledCounters();
    EXPECT_EQ(counters.direct.verdicts_accepted + counters.direct.verdicts_rejected, 0u);
    EXPECT_EQ(counters.direct.readback_words, 0u);
    EXPECT_EQ(result_.outcome, direct::Outcome::kStopped);
    ExpectOutcome(console_, kStopped);
  }
}

// Only Escape leaves the checksum wait and the read-back wait; another key is dropped and the
// wait goes on (the Escape is fed only once that key has been taken).
TEST_F(DirectUploadTest, OnlyEscapeLeavesTheChecksumAndReadBackWaits) {
  {
    SCOPED_TRACE("checksum wait");
    StartRadio(FastRadio());
    port_->GoDeafAfterDataFrame(static_cast<int>(kSmallImageWords));  // no checksum arrives
    console_.Feed("N\rY\r\r");
    FeedInTurn([](const sim::RadioCounters& r) { return r.direct.checksums_sent > 0; }, "a",
               "\x1b");
    Run();
    const sim::RadioCounters counters = SettledCounters();
    EXPECT_EQ(counters.direct.verdicts_accepted + counters.direct.verdicts_rejected, 0u);
    EXPECT_EQ(counters.bytes_received, kHandshakeBytes + kSmallImageWords * 6);
    EXPECT_EQ(console_.RowTrimmed(19), "");
    const auto keys = console_.KeysTaken();
    ASSERT_GE(keys.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(keys.end() - 3, keys.end()),
              (std::vector<std::string>{"a", "\x1b", "x"}));
    EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
    ExpectOutcome(console_, kStopped);
  }
  {
    SCOPED_TRACE("read-back wait");
    sim::RadioConfig config = FastRadio();
    config.Add(sim::Fault::kBadChecksum);  // every word is stored right; only the checksum is off
    StartRadio(config);
    int read_back_bytes = -1;  // counted from the verdict on
    port_->on_write = [&](std::span<const std::uint8_t> bytes) {
      if (bytes.size() == 1 && bytes[0] == direct::kChecksumRejected) read_back_bytes = 0;
      if (read_back_bytes >= 0 && ++read_back_bytes == 1 + 3 * 20) port_->GoDeafNow();
    };
    console_.Feed("N\rY\r\r");
    FeedInTurn([](const sim::RadioCounters& r) { return r.direct.readback_words >= 20; }, "a",
               "\x1b");
    Run();
    port_->on_write = nullptr;
    const sim::RadioCounters counters = SettledCounters();
    EXPECT_EQ(counters.direct.verdicts_rejected, 1u);
    EXPECT_EQ(counters.direct.readback_words, 20u);
    const auto keys = console_.KeysTaken();
    ASSERT_GE(keys.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(keys.end() - 3, keys.end()),
              (std::vector<std::string>{"a", "\x1b", "x"}));
    EXPECT_TRUE(prompts_.empty());
    EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
    ExpectOutcome(console_, kChecksumError);
  }
}

// A line that dies while the checksum or a read-back answer is awaited ends the wait at once
// with the report (59), without a key, and the job goes to its end.
TEST_F(DirectUploadTest, DeadLineInTheChecksumAndReadBackWaits) {
  {
    SCOPED_TRACE("checksum wait");
    StartRadio(FastRadio());
    port_->GoDeafAfterDataFrame(static_cast<int>(kSmallImageWords));  // no checksum arrives
    console_.Feed("N\rY\r\r");
    KillRadioWhen([](const sim::RadioCounters& r) { return r.direct.checksums_sent > 0; });
    Run();
    EXPECT_EQ(ReportsWhenDeadLineLeft(), 1);  // reported by the wait that saw it
    EXPECT_EQ(ctx_->errors.count, 1);
    EXPECT_EQ(console_.RowText(51).substr(64, 12), "  1  59   0 ");
    EXPECT_EQ(console_.RowTrimmed(19), "");
    EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
    ExpectOutcome(console_, kStopped);
    EXPECT_EQ(console_.KeysTaken().back(), "x");  // the closing key was the first one asked for
  }
  {
    SCOPED_TRACE("read-back wait");
    sim::RadioConfig config = FastRadio();
    config.Add(sim::Fault::kBadChecksum);
    config.Add(sim::Fault::kHangUpReadBack, 20);
    StartRadio(config);
    const std::size_t keys_before = console_.KeysTaken().size();
    console_.Feed("N\rY\r\r");
    Run();
    EXPECT_EQ(ReportsWhenDeadLineLeft(), 2);
    EXPECT_EQ(ctx_->errors.count, 2);
    EXPECT_EQ(console_.RowText(51).substr(64, 12), "  2  59   0 ");
    EXPECT_EQ(console_.RowTrimmed(21), "CHECK SUM ERROR!!!");
    EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
    ExpectOutcome(console_, kChecksumError);
    EXPECT_EQ(console_.KeysTaken().size(), keys_before + 6);  // the answers and the closing key
  }
}

}  // namespace
}  // namespace tvx::testing
