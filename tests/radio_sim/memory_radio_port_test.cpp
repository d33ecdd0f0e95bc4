// The serial port in memory, judged from the radio's side: when it heard each byte, when its
// answers became readable, what the waits did with the time, and how the line dies.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "direct/protocol.h"
#include "support/memory_radio_port.h"
#include "support/virtual_time.h"

namespace tvx::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr double kNear = 1e-9;  // seconds: the port's arithmetic is exact up to rounding

// One character (start, eight data bits, stop) at `rate`, in seconds.
constexpr double CharTime(double rate) {
  return 10.0 / rate;
}

// A header frame; the RF local radio echoes any frame it hears, good or bad.
const Bytes kFrame = {0xE2, 0x00, 0x36, 0x01, 0x02, 0x03, 0x04, 0x05};

class MemoryRadioPortTest : public ::testing::Test {
 protected:
  void Make(const sim::RadioConfig& config) {
    port_ = std::make_unique<MemoryRadioPort>(time_, config);
    ASSERT_EQ(port_->Open("mem:radio"), serial::kNoError);
  }
  static sim::RadioConfig RfRadio() {
    sim::RadioConfig config;
    config.mode = sim::RadioMode::kRf;
    return config;
  }
  void SetRate(std::uint32_t rate) {
    serial::ControlState state;
    ASSERT_EQ(port_->GetControlState(state), serial::kNoError);
    state.line_rate = rate;
    ASSERT_EQ(port_->SetControlState(state), serial::kNoError);
  }
  void Send(const Bytes& bytes) { ASSERT_EQ(port_->Write(bytes), bytes.size()); }
  Bytes Take(std::size_t n) {
    Bytes bytes(n);
    bytes.resize(port_->Read(bytes));
    return bytes;
  }
  std::uint64_t Heard() const { return port_->Radio().Counters().bytes_received; }

  // The uploader's handshake at 19200 bit/s with its pauses, then the switch to 115200 bit/s;
  // returns the identity reply.
  Bytes Handshake() {
    SetRate(19200);
    Send({direct::kProgramCommand});
    clock_.SleepMs(300);
    for (std::uint8_t b : direct::kAccessCode) {
      Send({b});
      clock_.SleepMs(10);
    }
    Send({direct::kHighSpeedDivisor});
    clock_.SleepMs(10);
    Send({0x12});
    clock_.SleepMs(10);
    Send({0x34});
    clock_.SleepMs(5);
    SetRate(115200);
    return Take(4);
  }
  // One word at `address`; returns the reply byte's check (true when right).
  bool Word(std::uint16_t address) {
    Send({0, direct::HighByte(address), direct::LowByte(address)});
    if (Take(2) != Bytes{direct::HighByte(address), direct::LowByte(address)}) return false;
    const direct::DataFrame f = direct::MakeDataFrame(address, 0x11, 0x22);
    Send({f.d0, f.d1, f.check});
    const Bytes reply = Take(1);
    return reply.size() == 1 && reply[0] == f.expected_reply;
  }

  VirtualTime time_;
  VirtualClock clock_{time_};
  std::unique_ptr<MemoryRadioPort> port_;
};

// Ten bits a byte from the later of now and the end of the previous write; the radio hears a
// write once its last byte is in, not before.
TEST_F(MemoryRadioPortTest, WritesLeaveAtTheLinePaceOneAfterAnother) {
  Make(RfRadio());
  SetRate(19200);
  Send({1, 2, 3});
  Send({4, 5});
  time_.Advance(0.010);
  Send({6});

  const auto& wire = port_->Wire();
  ASSERT_EQ(wire.size(), 6u);
  const double c = CharTime(19200);
  const double expected[] = {c, 2 * c, 3 * c, 4 * c, 5 * c, 0.010 + c};
  for (std::size_t i = 0; i < wire.size(); ++i) {
    EXPECT_EQ(wire[i].value, i + 1);
    EXPECT_NEAR(wire[i].arrived_at, expected[i], kNear) << i;
    EXPECT_EQ(wire[i].rate, 19200u);
  }
  EXPECT_NEAR(wire[2].arrived_at, 0.0015625, kNear);  // 3 bytes at 19200 bit/s
  EXPECT_EQ(wire[4].written_at, 0.0);
  EXPECT_EQ(wire[5].written_at, 0.010);
  EXPECT_EQ(port_->WireBytes(), (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST_F(MemoryRadioPortTest, TheRadioHearsAWriteWhenItsLastByteArrives) {
  Make(RfRadio());
  SetRate(19200);
  Send({1, 2, 3});
  time_.AdvanceTo(0.0015);
  EXPECT_EQ(Heard(), 0u);
  time_.AdvanceTo(0.0015625);
  EXPECT_EQ(Heard(), 3u);
}

// The echo leaves the radio when the frame is in, takes its own line time back, follows the
// echo before it, and is readable a latency later; reads and waits land exactly there.
TEST_F(MemoryRadioPortTest, AnAnswerIsReadableOnlyOnceItsTimeCame) {
  Make(RfRadio());
  port_->SetLatency(0.002);
  SetRate(115200);
  const double frame_time = 8 * CharTime(115200);
  Send(kFrame);
  Send(kFrame);

  const double first_ready = 2 * frame_time + 0.002;
  time_.AdvanceTo(first_ready - 1e-6);
  EXPECT_EQ(port_->BytesWaiting().count, 0u);
  EXPECT_EQ(Take(8), kFrame);
  EXPECT_NEAR(time_.Now(), first_ready, kNear);
  // The second echo could not start back before the first had left.
  EXPECT_EQ(port_->BytesWaiting().count, 0u);
  EXPECT_EQ(Take(8), kFrame);
  EXPECT_NEAR(time_.Now(), 3 * frame_time + 0.002, kNear);
  EXPECT_FALSE(port_->Starved());
}

// A long answer holds the line back to the PC: the echo of a key typed right after it comes
// one character time after its end.
TEST_F(MemoryRadioPortTest, AnAnswerWaitsForTheLongerOneBeforeIt) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kSetup;
  config.fast_setup = true;  // answers in one piece
  Make(config);
  SetRate(115200);
  const double c = CharTime(115200);
  Send({'\r'});
  Send({'a'});
  const std::string menu = "\r\nChoice> ";  // an empty line
  const Bytes answer = Take(menu.size());
  EXPECT_EQ(std::string(answer.begin(), answer.end()), menu);
  EXPECT_NEAR(time_.Now(), (1 + menu.size()) * c, kNear);
  EXPECT_EQ(Take(1), Bytes{'a'});
  EXPECT_NEAR(time_.Now(), (2 + menu.size()) * c, kNear);
}

TEST_F(MemoryRadioPortTest, AwaitActivityGoesToTheNextArrivalAndNoFurther) {
  Make(RfRadio());
  SetRate(115200);
  const double ready = 2 * 8 * CharTime(115200);
  Send(kFrame);

  port_->AwaitActivity(console::kNoWaitHandle, 1);  // shorter than the echo takes
  EXPECT_NEAR(time_.Now(), 0.001, kNear);
  EXPECT_EQ(port_->BytesWaiting().count, 0u);
  port_->AwaitActivity(console::kNoWaitHandle, 100);
  EXPECT_NEAR(time_.Now(), ready, kNear);
  EXPECT_EQ(port_->BytesWaiting().count, 8u);
  port_->AwaitActivity(console::kNoWaitHandle, 100);  // bytes waiting: at once
  EXPECT_NEAR(time_.Now(), ready, kNear);

  // Nothing on its way: the whole time-out passes, and the quiet is reported first.
  Take(8);
  int quiet = 0;
  port_->on_quiet = [&quiet] { ++quiet; };
  port_->AwaitActivity(console::kNoWaitHandle, 50);
  EXPECT_NEAR(time_.Now(), ready + 0.050, kNear);
  EXPECT_EQ(quiet, 1);
  EXPECT_FALSE(port_->Starved());
}

// Bytes written before a rate change keep their rate on the line and in the radio's judgement;
// the change applies to the bytes after it.
TEST_F(MemoryRadioPortTest, ARateChangeAppliesToLaterBytes) {
  Make(RfRadio());
  SetRate(9600);
  Send({0xE2});
  SetRate(115200);
  Send({0x00});
  const auto& wire = port_->Wire();
  ASSERT_EQ(wire.size(), 2u);
  EXPECT_NEAR(wire[0].arrived_at, CharTime(9600), kNear);
  EXPECT_NEAR(wire[1].arrived_at, CharTime(9600) + CharTime(115200), kNear);
  EXPECT_EQ(wire[1].rate, 115200u);

  time_.AdvanceTo(wire[0].arrived_at);
  EXPECT_EQ(port_->RadioLine().rate, 9600u);
  time_.AdvanceTo(wire[1].arrived_at);
  EXPECT_EQ(port_->RadioLine().rate, 115200u);
  EXPECT_EQ(port_->RadioLine().previous_rate, 9600u);
  EXPECT_NEAR(port_->RadioLine().since_previous_look, CharTime(115200), kNear);
}

// The radio's timers run while the PC sleeps: the handshake's pauses are heard as they were
// made, the radio notices the rate switch by itself, and the erase ends during a pause.
TEST_F(MemoryRadioPortTest, TheRadioRunsItsTimersWhileThePcSleeps) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kDirect;
  Make(config);
  const Bytes identity = Handshake();
  ASSERT_EQ(identity.size(), 4u);
  EXPECT_EQ(identity[0], direct::kIdentityMarker);
  const sim::DirectCounters& direct = port_->Radio().Direct().Counters();
  EXPECT_EQ(direct.pause_faults, 0u);
  EXPECT_EQ(direct.line_rate_faults, 0u);
  EXPECT_EQ(direct.identities_sent, 1u);

  Send({direct::kStartErase});
  clock_.SleepMs(300);  // the erase takes 0.25 s
  EXPECT_EQ(port_->BytesWaiting().count, 1u);
  EXPECT_EQ(Take(1), Bytes{direct::kEraseDone});
  EXPECT_TRUE(Word(0x8000));
  EXPECT_EQ(port_->Radio().Direct().Counters().words_checked_ok, 1u);
  EXPECT_FALSE(port_->Starved());
}

// A wait for what can never come returns at once, with the time where it was.
TEST_F(MemoryRadioPortTest, AWaitForWhatNeverComesStarvesInsteadOfHanging) {
  Make(RfRadio());
  time_.Advance(1.0);
  Bytes into(4);
  EXPECT_EQ(port_->Read(into), 0u);
  EXPECT_TRUE(port_->Starved());
  EXPECT_EQ(time_.Now(), 1.0);

  // A poll loop that never waits still lets time pass, a little.
  for (int i = 0; i < 100; ++i) port_->BytesWaiting();
  EXPECT_NEAR(time_.Now(), 1.0 + 10e-6, kNear);

  MemoryRadioPort other(time_, RfRadio());
  ASSERT_EQ(other.Open("mem:radio"), serial::kNoError);
  const double before = time_.Now();
  other.AwaitActivity(console::kNoWaitHandle, -1);
  EXPECT_TRUE(other.Starved());
  EXPECT_EQ(time_.Now(), before);
}

// Pulled at a chosen time: what came before still reads, then the line is dead both ways and
// the device does not come back.
TEST_F(MemoryRadioPortTest, ALineCutAtATimeKeepsWhatArrivedBefore) {
  Make(RfRadio());
  SetRate(115200);
  const double ready = 2 * 8 * CharTime(115200);
  Send(kFrame);
  Send(kFrame);  // its echo would be readable at 3 frame times: after the cut
  port_->HangUpAt(ready + 1e-6);
  time_.AdvanceTo(0.010);

  EXPECT_EQ(port_->BytesWaiting().count, 8u);
  EXPECT_FALSE(port_->LineDead());
  EXPECT_EQ(Take(8), kFrame);
  Bytes into(8);
  EXPECT_EQ(port_->Read(into), 0u);
  EXPECT_TRUE(port_->LineDead());
  EXPECT_EQ(port_->BytesWaiting().error, serial::kErrLineDead);
  EXPECT_EQ(port_->Write(kFrame), 0u);
  port_->AwaitActivity(console::kNoWaitHandle, 100);  // a dead line reads as ready at once
  EXPECT_EQ(time_.Now(), 0.010);
  EXPECT_EQ(port_->Radio().Counters().bytes_received, 16u);

  EXPECT_EQ(port_->Close(), serial::kNoError);
  EXPECT_FALSE(port_->LineDead());
  EXPECT_EQ(port_->Open("mem:radio"), serial::kErrNoSuchPort);
  EXPECT_FALSE(port_->Starved());

  // Pulled right now: the next write already finds the line dead.
  MemoryRadioPort other(time_, RfRadio());
  ASSERT_EQ(other.Open("mem:radio"), serial::kNoError);
  other.HangUpAt(time_.Now());
  EXPECT_EQ(other.Write(kFrame), 0u);
  EXPECT_TRUE(other.LineDead());
}

// The radio's own hang-up fault: the line dies once the PC has read the last answer, or half a
// second after the radio hung up when it does not read.
TEST_F(MemoryRadioPortTest, TheRadioHangsUpOnceItsLastAnswerIsRead) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kDirect;
  config.Add(sim::Fault::kHangUp, 2);
  Make(config);
  ASSERT_EQ(Handshake().size(), 4u);
  Send({direct::kStartErase});
  ASSERT_EQ(Take(1), Bytes{direct::kEraseDone});
  ASSERT_TRUE(Word(0x8000));
  ASSERT_TRUE(Word(0x8002));  // the reply is read: the line dies now
  EXPECT_TRUE(port_->Cut());
  EXPECT_EQ(port_->BytesWaiting().error, serial::kErrLineDead);
  EXPECT_TRUE(port_->LineDead());
  EXPECT_EQ(port_->Write(Bytes{0, 0x80, 0x04}), 0u);

  // Another radio, whose PC leaves the reply unread.
  config.faults.clear();
  config.Add(sim::Fault::kHangUp, 1);
  time_.Advance(1.0);
  port_ = std::make_unique<MemoryRadioPort>(time_, config);
  ASSERT_EQ(port_->Open("mem:radio"), serial::kNoError);
  ASSERT_EQ(Handshake().size(), 4u);
  Send({direct::kStartErase});
  ASSERT_EQ(Take(1), Bytes{direct::kEraseDone});
  Send({0, 0x80, 0x00});
  ASSERT_EQ(Take(2).size(), 2u);
  const direct::DataFrame f = direct::MakeDataFrame(0x8000, 0x11, 0x22);
  Send({f.d0, f.d1, f.check});
  const double hung_up_at = port_->Wire().back().arrived_at;
  time_.AdvanceTo(hung_up_at + 0.499);
  EXPECT_FALSE(port_->Cut());
  time_.AdvanceTo(hung_up_at + 0.5);
  EXPECT_TRUE(port_->Cut());
  EXPECT_EQ(Take(1), Bytes{f.expected_reply});  // it had arrived: still handed out
  EXPECT_EQ(port_->BytesWaiting().error, serial::kErrLineDead);
}

TEST_F(MemoryRadioPortTest, RefusedWritesAndALineErrorOnce) {
  Make(RfRadio());
  port_->RefuseWrite(3, 2, 1);
  EXPECT_EQ(port_->Write(Bytes{1, 2, 3}), 3u);
  EXPECT_EQ(port_->Write(Bytes{4, 5}), 2u);  // another size does not count
  EXPECT_EQ(port_->Write(Bytes{6, 7, 8}), 1u);
  EXPECT_EQ(port_->Write(Bytes{9, 10, 11}), 3u);
  EXPECT_EQ(port_->WireBytes(), (Bytes{1, 2, 3, 4, 5, 6, 9, 10, 11}));

  port_->LineErrorAt(0.5);
  time_.AdvanceTo(0.4);
  EXPECT_EQ(port_->BytesWaiting().error, serial::kNoError);
  time_.AdvanceTo(0.5);
  const serial::WaitingCount first = port_->BytesWaiting();
  EXPECT_EQ(first.error, serial::kErrLineError);
  EXPECT_EQ(first.count, 0u);
  EXPECT_EQ(port_->BytesWaiting().error, serial::kNoError);
  EXPECT_FALSE(port_->LineDead());
}

// The set-up menu's line-error fault: the query after the second key reports 57 once, and the
// menu's echo of that key still reads.
TEST_F(MemoryRadioPortTest, TheRadiosLineErrorFaultReachesTheQuery) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kSetup;
  config.fast_setup = true;
  Make(config.Add(sim::Fault::kSetupLineError, 2));
  Send({'A'});
  EXPECT_EQ(Take(1), Bytes{'A'});
  EXPECT_EQ(port_->BytesWaiting().error, serial::kNoError);
  Send({'B'});
  EXPECT_EQ(Take(1), Bytes{'B'});
  EXPECT_EQ(port_->BytesWaiting().error, serial::kErrLineError);
  EXPECT_EQ(port_->BytesWaiting().error, serial::kNoError);
}

// The set-up menu's slow fault: an echo that would be there at once waits the fault's time.
TEST_F(MemoryRadioPortTest, TheSlowSetupFaultDelaysEveryAnswer) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kSetup;
  config.fast_setup = true;
  Make(config.Add(sim::Fault::kSetupSlow, 0, 800.0));
  Send({'A'});
  time_.AdvanceTo(time_.Now() + 0.79);
  EXPECT_EQ(port_->BytesWaiting().count, 0u);
  time_.AdvanceTo(time_.Now() + 0.02);
  EXPECT_EQ(port_->BytesWaiting().count, 1u);
}

TEST_F(MemoryRadioPortTest, OpensOnlyItsOwnNameAndKeepsTheBackendsRules) {
  port_ = std::make_unique<MemoryRadioPort>(time_, RfRadio());
  EXPECT_EQ(port_->Apply(serial::LineSetting::kLineRate, 19200), serial::kErrPortNotOpen);
  EXPECT_EQ(port_->BytesWaiting().error, serial::kErrPortNotOpen);
  EXPECT_EQ(port_->Open("Com1"), serial::kErrNoSuchPort);
  EXPECT_EQ(port_->Open(""), serial::kErrNoSuchPort);
  port_->SetDeviceName("Com1");
  port_->FailOpen(serial::kErrAccessDenied);
  EXPECT_EQ(port_->Open("Com1"), serial::kErrAccessDenied);
  port_->FailOpen(serial::kNoError);
  EXPECT_EQ(port_->Open("Com1"), serial::kNoError);
  EXPECT_EQ(port_->Open("Com1"), serial::kErrPortAlreadyOpen);
  EXPECT_EQ(port_->Opens(), 1);

  EXPECT_EQ(port_->Apply(serial::LineSetting::kLineRate, 12345), serial::kErrDeviceControl);
  EXPECT_EQ(port_->Apply(serial::LineSetting::kDsrOutputFlow, 1), serial::kErrDeviceControl);
  EXPECT_EQ(port_->Apply(serial::LineSetting::kLineRate, 115200), serial::kNoError);
  EXPECT_EQ(port_->Apply(serial::LineSetting::kStopBits, 2), serial::kNoError);
  EXPECT_EQ(port_->Apply(serial::LineSetting::kCtsOutputFlow, 1), serial::kNoError);
  serial::ControlState state;
  ASSERT_EQ(port_->GetControlState(state), serial::kNoError);
  EXPECT_EQ(state.line_rate, 115200u);
  EXPECT_EQ(state.stop_bits, 2);
  EXPECT_TRUE(state.cts_output_flow);
  // Choosing 8 data bits also means one stop bit; the radio sees the line as set.
  EXPECT_EQ(port_->Apply(serial::LineSetting::kDataBits, 8), serial::kNoError);
  port_->Write(kFrame);
  time_.Advance(0.01);
  EXPECT_EQ(port_->RadioLine().stop_bits, 1);
  EXPECT_TRUE(port_->RadioLine().rts_cts);
  EXPECT_TRUE(port_->RadioLine().known);

  EXPECT_EQ(port_->Close(), serial::kNoError);
  EXPECT_EQ(port_->Close(), serial::kNoError);
  EXPECT_EQ(port_->Closes(), 1);
  EXPECT_EQ(port_->Write(kFrame), 0u);
  // The echo came while the port was closed: a new opening does not see it.
  EXPECT_EQ(port_->Open("Com1"), serial::kNoError);
  EXPECT_EQ(port_->BytesWaiting().count, 0u);
}

TEST(VirtualClockTest, PausesMoveTheTimeAtOnceAndTheStopIsAskedAtTheEnd) {
  VirtualTime time;
  VirtualClock clock(time);
  clock.SetTimeOfDayAtStart(86399.5);
  EXPECT_EQ(clock.TimeOfDaySeconds(), 86399.5);
  clock.SleepMs(700);
  EXPECT_DOUBLE_EQ(clock.Seconds(), 0.7);
  EXPECT_NEAR(clock.TimeOfDaySeconds(), 0.2, 1e-9);  // past midnight

  bool stop = false;
  int asked = 0;
  EXPECT_TRUE(clock.SleepMsUnless(2000, 100, [&] {
    ++asked;
    return stop;
  }));
  EXPECT_DOUBLE_EQ(clock.Seconds(), 2.7);
  EXPECT_EQ(asked, 2);
  clock.on_pause = [&stop](int) { stop = true; };  // a stop that comes during the pause
  EXPECT_FALSE(clock.SleepMsUnless(1000, 100, [&] { return stop; }));
  EXPECT_DOUBLE_EQ(clock.Seconds(), 3.7);
  EXPECT_FALSE(clock.SleepMsUnless(1000, 100, [&] { return stop; }));  // already stopped
  EXPECT_DOUBLE_EQ(clock.Seconds(), 3.7);
  EXPECT_EQ(clock.Pauses(), (std::vector<int>{700, 2000, 1000}));
  EXPECT_EQ(clock.SleptMs(), 3700);
}

}  // namespace
}  // namespace tvx::testing
