// Set-up of a direct upload: the three questions, the handshake and line-rate switch, the
// radio's identity and serial-number range, and the erase wait.
#include <string>

#include "upload_fixture.h"

namespace tvx::testing {
namespace {

constexpr const char* kPortQuestion = "Enter Y for Diag Port, N for data port, <Return> to Quit";
constexpr const char* kSetupQuestion = "Radio in setup? (Y,N, or Return to Quit)";

// Only "Y", "y", "N" and "n" choose a port; only the diagnostic port is woken with one "U";
// anything but "Y" or "y" to the set-up question closes the port again.
TEST_F(DirectUploadTest, QuestionsTakeOnlyExactAnswers) {
  StartRadio(FastRadio());
  for (const std::string answer : {"", " Y", "Y ", "yes"}) {
    console_.Feed(answer + "\r");
    Run();
    const std::string asked = std::string(kPortQuestion) + " " + answer;
    EXPECT_EQ(console_.RowText(3).substr(0, asked.size()), asked);
  }
  EXPECT_EQ(console_.RowTrimmed(1), "           Download New Firmware to Radio");
  EXPECT_EQ(port_->Opens(), 0);

  console_.Feed("Y\rN\r");  // diagnostic port; radio not in set-up
  Run();
  EXPECT_EQ(console_.RowTrimmed(4), std::string(kSetupQuestion) + " N");
  EXPECT_EQ(SettledCounters().direct.diag_wakes, 1u);
  for (const char* keys : {"n\r\r", "N\ryes\r", "N\rY \r"}) {  // data port, no confirmation
    console_.Feed(keys);
    Run();
  }
  EXPECT_EQ(port_->Opens(), 4);
  EXPECT_EQ(SettledCounters().bytes_received, 1u);  // the one "U"
}

TEST_F(DirectUploadTest, IdentityWaitEndsOnAnyKeyOrAWrongMarker) {
  sim::RadioConfig config = FastRadio();
  config.Add(sim::Fault::kSilent);
  StartRadio(config);
  console_.FeedKeys({"N", "\r", "Y", "\r", "\r", std::string("\0;", 2)});  // then F1
  Run();
  EXPECT_EQ(console_.RowTrimmed(8), "Waiting for Radio ID");
  EXPECT_EQ(console_.RowTrimmed(9), "");
  EXPECT_EQ(console_.KeysLeft(), 0u);
  EXPECT_EQ(SettledCounters().bytes_received, kHandshakeBytes - 1);  // no erase command
  EXPECT_EQ(result_.outcome, direct::Outcome::kStopped);

  config.faults.clear();
  config.Add(sim::Fault::kBadIdentity);
  StartRadio(config);
  const int beeps = console_.Beeps();
  console_.Feed("N\rY\r\r");
  Run();
  EXPECT_EQ(console_.Beeps() - beeps, 1);
  EXPECT_EQ(console_.RowTrimmed(9), "");
  const sim::RadioCounters counters = SettledCounters();
  EXPECT_EQ(counters.bytes_received, kHandshakeBytes - 1);  // neither "!" nor the erase command
  EXPECT_EQ(counters.direct.identities_sent, 1u);
  EXPECT_EQ(result_.outcome, direct::Outcome::kRefused);
}

// The radio goes away while its identity is awaited: the wait ends at once with the report (59)
// and "Radio not answering: the line is dead.", no key is asked for, and after the 2 s pause the
// menu returns. The next upload on a healthy line starts clean.
TEST_F(DirectUploadTest, DeadLineInTheIdentityWaitReturnsToTheMenu) {
  sim::RadioConfig config = FastRadio();
  config.Add(sim::Fault::kSilent);
  StartRadio(config);
  int reports_at_pause = -1;
  clock_.on_pause = [&](int ms) {
    if (ms == 2000) reports_at_pause = ctx_->errors.count;
  };
  console_.Feed("N\rY\r\r");
  KillRadioWhen(
      [](const sim::RadioCounters& r) { return r.bytes_received >= kHandshakeBytes - 1; });
  Run();
  clock_.on_pause = nullptr;
  EXPECT_EQ(reports_at_pause, 1);
  EXPECT_EQ(console_.RowTrimmed(8), "Waiting for Radio ID");
  EXPECT_EQ(console_.RowTrimmed(9), "Radio not answering: the line is dead.");
  EXPECT_EQ(console_.RowText(51).substr(64, 12), "  1  59   0 ");
  EXPECT_EQ(console_.Beeps(), 1);

  StartRadio(FastRadio());
  console_.Feed("N\rY\r\r");
  Run();
  EXPECT_EQ(ctx_->errors.count, 1);
  EXPECT_EQ(console_.Beeps(), 1);
  EXPECT_EQ(console_.RowTrimmed(32), "Upload complete: the radio accepted the checksum.");
}

}  // namespace
}  // namespace tvx::testing
