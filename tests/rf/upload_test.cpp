// Whole RF uploads of the release image through the real serial backend: the radio checks every
// frame it hears (CRC, fields, descrambled data against the image) and counts the copies of each
// record. (Several passes and copies, echo faults and a radio that goes away run on the memory
// port: memory_rf_test.cpp.)
#include <string>

#include "rf_fixture.h"

namespace tvx::testing {
namespace {

constexpr std::uint64_t kRecords = 4144;

// Every record of the image heard exactly `copies` good times, nothing bad.
void ExpectEveryRecord(const sim::RadioSnapshot& snapshot, std::uint32_t copies) {
  ASSERT_EQ(snapshot.rf_records.size(), kRecords);
  int wrong = 0;
  for (std::size_t r = 0; r < kRecords; ++r) {
    const sim::RecordFrameStats& stats = snapshot.rf_records[r];
    if (stats.good != copies || stats.bad != 0) {
      if (++wrong < 5) ADD_FAILURE() << "record " << r << ": " << stats.good << " good";
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(snapshot.counters.rf.data_frames_bad, 0u);
  EXPECT_EQ(snapshot.counters.rf.malformed_frames, 0u);
}

TEST_F(RfUploadTest, OnePassOneCopyEveryFrameVerified) {
  StartRadio(FastRadio());
  Run("y\r1\r0\r1\r");

  const auto snapshot = Settled();
  ExpectEveryRecord(*snapshot, 1);
  EXPECT_EQ(snapshot->counters.rf.header_frames_good, 1u);
  EXPECT_EQ(snapshot->counters.rf.header_frames_bad, 0u);
  EXPECT_EQ(priority_.raises, 4144);  // every data-frame copy, no header copy
  EXPECT_TRUE(countdown_.empty());    // R = 1: no re-acquisition wait

  EXPECT_EQ(console_.RowTrimmed(1), "       Download New Firmware to Radio Over RF");
  EXPECT_EQ(console_.RowTrimmed(4),
            "Serial Port connected to Radio diagnostic port? (Y,N, or Return to Quit) y");
  EXPECT_EQ(console_.RowTrimmed(6), "Number of times each line is sent? (1-9) (0 to quit) 1");
  EXPECT_EQ(console_.RowTrimmed(7), "Starting Line Number? (enter 0 to start at beqinning) 0");
  EXPECT_EQ(console_.RowTrimmed(8), "Number of times to repeat full process 1");
  EXPECT_EQ(console_.RowTrimmed(10), " Creating DownLoad File  1");
  EXPECT_EQ(console_.RowTrimmed(15), " 4143   93 6");
  EXPECT_EQ(console_.RowTrimmed(19), "93  36  10  30  6  42  38");
  EXPECT_EQ(console_.RowTrimmed(21), "E2  93  36  10  30  6  42  38");  // the header's echo
  EXPECT_EQ(console_.RowTrimmed(24), " 4143          0");
  EXPECT_EQ(console_.RowTrimmed(25).substr(0, 15), "   5  36 10 2F ");  // m = 5, index 0x102F
  EXPECT_EQ(console_.RowTrimmed(28), "");
  EXPECT_EQ(console_.RowTrimmed(30), "Hit any key to return to main menu");
  EXPECT_TRUE(console_.RowColours(30, 1, 34, console::kYellow, console::kBlue));
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast complete: 1 pass, 4144 frames, 0 echo mismatches.");
  EXPECT_EQ(console_.Screen().CurrentAttr(), console::MakeAttr(console::kBrightWhite, 0));
  EXPECT_EQ(console_.Beeps(), 0);
  EXPECT_EQ(ctx_->rf_mismatch_count, 0);
}

}  // namespace
}  // namespace tvx::testing
