// The operator's answers, on the memory port: who goes on, what N, S and R do to what is sent
// and how often the network is waited for.
#include <string>

#include "app/upload_log.h"
#include "memory_rf_fixture.h"

namespace tvx::testing {
namespace {

TEST_F(MemoryRfTest, OnlyYesGoesOnAndNOfZeroOrAboveNineLeaves) {
  StartRadio(RfRadio());
  for (const std::string answer : {"yes\r", "N\r", "\r", "Y \r"}) {
    Run(answer);
    EXPECT_EQ(console_.RowTrimmed(6), "") << answer;
  }
  for (const std::string copies : {"0\r", "10\r"}) {
    Run("Y\r" + copies);
    EXPECT_EQ(console_.RowTrimmed(6).substr(0, 34), "Number of times each line is sent?") << copies;
    EXPECT_EQ(console_.RowTrimmed(7), "") << copies;  // no further question
  }
  EXPECT_EQ(port_->Opens(), 0);
  EXPECT_EQ(port_->SettledSnapshot()->counters.bytes_received, 0u);

  Run("Y\r9\r4143\r1\r");  // the largest N goes on
  EXPECT_EQ(port_->SettledSnapshot()->rf_records[4143].good, 9u);
}

TEST_F(MemoryRfTest, NegativeCopiesBuildAndShowEveryFrameButSendNothing) {
  StartRadio(RfRadio());
  Run("y\r-1\r0\r1\r");
  EXPECT_EQ(port_->Opens(), 1);
  EXPECT_EQ(port_->SettledSnapshot()->counters.bytes_received, 0u);
  EXPECT_EQ(priority_.raises, 0);
  EXPECT_EQ(console_.RowTrimmed(24), " 4143          0");
  EXPECT_EQ(console_.RowTrimmed(32), "Nothing sent: no copies of the frames were asked for.");
}

TEST_F(MemoryRfTest, StartAtRecordHundredSendsNoHeaderInAnyPass) {
  StartRadio(RfRadio());
  Run("y\r1\r100\r2\r");
  const auto snapshot = port_->SettledSnapshot();
  EXPECT_EQ(snapshot->counters.rf.header_frames_good, 0u);
  EXPECT_EQ(snapshot->counters.rf.data_frames_good, 2u * (4144 - 100));
  EXPECT_EQ(snapshot->rf_records[99].good, 0u);
  EXPECT_EQ(snapshot->rf_records[100].good, 2u);
  EXPECT_EQ(console_.RowTrimmed(32),
            "Broadcast complete: 2 passes, 8088 frames, 0 echo mismatches.");
}

TEST_F(MemoryRfTest, StartPastTheLastRecordEndsEachPassAtOnce) {
  StartRadio(RfRadio());
  Run("y\r1\r4144\r2\r");
  EXPECT_EQ(port_->SettledSnapshot()->counters.bytes_received, 0u);
  EXPECT_EQ(countdown_.size(), 6u);
  EXPECT_EQ(console_.RowTrimmed(32), "Nothing sent: record 4144 is past the last record, 4143.");
  const std::string line = app::FormatLogLine(app::RfLogEntry(outcome_), {});
  EXPECT_NE(line.find("\"outcome\":\"nothing_sent\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"reason\":\"start_past_end\""), std::string::npos) << line;
}

TEST_F(MemoryRfTest, RepeatCountsDecideTheCountdowns) {
  StartRadio(RfRadio());
  Run("y\r1\r0\r0\r");  // R = 0: opened, then the end prompt at once
  EXPECT_EQ(port_->Opens(), 1);
  EXPECT_EQ(port_->SettledSnapshot()->counters.bytes_received, 0u);
  EXPECT_EQ(console_.RowTrimmed(32), "Nothing sent: no pass was asked for.");
  EXPECT_EQ(app::RfLogEntry(outcome_).reason, "no_pass");

  Run("y\r1\r4143\r3\r");  // R = 3: after the first and the second pass only
  EXPECT_EQ(port_->SettledSnapshot()->rf_records[4143].good, 3u);
  ASSERT_EQ(countdown_.size(), 12u);
  EXPECT_EQ(countdown_[6], "Waiting to re-acuire radio network 5");
  EXPECT_EQ(countdown_[11], "Waiting to re-acuire radio network 0");
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast complete: 3 passes, 3 frames, 0 echo mismatches.");
}

// A key with R = 1 ends the broadcast without a countdown. The key comes as the third copy goes
// out, so the broadcast stops at the third record.
TEST_F(MemoryRfTest, KeyWithOnePassEndsWithoutACountdown) {
  StartRadio(RfRadio());
  KeyAtDataCopy(3, "s");
  Run("y\r1\r4130\r1\r");
  EXPECT_TRUE(countdown_.empty());
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast stopped at record 4132");
  EXPECT_EQ(outcome_.frames, 2);
}

}  // namespace
}  // namespace tvx::testing
