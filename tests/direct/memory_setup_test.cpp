// Set-up of a direct upload on the memory radio: the three questions, the radio's identity and
// serial-number range, and the erase wait.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "memory_upload_fixture.h"

namespace tvx::testing {
namespace {

// A port that does not open, in the menu: the status line shows the count and code, "Can't Open
// Com Port" is printed under the port question with a beep of its own, and it stays up for the
// two-second pause, the only one; then the menu, with no key waited for and nothing sent.
TEST_F(MemoryUploadTest, APortThatDoesNotOpenIsShownWithItsCodeABeepAndTwoSeconds) {
  StartRadio(Radio());
  port_->FailOpen(serial::kErrNoSuchPort);
  std::string shown;
  int beeps = -1;
  clock_.on_pause = [&](int) {
    shown = console_.RowTrimmed(4) + "|" + console_.RowText(51).substr(64, 12);
    beeps = console_.Beeps();
  };
  console_.Feed("N\r");
  const direct::Result result = direct::RunDirectUpload(*ctx_);

  EXPECT_EQ(clock_.Pauses(), std::vector<int>{2000});
  EXPECT_EQ(shown, "Can't Open Com Port|  1  53   0 ");
  EXPECT_EQ(beeps, 2);  // the error report's and the message's
  EXPECT_EQ(console_.Beeps(), 2);
  EXPECT_EQ(result.outcome, direct::Outcome::kPortNotOpened);
  EXPECT_FALSE(console_.Starved());
  EXPECT_EQ(console_.KeysLeft(), 0u);
  EXPECT_TRUE(port_->Wire().empty());
}

constexpr const char* kPortQuestion = "Enter Y for Diag Port, N for data port, <Return> to Quit";
constexpr const char* kSetupQuestion = "Radio in setup? (Y,N, or Return to Quit)";

// Only "Y", "y", "N" and "n" choose a port; only the diagnostic port is woken with one "U";
// anything but "Y" or "y" to the set-up question closes the port again.
TEST_F(MemoryUploadTest, QuestionsTakeOnlyExactAnswers) {
  StartRadio(Radio());
  for (const std::string answer : {"", " Y", "Y ", "yes"}) {
    answers_ = answer + "\r";
    Run(0);
    const std::string asked = std::string(kPortQuestion) + " " + answer;
    EXPECT_EQ(console_.RowText(3).substr(0, asked.size()), asked);
  }
  EXPECT_EQ(console_.RowTrimmed(1), "           Download New Firmware to Radio");

  answers_ = "Y\rN\r";  // diagnostic port; radio not in set-up
  Run();
  EXPECT_EQ(console_.RowTrimmed(4), std::string(kSetupQuestion) + " N");
  EXPECT_EQ(port_->SettledSnapshot()->counters.direct.diag_wakes, 1u);
  for (const char* keys : {"n\r\r", "N\ryes\r", "N\rY \r"}) {  // data port, no confirmation
    answers_ = keys;
    Run();
  }
  EXPECT_EQ(port_->SettledSnapshot()->counters.bytes_received, 1u);  // the one "U"
}

// The radio goes away while its identity is awaited: the wait ends at once with the report (59)
// and "Radio not answering: the line is dead.", no key is asked for, and after the 2 s pause the
// menu returns. The next upload on a healthy line starts clean.
TEST_F(MemoryUploadTest, DeadLineInTheIdentityWaitReturnsToTheMenu) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kSilent);
  StartRadio(config);
  ctx_->image = SmallImage();
  on_quiet_ = [this] { port_->HangUpAt(time_.Now()); };
  int reports_at_pause = -1;
  clock_.on_pause = [&](int ms) {
    if (ms == 2000) reports_at_pause = ctx_->errors.count;
  };
  Run();
  clock_.on_pause = nullptr;
  on_quiet_ = nullptr;
  EXPECT_EQ(reports_at_pause, 1);
  EXPECT_EQ(console_.RowTrimmed(8), "Waiting for Radio ID");
  EXPECT_EQ(console_.RowTrimmed(9), "Radio not answering: the line is dead.");
  EXPECT_EQ(console_.RowText(51).substr(64, 12), "  1  59   0 ");
  EXPECT_EQ(console_.Beeps(), 1);

  NextRadio(Radio());
  Run();
  EXPECT_EQ(ctx_->errors.count, 1);
  EXPECT_EQ(console_.Beeps(), 1);
  EXPECT_EQ(console_.RowTrimmed(32), "Upload complete: the radio accepted the checksum.");
}

TEST_F(MemoryUploadTest, IdentityWaitEndsOnAnyKeyOrAWrongMarker) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kSilent);
  StartRadio(config);
  answers_.clear();
  console_.FeedKeys({"N", "\r", "Y", "\r", "\r", std::string("\0;", 2)});  // then F1
  Run();
  EXPECT_EQ(console_.RowTrimmed(8), "Waiting for Radio ID");
  EXPECT_EQ(console_.RowTrimmed(9), "");
  EXPECT_EQ(port_->SettledSnapshot()->counters.bytes_received, kHandshakeBytes - 1);  // no erase
  EXPECT_EQ(result_.outcome, direct::Outcome::kStopped);

  config.faults.clear();
  config.Add(sim::Fault::kBadIdentity);
  StartRadio(config);
  const int beeps = console_.Beeps();
  answers_ = "N\rY\r\r";
  Run();
  EXPECT_EQ(console_.Beeps() - beeps, 1);
  EXPECT_EQ(console_.RowTrimmed(9), "");
  const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
  EXPECT_EQ(counters.bytes_received, kHandshakeBytes - 1);  // neither "!" nor the erase command
  EXPECT_EQ(counters.direct.identities_sent, 1u);
  EXPECT_EQ(result_.outcome, direct::Outcome::kRefused);

  // A radio whose access code is not the program's hears a wrong code and stays silent: the
  // job waits for its identity until a key is pressed.
  config.faults.clear();
  config.access_code[2] ^= 0x40;
  StartRadio(config);
  on_quiet_ = [this, fed = false]() mutable {
    if (!fed) console_.FeedKey("x");
    fed = true;
  };
  Run();
  on_quiet_ = nullptr;
  const sim::RadioCounters silent = port_->SettledSnapshot()->counters;
  EXPECT_EQ(console_.RowTrimmed(9), "");
  EXPECT_EQ(silent.direct.access_code_faults, 1u);
  EXPECT_EQ(silent.direct.identities_sent, 0u);
  EXPECT_EQ(silent.bytes_sent, 0u);
  EXPECT_EQ(console_.KeysTaken().back(), "x");
}

TEST_F(MemoryUploadTest, HighSpeedAnswerChoosesDivisorAndLineRate) {
  struct Case {
    std::string answer;
    std::uint8_t divisor;
    std::uint32_t rate;
  };
  sim::RadioConfig config = Radio();
  config.serial = 9280001;  // refused: the job ends right after the identity
  StartRadio(config);
  const Case cases[] = {{"y", 0x04, 115200},
                        {"Y", 0x04, 115200},
                        {"YES", 0x18, 19200},
                        {"n", 0x18, 19200},
                        {"", 0x18, 19200}};
  std::uint32_t runs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("answer '" + c.answer + "'");
    answers_ = "N\rY\r" + c.answer + "\r";
    Run();
    ++runs;
    const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
    EXPECT_EQ(counters.direct.last_divisor, c.divisor);
    EXPECT_EQ(port_->RadioLine().rate, c.rate);
    EXPECT_TRUE(port_->RadioLine().IsPlain8N1());
    EXPECT_EQ(counters.direct.identities_sent, runs);
    EXPECT_EQ(counters.direct.refusals, runs);
    EXPECT_EQ(counters.direct.access_code_faults, 0u);
    EXPECT_EQ(counters.direct.divisor_faults, 0u);
    EXPECT_EQ(counters.direct.line_rate_faults, 0u);
    EXPECT_NE(counters.direct.last_challenge, 0);
    const std::string asked =
        "High Speed Download (use with caution and FIFO enabled) (N (default), or Y ) " + c.answer;
    EXPECT_EQ(console_.RowText(6).substr(0, asked.size()), asked);
  }
}

TEST_F(MemoryUploadTest, SerialNumberRangeDecidesBetweenEraseAndRefusal) {
  struct Case {
    std::uint32_t serial;
    bool accepted;
  };
  // What the terminal had been shown when "!" went out and when the 2 s pause began.
  int presents_at_refusal = -1;
  int presents_at_pause = -1;
  clock_.on_pause = [&](int ms) {
    if (ms == 2000) presents_at_pause = console_.Presents();
  };
  for (const Case c :
       {Case{9109999, false}, Case{9110000, true}, Case{9280000, true}, Case{9280001, false}}) {
    SCOPED_TRACE(c.serial);
    sim::RadioConfig config = Radio();
    config.serial = c.serial;
    config.erase_seconds = 60;  // the operator leaves the erase wait with Escape
    StartRadio(config);
    const int beeps = console_.Beeps();
    const long long slept = clock_.SleptMs();
    port_->on_write = [&](std::span<const std::uint8_t> bytes) {
      if (bytes.size() == 1 && bytes[0] == 0x21) presents_at_refusal = console_.Presents();
      // The erase command, the last handshake byte: the radio erases from now on.
      if (c.accepted && bytes.size() == 1 && port_->Wire().size() == kHandshakeBytes - 1) {
        console_.Feed("\x1b");
      }
    };
    Run();
    const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
    EXPECT_EQ(console_.RowTrimmed(8), "Waiting for Radio ID");
    // The number is printed with a sign position and a trailing blank.
    const std::string shown = "Radio Serial Number is  " + std::to_string(c.serial) + " ";
    EXPECT_EQ(console_.RowText(9).substr(0, shown.size() + 1), shown + " ");
    if (c.accepted) {
      EXPECT_EQ(port_->Wire().back().value, direct::kStartErase);
      EXPECT_EQ(console_.RowTrimmed(10), "Waiting for erase");
      EXPECT_EQ(console_.RowTrimmed(11), "");
      EXPECT_EQ(counters.direct.erases, 1u);
      EXPECT_EQ(counters.direct.refusals, 0u);
      EXPECT_EQ(console_.Beeps() - beeps, 0);
      EXPECT_EQ(clock_.SleptMs() - slept, kHandshakePauseMs + 10);
      EXPECT_EQ(counters.bytes_received, kHandshakeBytes);
    } else {
      EXPECT_EQ(console_.RowTrimmed(10), "");
      EXPECT_EQ(console_.RowTrimmed(11), "Not a Torvandrix Radio!!!");
      EXPECT_EQ(counters.direct.erases, 0u);
      EXPECT_EQ(counters.direct.refusals, 1u);
      EXPECT_EQ(console_.Beeps() - beeps, 1);
      EXPECT_EQ(clock_.SleptMs() - slept, kHandshakePauseMs + 2000);
      // The refusal is on the terminal during the pause, not only in the screen model.
      EXPECT_GT(presents_at_pause, presents_at_refusal);
    }
  }
  clock_.on_pause = nullptr;
}

TEST_F(MemoryUploadTest, EraseWaitDropsKeysAndBeepsAtNoise) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kGarbage, 0,
             3);  // after "4" (discarded by the handshake) and before the erase-done
  config.erase_seconds = 0.3;
  StartRadio(config);
  ctx_->image = SmallImage();
  port_->on_write = [&](std::span<const std::uint8_t> bytes) {
    // The erase command, the last handshake byte: the key comes while the radio erases.
    if (bytes.size() == 1 && port_->Wire().size() == kHandshakeBytes - 1) console_.Feed("a");
  };
  bool escaped = false;
  priority_.on_normal = [&](int raises) {
    if (raises == 2 && !escaped) {  // the first record went out: leave between records
      escaped = true;
      console_.Feed("\x1b");
    }
  };
  Run();
  const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
  EXPECT_EQ(console_.Beeps(), 3);
  EXPECT_EQ(console_.RowTrimmed(11), "Starting Download");
  EXPECT_EQ(counters.direct.word_attempts, 8u);
  ASSERT_GE(console_.KeysTaken().size(), 7u);
  EXPECT_EQ(console_.KeysTaken()[5], "a");
}

}  // namespace
}  // namespace tvx::testing
