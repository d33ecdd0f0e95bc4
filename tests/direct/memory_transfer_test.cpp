// The word transfer on the memory radio, as the menu shows it: the progress line across uploads,
// every operator prompt with both answers, Escape between records, and a line that dies.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "memory_upload_fixture.h"

namespace tvx::testing {
namespace {

constexpr const char* kAccepted = "Upload complete: the radio accepted the checksum.";

// The progress line is refreshed on every eighth record, on a counter the jobs never reset: 18
// records leave it at the sixteenth (record 16; the empty record 2 is skipped), and a second
// upload shows its sixth and fourteenth (record 14).
TEST_F(MemoryUploadTest, ProgressLineEveryEighthRecordAcrossUploads) {
  StartRadio(Radio());
  ctx_->image = SmallImage();
  Run();
  EXPECT_EQ(console_.RowTrimmed(25), "   16   FFD0   16");
  EXPECT_EQ(ctx_->progress_counter, 2);
  NextRadio(Radio());
  Run();
  EXPECT_EQ(console_.RowTrimmed(25), "   14   FFB0   16");
  EXPECT_EQ(ctx_->progress_counter, 4);
  EXPECT_EQ(console_.RowTrimmed(32), kAccepted);
}

// Every prompt answered with a key other than Escape: the word is resent (or the data frame
// written again) and the checksum still holds, but the outcome names the resent words it cannot
// vouch for, each once however often it went out.
TEST_F(MemoryUploadTest, PromptsResendTheWordAndTheOutcomeCountsTheResentWords) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kDropEcho, 5);    // a key is pressed while the echo is awaited
  config.Add(sim::Fault::kBadEcho, 20);    // wrong echo
  config.Add(sim::Fault::kDropReply, 60);  // a key is pressed while the reply is awaited
  config.Add(sim::Fault::kBadReply, 61);   // wrong reply to that resend: it goes out 3 times
  StartRadio(config);
  ctx_->image = SmallImage();
  port_->RefuseWrite(3, 40);  // a data frame not written
  on_quiet_ = [this] { console_.Feed("\r"); };
  bool row30_blank_at_verdict = false;
  port_->on_write = [&](std::span<const std::uint8_t> bytes) {
    if (bytes.size() == 1 && bytes[0] == direct::kChecksumAccepted) {
      row30_blank_at_verdict =
          console_.RowTrimmed(30).empty() &&
          console_.RowColours(30, 1, 79, console::kBrightWhite, console::kBlack);
    }
  };
  Answer("Waiting for Address Response", "Y");
  Answer(" Continue?(<esc>", "c");
  Answer("Error on Data Transmit", "\r");
  Answer("Waiting for Data  Response", "r");
  Answer("Bad Data!", "y");
  Run();

  const auto snapshot = port_->SettledSnapshot();
  const sim::DirectCounters& direct = snapshot->counters.direct;
  EXPECT_EQ(direct.word_attempts, kSmallImageWords + 4);
  EXPECT_EQ(direct.resyncs, 4u);
  EXPECT_EQ(direct.check_byte_failures, 0u);
  EXPECT_EQ(direct.verdicts_accepted, 1u);
  EXPECT_EQ(MemoryMismatches(snapshot->memory, SmallImage()), 0);

  ASSERT_EQ(prompts_.size(), 5u);
  EXPECT_EQ(prompts_[0], "Waiting for Address Response, Retry? (Y or <esc> to quit)");
  EXPECT_EQ(prompts_[1], "I Sent FF0E   I Got EFF     Continue?(<esc> to quit)");
  EXPECT_EQ(prompts_[2], "Error on Data Transmit Resend? (<esc> to quit)");
  EXPECT_EQ(prompts_[3], "I Sent FF5C    Waiting for Data  Response, Resend? (<esc> to quit)");
  EXPECT_EQ(prompts_[4],
            "I Sent 35     I Got 35      Address FF5C  Bad Data!,Continue?(<esc> to quit)");
  for (std::size_t i = 0; i < prompts_.size(); ++i) EXPECT_TRUE(prompts_yellow_on_blue_[i]) << i;
  EXPECT_EQ(console_.Beeps(), 3);  // wrong echo, unwritten frame, wrong reply; not the asked-for
  // Each prompt's row is blanked in white on black once answered.
  EXPECT_TRUE(row30_blank_at_verdict);
  EXPECT_EQ(console_.RowText(32) + console_.RowTrimmed(33),
            "Checksum accepted, but 3 resent words are not covered by it: upload again to be "
            "sure.");
  EXPECT_EQ(result_.resent_words, 3);
  EXPECT_TRUE(console_.RowColours(32, 1, 80, console::kYellow, console::kRed));
  EXPECT_TRUE(console_.RowColours(30, 35, 79, console::kBrightWhite, console::kBlack));
}

// Keys between records: Escape gives up after the record, any other key is dropped. The
// program time is measured on the monotonic clock, so a transfer across midnight shows the
// time it took.
TEST_F(MemoryUploadTest, EscapeBetweenRecordsAbortsAfterTheRecord) {
  StartRadio(Radio());
  ctx_->image = SmallImage();
  // Set-up pauses take 1.375 s and the transfer starts after 1 s more: 86399.4 then.
  clock_.SetTimeOfDayAtStart(86400.0 - 3.0);
  const double transfer_from = 0.365 + 0.25 + 1.0;  // about: handshake, erase, the second
  bool fed_a = false;
  bool fed_escape = false;
  priority_.on_normal = [&](int raises) {
    if (raises == 4 && !fed_a) {  // three records done
      fed_a = true;
      console_.Feed("a");
    }
    if (raises == 11 && !fed_escape) {  // ten records done; five seconds pass, midnight too
      fed_escape = true;
      clock_.SleepMs(5000);
      console_.Feed("\x1b");
    }
  };
  Run();
  const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
  EXPECT_EQ(counters.direct.word_attempts, 8u + 3u + 8 * 8u);  // ten records
  EXPECT_EQ(counters.bytes_received, kHandshakeBytes + 75 * 6);
  EXPECT_EQ(counters.direct.checksums_sent, 0u);
  EXPECT_EQ(console_.KeysTaken()[5], "a");
  EXPECT_EQ(console_.KeysTaken()[6], "\x1b");
  // Five seconds of pause plus the line time of ten records; not the day's wrap, not the pause
  // counted twice.
  const double shown = ShownProgramTime(console_);
  EXPECT_GE(shown, 5.0) << console_.RowTrimmed(29);
  EXPECT_LT(shown, 5.0 + time_.Now() - transfer_from) << console_.RowTrimmed(29);
  EXPECT_EQ(console_.RowTrimmed(32), kStopped);
}

// The radio goes away after the fifth word (an adapter pulled out): the job notices at the next
// wait, reports 59 at once, offers no retry and ends with the program time and the outcome.
// The next upload on a healthy line starts clean: nothing is carried into its first check.
TEST_F(MemoryUploadTest, DeadLineInTheTransferEndsTheUploadAndIsNotCarriedOn) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kHangUp, 5);
  StartRadio(config);
  ctx_->image = SmallImage();
  int reports_when_dead_left = -1;  // at the first return to normal priority on a dead line
  priority_.on_normal = [&](int) {
    if (reports_when_dead_left < 0 && port_->LineDead()) {
      reports_when_dead_left = ctx_->errors.count;
    }
  };
  Run();
  priority_.on_normal = nullptr;
  EXPECT_EQ(reports_when_dead_left, 1);  // reported by the wait that saw it
  EXPECT_TRUE(prompts_.empty());
  EXPECT_EQ(ctx_->errors.count, 1);
  EXPECT_EQ(console_.RowText(51).substr(64, 12), "  1  59   0 ");
  EXPECT_EQ(console_.Beeps(), 1);  // the report's
  EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
  EXPECT_EQ(console_.RowTrimmed(32), kStopped);
  EXPECT_EQ(console_.RowTrimmed(30), "Hit any key to return to main menu");

  NextRadio(Radio());
  Run();
  EXPECT_EQ(ctx_->errors.count, 1);
  EXPECT_EQ(ctx_->errors.code, 0);
  EXPECT_EQ(console_.Beeps(), 1);
  EXPECT_EQ(port_->SettledSnapshot()->counters.direct.verdicts_accepted, 1u);
  EXPECT_EQ(console_.RowTrimmed(32), kAccepted);
}

}  // namespace
}  // namespace tvx::testing
