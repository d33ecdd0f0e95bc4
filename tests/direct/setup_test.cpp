// Set-up of a direct upload through the real serial backend: a radio that goes away while its
// identity is awaited. (The questions, the identity and the erase wait run on the memory port.)
#include <string>

#include "upload_fixture.h"

namespace tvx::testing {
namespace {

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
