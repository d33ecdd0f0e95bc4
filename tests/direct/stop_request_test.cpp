// A stop request (what a signal makes of SIGTERM or SIGINT) in the middle of a direct upload:
// the job ends after the word on the wire, sends the radio nothing more, closes the port and
// says how far it got; a stop during a silent wait ends the wait without a key.
#include <csignal>
#include <string>

#include "app/upload_log.h"
#include "support/stop_at_progress.h"
#include "upload_fixture.h"

namespace tvx::testing {
namespace {

TEST_F(DirectUploadTest, StopRequestEndsTheTransferAfterTheWordOnTheWire) {
  StartRadio(FastRadio());
  StopAtProgress monitor(console_, 50, SIGTERM);
  ctx_->monitor = &monitor;
  console_.Feed("N\rY\r\r");
  Run();

  // The radio heard the handshake and exactly 50 words, each answered; then nothing: no
  // resync, no 51st address frame, no verdict.
  const sim::RadioCounters counters = SettledCounters();
  EXPECT_EQ(counters.direct.word_attempts, 50u);
  EXPECT_EQ(counters.direct.words_checked_ok, 50u);
  EXPECT_EQ(counters.direct.resyncs, 0u);
  EXPECT_EQ(counters.direct.verdicts_accepted + counters.direct.verdicts_rejected, 0u);
  EXPECT_EQ(counters.bytes_received, kHandshakeBytes + 50 * 6);

  EXPECT_EQ(result_.outcome, direct::Outcome::kInterrupted);
  EXPECT_EQ(result_.words_done, 50);
  EXPECT_FALSE(ctx_->port.IsOpen());
  EXPECT_EQ(console_.RowTrimmed(32),
            "Upload stopped before the end: the radio's firmware is incomplete.");
  // The closing key is not waited for: the program is ending.
  EXPECT_TRUE(console_.KeysTaken().back() == "\r");

  // The log line says so, with the word reached.
  app::LogEntry entry = app::DirectLogEntry(result_);
  const std::string line = app::FormatLogLine(entry, {});
  EXPECT_NE(line.find("\"outcome\":\"interrupted\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"word\":50"), std::string::npos) << line;
}

// A radio that never answers the identity request: the stop, asked for from another thread,
// ends the wait (no key is fed) and nothing is erased.
TEST_F(DirectUploadTest, StopRequestEndsASilentIdentityWait) {
  sim::RadioConfig config = FastRadio();
  config.access_code = {0x11, 0x22, 0x33, 0x44};  // not the uploader's: the radio stays silent
  StartRadio(config);
  DoWhen([](const sim::RadioCounters& c) { return c.bytes_received >= kHandshakeBytes - 1; },
         [this] { console_.RequestStop(SIGINT); });
  console_.Feed("N\rY\r\r");
  Run();

  EXPECT_EQ(result_.outcome, direct::Outcome::kInterrupted);
  EXPECT_FALSE(result_.serial_number.has_value());
  EXPECT_FALSE(console_.Starved());
  EXPECT_FALSE(ctx_->port.IsOpen());
  EXPECT_EQ(SettledCounters().direct.word_attempts, 0u);
}

}  // namespace
}  // namespace tvx::testing
