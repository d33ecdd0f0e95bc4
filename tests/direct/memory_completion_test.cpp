// Verification and completion on the memory radio: the verdict and the outcome line, the
// read-back after a wrong checksum, a resent word the checksum cannot see, a verdict not written,
// the ways out of the checksum and read-back waits.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

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

// One word refused once and sent again: 140 attempts (139 words and one resend), an even count,
// so the radio's checksum is the plain pair of XOR sums (the resent word dropped out of them)
// and the job accepts it.
TEST_F(MemoryUploadTest, EvenAttemptCountIsAcceptedUncomplemented) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kBadReply, 100);
  StartRadio(config);
  ctx_->image = SmallImage();
  Answer("Bad Data!", "y");
  Run();
  const auto snapshot = port_->SettledSnapshot();
  const sim::DirectCounters& direct = snapshot->counters.direct;
  EXPECT_EQ(direct.word_attempts, kSmallImageWords + 1);
  image::PairChecksum sums;
  const auto& words = UploadWords(SmallImage());
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i != 100 - 1) sums.Add(words[i].word.b0, words[i].word.b1);
  }
  EXPECT_EQ(direct.last_checksum, (std::array<std::uint8_t, 2>{sums.even_xor, sums.odd_xor}));
  EXPECT_EQ(direct.verdicts_accepted, 1u);
  EXPECT_EQ(console_.RowTrimmed(21), "");  // no "CHECK SUM ERROR!!!"
}

// The checksum wait and the read-back wait, with the radio heard no more (the line up): another
// key is dropped and the wait goes on, Escape leaves it; a line that dies ends it at once with
// the report (59), without a key. Either way the job goes to its end with the program time.
TEST_F(MemoryUploadTest, OnlyEscapeOrADeadLineLeaveTheChecksumAndReadBackWaits) {
  struct Case {
    const char* name;
    bool read_back;  // else the checksum wait
    bool dead;       // the line dies, else "a" and then Escape are typed
  };
  for (const Case& c :
       {Case{"checksum wait, keys", false, false}, Case{"checksum wait, dead line", false, true},
        Case{"read-back wait, keys", true, false}, Case{"read-back wait, dead line", true, true}}) {
    SCOPED_TRACE(c.name);
    sim::RadioConfig config = Radio();
    if (c.read_back) config.Add(sim::Fault::kBadChecksum);  // every word stored right
    StartRadio(config);
    ctx_->image = SmallImage();
    DeafPort& deaf = BetweenJobAndRadio();
    // Deaf after the last data frame's reply (no checksum is heard), or from the 20th read-back
    // word's request on (single bytes, three a word, from the verdict on).
    port_->on_write = [&, frames = std::uint64_t{0},
                       read_back = -1](std::span<const std::uint8_t> bytes) mutable {
      if (bytes.size() == 3 && ++frames == kSmallImageWords && !c.read_back) deaf.HearOnly(1);
      if (bytes.size() == 1 && bytes[0] == direct::kChecksumRejected) read_back = 0;
      if (read_back >= 0 && ++read_back == 1 + 3 * 20) deaf.HearOnly(0);
    };
    const std::size_t keys_before = console_.KeysTaken().size();
    int quiet = 0;
    on_quiet_ = [&] {
      if (!deaf.Deaf()) return;
      if (c.dead) {
        port_->HangUpAt(time_.Now());
      } else if (quiet < 2) {
        console_.FeedKey(quiet == 0 ? "a" : "\x1b");  // the Escape once the "a" was taken
      }
      ++quiet;
    };
    Run();
    on_quiet_ = nullptr;
    port_->on_write = nullptr;

    const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
    const std::vector<std::string> keys = console_.KeysTaken();
    if (c.dead) {
      EXPECT_EQ(ctx_->errors.count, 1);
      EXPECT_EQ(console_.RowText(51).substr(64, 12), "  1  59   0 ");
      EXPECT_EQ(keys.size() - keys_before, 6u);  // the three answers and the closing key
    } else {
      EXPECT_EQ(ctx_->errors.count, 0);
      ASSERT_GE(keys.size(), 3u);
      EXPECT_EQ(std::vector<std::string>(keys.end() - 3, keys.end()),
                (std::vector<std::string>{"a", "\x1b", "x"}));
    }
    if (c.read_back) {
      EXPECT_EQ(counters.direct.verdicts_rejected, 1u);
      EXPECT_EQ(counters.direct.readback_words, 20u);
      EXPECT_EQ(console_.RowTrimmed(21), "CHECK SUM ERROR!!!");
      EXPECT_TRUE(prompts_.empty());
    } else {
      EXPECT_EQ(counters.direct.verdicts_accepted + counters.direct.verdicts_rejected, 0u);
      EXPECT_EQ(counters.bytes_received, kHandshakeBytes + kSmallImageWords * 6);
      EXPECT_EQ(console_.RowTrimmed(19), "");
    }
    EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
    ExpectOutcome(console_, c.read_back ? kChecksumError : kStopped);
  }
}

}  // namespace
}  // namespace tvx::testing
