// A stop request (what a signal makes of SIGTERM or SIGINT) in the middle of an RF broadcast:
// the pass ends before the next record goes out, no countdown, no end prompt, and the outcome
// and its log line say where.
#include <csignal>
#include <string>

#include "app/upload_log.h"
#include "rf_fixture.h"
#include "support/stop_at_progress.h"

namespace tvx::testing {
namespace {

TEST_F(RfUploadTest, StopRequestEndsThePassBeforeTheNextRecord) {
  StartRadio(FastRadio());
  StopAtProgress monitor(console_, 10, SIGINT);
  ctx_->monitor = &monitor;
  Run("y\r2\r0\r3\r");

  EXPECT_EQ(port_->DataFrameWrites(), 20);  // records 0..9, two copies each
  const auto snapshot = Settled();
  EXPECT_EQ(snapshot->rf_records[9].good, 2u);
  EXPECT_EQ(snapshot->rf_records[10].good, 0u);
  EXPECT_TRUE(countdown_.empty());
  EXPECT_TRUE(outcome_.interrupted);
  EXPECT_EQ(outcome_.stop_record, 10);
  EXPECT_EQ(outcome_.frames, 10);
  EXPECT_EQ(outcome_.passes, 0);
  EXPECT_FALSE(ctx_->port.IsOpen());
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast stopped at record 10");
  const std::vector<std::string> keys = console_.KeysTaken();
  EXPECT_TRUE(keys.empty() || keys.back() != "x") << "the end prompt waited for a key";

  const std::string line = app::FormatLogLine(app::RfLogEntry(outcome_), {});
  EXPECT_NE(line.find("\"outcome\":\"interrupted\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"record\":10"), std::string::npos) << line;
  EXPECT_NE(line.find("\"frames\":10"), std::string::npos) << line;
}

// The stop comes during the six seconds between two passes: the passes so far count as run.
TEST_F(RfUploadTest, StopRequestInTheCountdownEndsTheBroadcast) {
  StartRadio(FastRadio());
  clock_.on_pause = [this, note = clock_.on_pause](int ms) {
    note(ms);
    if (ms == 1000 && countdown_.size() == 2) console_.RequestStop(SIGTERM);
  };
  Run("y\r1\r4140\r3\r");

  EXPECT_EQ(port_->DataFrameWrites(), 4);  // one pass of records 4140..4143
  EXPECT_TRUE(outcome_.interrupted);
  EXPECT_EQ(outcome_.passes, 1);
  EXPECT_EQ(outcome_.frames, 4);
  EXPECT_EQ(countdown_.size(), 2u);
  // No record was under way: the line and the log say how many passes ran.
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast stopped between passes: 1 of 3 passes complete.");
  const std::string line = app::FormatLogLine(app::RfLogEntry(outcome_), {});
  EXPECT_EQ(line.find("\"record\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"passes\":1,"), std::string::npos) << line;
  EXPECT_NE(line.find("\"reason\":\"signal\""), std::string::npos) << line;
}

}  // namespace
}  // namespace tvx::testing
