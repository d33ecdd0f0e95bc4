// The direct upload against a simulated radio that keeps a real radio's discipline: the
// handshake's line rate and pauses, its own access code, answers that take their time, and the
// checksum of an even number of attempts.
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

// A radio whose access code is not the one the program was built with hears a wrong code and
// stays silent: the job waits for its identity until a key is pressed. The radio with the
// program's code answers.
TEST_F(DirectUploadTest, RadioWithAnotherAccessCodeLeavesTheJobWaitingForItsId) {
  for (const bool same_code : {false, true}) {
    SCOPED_TRACE(same_code ? "the program's code" : "another code");
    sim::RadioConfig config = FastRadio();
    config.serial = 9280001;
    if (!same_code) config.access_code[2] ^= 0x40;
    StartRadio(config);
    console_.Feed("N\rY\r\r");
    FeedWhen(Refused, "x");
    Run();
    const sim::RadioCounters counters = SettledCounters();
    EXPECT_EQ(console_.RowTrimmed(8), "Waiting for Radio ID");
    if (same_code) {
      EXPECT_EQ(console_.RowTrimmed(9), "Radio Serial Number is  9280001");
      EXPECT_EQ(counters.direct.identities_sent, 1u);
      EXPECT_EQ(counters.direct.access_code_faults, 0u);
    } else {
      EXPECT_EQ(console_.RowTrimmed(9), "");
      EXPECT_EQ(counters.direct.identities_sent, 0u);
      EXPECT_EQ(counters.direct.access_code_faults, 1u);
      EXPECT_EQ(counters.bytes_sent, 0u);
      EXPECT_EQ(console_.KeysTaken().back(), "x");  // the key that ended the wait
    }
  }
}

// One word refused once and sent again: 140 attempts (139 words and one resend), an even count, so
// the radio's checksum is the plain pair of XOR sums (the resent word dropped out of them) and the
// job accepts it.
TEST_F(DirectUploadTest, EvenAttemptCountIsAcceptedUncomplemented) {
  sim::RadioConfig config = FastRadio();
  config.Add(sim::Fault::kBadReply, 100);
  StartRadio(config);
  console_.Feed("N\rY\r\r");
  Answer("Bad Data!", "y");
  Run();
  const auto snapshot = SettledSnapshot();
  const sim::DirectCounters& direct = snapshot->counters.direct;
  EXPECT_EQ(direct.word_attempts, kSmallImageWords + 1);
  image::PairChecksum sums;
  const auto& words = UploadWords(SmallImage());
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i != 100 - 1) sums.Add(words[i].word.b0, words[i].word.b1);
  }
  EXPECT_EQ(direct.last_checksum, (std::array<std::uint8_t, 2>{sums.even_xor, sums.odd_xor}));
  EXPECT_EQ(direct.verdicts_accepted, 1u);
  EXPECT_EQ(direct.verdicts_rejected, 0u);
  EXPECT_EQ(console_.RowTrimmed(21), "");  // no "CHECK SUM ERROR!!!"
}

}  // namespace
}  // namespace tvx::testing
