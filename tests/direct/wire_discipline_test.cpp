// The direct upload through the real serial backend, against a simulated radio on a
// pseudo-terminal that keeps a real radio's discipline: the handshake's line rate and pauses and
// answers that take their time. (Everything else runs on the memory port: memory_*_test.cpp.)
#include <string>

#include "direct/protocol.h"
#include "upload_fixture.h"

namespace tvx::testing {
namespace {

bool Refused(const sim::RadioCounters& r) {
  return r.direct.handshakes_refused > 0;
}

// At 19200 and at 115200, with the radio answering at line time: the handshake goes out at
// 19200 bit/s with the radio's pauses, the line switches only after the challenge, and the
// radio answers with its identity. (A radio that refused would stay silent; the key then ends
// the wait at once.)
TEST_F(DirectUploadTest, HandshakeKeepsTheRadiosRateAndPauses) {
  for (const bool high_speed : {false, true}) {
    SCOPED_TRACE(high_speed ? "high speed" : "normal speed");
    sim::RadioConfig config = FastRadio();
    config.line_time = true;
    config.serial = 9280001;  // refused by the PC: the job ends right after the identity
    StartRadio(config);
    console_.Feed(high_speed ? "N\rY\rY\r" : "N\rY\r\r");
    FeedWhen(Refused, "x");
    Run();
    const sim::RadioCounters counters = SettledCounters();
    EXPECT_EQ(counters.direct.handshakes_refused, 0u);
    EXPECT_EQ(counters.direct.line_rate_faults, 0u);
    EXPECT_EQ(counters.direct.pause_faults, 0u);
    EXPECT_EQ(counters.direct.identities_sent, 1u);
    EXPECT_EQ(counters.direct.refusals, 1u);
    EXPECT_EQ(console_.RowTrimmed(9), "Radio Serial Number is  9280001");
    EXPECT_EQ(radio_->Line().rate, high_speed ? 115200u : 19200u);
  }
}

}  // namespace
}  // namespace tvx::testing
