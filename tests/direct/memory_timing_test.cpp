// The direct upload's timing and line as the radio meets them, on the virtual time of the memory
// radio, to the microsecond: the pauses of the handshake, the rate switch, the pause before the
// first record, and a transfer that writes each frame the moment the answer it waits for is in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

#include "memory_upload_fixture.h"

namespace tvx::testing {
namespace {

// The virtual time is exact; whole microseconds make a wrong pause plain in the message.
long long Us(double seconds) {
  return std::llround(seconds * 1e6);
}

struct Speed {
  const char* answer;
  std::uint32_t rate;
};
constexpr Speed kSpeeds[] = {{"", 19200}, {"Y", 115200}};

TEST_F(MemoryUploadTest, PausesAndTurnaroundsAreExactWhereTheRadioHearsThem) {
  for (const Speed& speed : kSpeeds) {
    SCOPED_TRACE(speed.rate);
    sim::RadioConfig config = Radio();
    config.erase_seconds = 0;  // erased before the pause after 0xAA is over
    StartRadio(config);
    ctx_->image = SmallImage();
    answers_ = std::string("N\rY\r") + speed.answer + "\r";
    Run();
    ASSERT_EQ(result_.outcome, direct::Outcome::kComplete);
    EXPECT_EQ(port_->SettledSnapshot()->counters.direct.words_checked_ok, kSmallImageWords);

    const auto& wire = port_->Wire();
    ASSERT_GT(wire.size(), kHandshakeBytes + 1);
    // "4" 300 ms, each access-code byte and the divisor 10 ms, the challenge's high byte 10 ms,
    // as the bytes reach the radio.
    const long long gaps_us[] = {300000, 10000, 10000, 10000, 10000, 10000, 10000};
    for (std::size_t i = 0; i < 7; ++i) {
      EXPECT_EQ(Us(wire[i + 1].arrived_at - wire[i].arrived_at), gaps_us[i]) << "after byte " << i;
    }
    // The rate switch: the last setting written before the erase command, 5 ms after the
    // challenge's low byte was written and so after it had reached the radio at the old rate.
    const MemoryRadioPort::WireByte& low = wire[7];
    const MemoryRadioPort::WireByte& erase = wire[8];
    const MemoryRadioPort::LineSet* last_set = nullptr;
    for (const auto& set : port_->LineSets()) {
      if (set.at <= erase.written_at) last_set = &set;
    }
    ASSERT_NE(last_set, nullptr);
    EXPECT_EQ(Us(last_set->at - low.written_at), 5000);
    EXPECT_LE(low.arrived_at, last_set->at);
    EXPECT_EQ(last_set->line.rate, speed.rate);
    // The erase command as soon as the identity is in and the line switched.
    ASSERT_GE(port_->Answers().size(), 4u);
    const double identity_in = port_->Answers()[3].ready_at;
    EXPECT_EQ(Us(erase.written_at), Us(std::max(identity_in, last_set->at)));
    // 0xAA, then 10 ms, the erase-done byte, 1 s, the first record.
    EXPECT_EQ(Us(wire[9].written_at - erase.written_at), 1010000);

    // Then every write follows the answer it waited for at once: it goes out at the very time
    // that answer became readable, the verdict too.
    std::set<long long> readable;
    for (const auto& answer : port_->Answers()) readable.insert(Us(answer.ready_at));
    int late = 0;
    for (std::size_t i = 10; i < wire.size(); ++i) {
      if (wire[i].written_at == wire[i - 1].written_at) continue;
      if (readable.count(Us(wire[i].written_at)) == 0 && ++late <= 3) {
        ADD_FAILURE() << "byte " << i << " written at " << Us(wire[i].written_at)
                      << " us, when no answer had just come in";
      }
    }
    EXPECT_EQ(late, 0);
  }
}

// Every byte of the upload goes out as 8 data bits, no parity, one stop bit, no flow control:
// the handshake at 19200 bit/s, everything from the erase command on at the chosen rate.
TEST_F(MemoryUploadTest, EveryByteReachesTheRadioAsEightNoneOneAtTheProfileRate) {
  for (const Speed& speed : kSpeeds) {
    SCOPED_TRACE(speed.rate);
    StartRadio(Radio());
    ctx_->image = SmallImage();
    answers_ = std::string("N\rY\r") + speed.answer + "\r";
    Run();
    ASSERT_EQ(result_.outcome, direct::Outcome::kComplete);
    const auto& wire = port_->Wire();
    ASSERT_EQ(wire.size(), kHandshakeBytes + 6 * kSmallImageWords + 1);
    int wrong = 0;
    for (std::size_t i = 0; i < wire.size(); ++i) {
      const sim::LineState& line = wire[i].line;
      const std::uint32_t rate = i < kHandshakeBytes - 1 ? 19200 : speed.rate;
      const bool right = line.rate == rate && line.data_bits == 8 && !line.parity &&
                         line.stop_bits == 1 && !line.rts_cts;
      if (!right && ++wrong <= 3) {
        ADD_FAILURE() << "byte " << i << ": " << line.rate << " bit/s, " << int{line.data_bits}
                      << (line.parity ? " parity " : " no parity ") << int{line.stop_bits}
                      << " stop" << (line.rts_cts ? ", RTS/CTS" : "");
      }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(port_->SettledSnapshot()->counters.direct.line_setting_faults, 0u);
  }
}

}  // namespace
}  // namespace tvx::testing
