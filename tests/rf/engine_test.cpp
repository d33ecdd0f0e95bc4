// The RF engine on its own: a plan run against the simulated local radio behind a serial port
// in memory, on a virtual time, with an operator that notes what it is told and answers from
// the test. Judged from the radio's side (what it heard, how often, when) and from what the
// operator was told. Single-threaded, no real pause, every platform.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/firmware_image.h"
#include "job/line.h"
#include "job/random.h"
#include "rf/engine.h"
#include "rf/frames.h"
#include "support/memory_radio_port.h"
#include "support/noisy_port.h"
#include "support/virtual_time.h"

namespace tvx::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kLast = 4143;  // the built-in image's last record

// Notes every call in order as a short text; answers from the functions a test sets.
class NotingOperator final : public rf::Operator {
 public:
  void OpenFailed(const job::OpenResult& result) override {
    Note("open failed " + std::to_string(result.code));
  }
  void PassBegins(std::int64_t pass, std::int64_t passes) override {
    Note("pass " + std::to_string(pass) + " of " + std::to_string(passes));
  }
  void RecordWalked(std::int32_t) override { ++walked; }
  void FileMade(const rf::DownloadFile& file, std::span<const std::uint8_t> header) override {
    Note("file " + std::to_string(file.record_count));
    headers.emplace_back(header.begin(), header.end());
  }
  void HeaderCopySent() override { Note("header"); }
  void HeaderReply(std::span<const std::uint8_t> bytes) override {
    Note("reply " + std::to_string(bytes.size()));
  }
  void FrameBuilt(std::int32_t index, std::span<const std::uint8_t> frame) override {
    Note("frame " + std::to_string(index));
    built.emplace_back(frame.begin(), frame.end());
  }
  void EchoCompared(std::span<const std::uint8_t>, std::span<const std::uint8_t> echo,
                    bool intact) override {
    Note(intact ? "echo intact" : "echo differs");
    echoes.emplace_back(echo.begin(), echo.end());
  }
  void CopyDone(const rf::CopyReport& copy) override {
    Note(copy.intact ? "copy intact" : "copy lost");
    copies.push_back(copy);
  }
  void FrameDone(std::int64_t done, std::int64_t total) override {
    Note("done " + std::to_string(done) + "/" + std::to_string(total));
  }
  void Countdown(int seconds_left) override { Note("countdown " + std::to_string(seconds_left)); }
  void CountdownOver() override { Note("countdown over"); }
  void LineError(serial::ErrorNumber code) override { Note("error " + std::to_string(code)); }
  void Ended(const rf::Outcome&) override { Note("ended"); }

  bool StopRequested() override { return stop && stop(); }
  bool LeaveFrame() override { return leave && leave(); }
  rf::StopReason EndBroadcast() override { return end ? end() : rf::StopReason::kNone; }

  /// The notes that start with `prefix`.
  std::vector<std::string> Told(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& note : notes) {
      if (note.starts_with(prefix)) found.push_back(note);
    }
    return found;
  }

  std::function<bool()> stop;
  std::function<bool()> leave;
  std::function<rf::StopReason()> end;
  std::vector<std::string> notes;
  int walked = 0;
  std::vector<Bytes> headers;
  std::vector<Bytes> built;
  std::vector<Bytes> echoes;
  std::vector<rf::CopyReport> copies;

 private:
  void Note(std::string text) { notes.push_back(std::move(text)); }
};

// Notes whether real-time priority is held.
class NotingPriority final : public serial::Priority {
 public:
  void RaiseRealtime() override {
    ++raises;
    raised = true;
  }
  void Normal() override { raised = false; }
  int raises = 0;
  bool raised = false;
};

// One frame as it went out, with the time its first byte was written.
struct SentFrame {
  Bytes bytes;
  double at = 0.0;
};

class RfEngineTest : public ::testing::Test {
 protected:
  void StartRadio(sim::RadioConfig config = {}) {
    config.mode = sim::RadioMode::kRf;
    port_ = std::make_unique<MemoryRadioPort>(time_, config);
  }

  rf::Outcome Run(std::int32_t copies, std::int32_t start, std::int64_t passes) {
    if (!port_) StartRadio();
    if (noisy_) noisy_->on_query = on_query_;
    job::Line line(noisy_ ? static_cast<serial::SerialPort&>(*noisy_) : *port_, errors_);
    const rf::Plan plan{"Com1", "mem:radio", copies, start, passes};
    const rf::Outcome outcome = rf::RunBroadcast(
        plan, {line, priority_, clock_, random_, image::FirmwareImage(), buffer_}, op_);
    EXPECT_FALSE(port_->IsOpen());
    EXPECT_FALSE(port_->Starved()) << "the engine waited for what could never come";
    EXPECT_FALSE(priority_.raised);
    EXPECT_EQ(op_.Told("ended").size(), 1u);
    return outcome;
  }

  // The wire cut into frames by their type and length bytes.
  std::vector<SentFrame> Frames() const {
    std::vector<SentFrame> frames;
    const auto& wire = port_->Wire();
    for (std::size_t i = 0; i + 1 < wire.size();) {
      const std::size_t length =
          wire[i].value == rf::kHeaderFrameType ? rf::kHeaderFrameSize : wire[i + 1].value + 8u;
      SentFrame frame;
      frame.at = wire[i].written_at;
      for (std::size_t k = i; k < i + length && k < wire.size(); ++k) {
        frame.bytes.push_back(wire[k].value);
      }
      frames.push_back(frame);
      i += length;
    }
    return frames;
  }

  VirtualTime time_;
  VirtualClock clock_{time_};
  std::unique_ptr<MemoryRadioPort> port_;
  job::ErrorState errors_;
  NotingPriority priority_;
  job::Random random_;
  image::RecordBuffer buffer_{};
  NotingOperator op_;
  // Set before Run: the engine talks to the radio through a NoisyPort that calls this.
  std::function<void(NoisyPort&)> on_query_;
  std::unique_ptr<NoisyPort> noisy_;

  void Noisy(std::function<void(NoisyPort&)> on_query) {
    if (!port_) StartRadio();
    noisy_ = std::make_unique<NoisyPort>(*port_);
    on_query_ = std::move(on_query);
  }
};

std::int32_t RecordOf(const Bytes& frame) {
  return frame[3] << 8 | frame[4];
}

// Two passes of the last four records, two copies each: the radio hears every record twice a
// pass; the copies of a frame within a pass are the same bytes, while each pass draws its
// random bytes anew from the run's generator; one countdown of six seconds between the passes.
TEST_F(RfEngineTest, EveryRecordHeardItsCopiesEachPassWithFreshRandomBytes) {
  const rf::Outcome outcome = Run(2, kLast - 3, 2);

  const auto snapshot = port_->SettledSnapshot();
  for (std::int32_t r = kLast - 3; r <= kLast; ++r) {
    EXPECT_EQ(snapshot->rf_records[static_cast<std::size_t>(r)].good, 4u) << r;
  }
  EXPECT_EQ(snapshot->rf_records[kLast - 4].good, 0u);
  EXPECT_EQ(snapshot->counters.rf.header_frames_good, 0u);  // S > 0: no header frame
  EXPECT_EQ(snapshot->counters.rf.data_frames_bad, 0u);

  const std::vector<SentFrame> frames = Frames();
  ASSERT_EQ(frames.size(), 16u);
  job::Random same_run;  // the generator as the engine found it
  for (std::size_t f = 0; f < frames.size(); f += 2) {
    EXPECT_EQ(frames[f].bytes, frames[f + 1].bytes) << "copies of frame " << f / 2;
    EXPECT_EQ(RecordOf(frames[f].bytes), kLast - 3 + static_cast<std::int32_t>(f / 2 % 4));
    EXPECT_EQ(frames[f].bytes[5], rf::RandomByte(same_run.Next())) << "frame " << f / 2;
  }
  int differing = 0;
  for (std::size_t f = 0; f < 8; f += 2) differing += frames[f].bytes != frames[f + 8].bytes;
  EXPECT_GE(differing, 3) << "the second pass reused the first pass's random bytes";

  // The six seconds of the countdown lie between the passes' frames, and only there.
  EXPECT_EQ(clock_.Pauses(), (std::vector<int>{1000, 1000, 1000, 1000, 1000, 1000}));
  EXPECT_GE(frames[8].at - frames[7].at, 6.0);
  EXPECT_LT(frames[7].at - frames[0].at, 0.1);
  EXPECT_EQ(op_.Told("countdown"),
            (std::vector<std::string>{"countdown 5", "countdown 4", "countdown 3", "countdown 2",
                                      "countdown 1", "countdown 0", "countdown over"}));
  EXPECT_EQ(op_.walked, 2 * 4144);
  EXPECT_EQ(op_.Told("done").back(), "done 8/8");
  EXPECT_EQ(priority_.raises, 16);

  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(outcome.passes, 2);
  EXPECT_EQ(outcome.frames, 8);
  EXPECT_EQ(outcome.data_copies, 16);
  EXPECT_EQ(outcome.nothing_sent, rf::NothingSent::kNo);
  EXPECT_EQ(port_->Opens(), 1);
}

// From record 0: three header copies, each followed by its 100 ms pause and its replies, before
// the first data frame. The operator ends the broadcast after the first data copy; with two
// passes asked, one countdown still follows, then nothing more is sent.
TEST_F(RfEngineTest, HeaderCopiesPausedThenAnOperatorsEndAfterOneCountdown) {
  op_.leave = [this] { return op_.copies.size() == 1; };
  op_.end = [] { return rf::StopReason::kOperator; };
  const rf::Outcome outcome = Run(3, 0, 2);

  const auto snapshot = port_->SettledSnapshot();
  EXPECT_EQ(snapshot->counters.rf.header_frames_good, 3u);
  EXPECT_EQ(snapshot->counters.rf.data_frames_received, 1u);
  const std::vector<SentFrame> frames = Frames();
  ASSERT_EQ(frames.size(), 4u);
  for (int h = 0; h < 3; ++h) EXPECT_EQ(frames[h].bytes, op_.headers[0]) << h;
  EXPECT_NEAR(frames[1].at - frames[0].at, 0.1, 1e-6);
  EXPECT_NEAR(frames[2].at - frames[1].at, 0.1, 1e-6);
  EXPECT_NEAR(frames[3].at - frames[2].at, 0.1, 1e-6);
  EXPECT_EQ(RecordOf(frames[3].bytes), 0);
  EXPECT_EQ(op_.Told("reply"), (std::vector<std::string>(3, "reply 8")));  // the radio's echo
  EXPECT_EQ(clock_.Pauses(), (std::vector<int>{100, 100, 100, 1000, 1000, 1000, 1000, 1000, 1000}));

  EXPECT_TRUE(outcome.stopped);
  EXPECT_FALSE(outcome.interrupted);
  EXPECT_EQ(outcome.reason, rf::StopReason::kOperator);
  EXPECT_EQ(outcome.stop_place, rf::StopPlace::kRecord);
  EXPECT_EQ(outcome.stop_record, 0);
  EXPECT_EQ(outcome.passes, 0);
  EXPECT_EQ(outcome.frames, 0);  // its copies were not all back
  EXPECT_EQ(outcome.header_copies, 3);
}

// A run that gave up (the radio silent for the operator's limit) with passes still to come ends
// there: no wait for the network between passes, nothing more sent.
TEST_F(RfEngineTest, AGiveUpEndsWithoutTheCountdown) {
  op_.leave = [] { return true; };
  op_.end = [] { return rf::StopReason::kRadioSilent; };
  const rf::Outcome outcome = Run(1, kLast - 3, 2);

  EXPECT_EQ(Frames().size(), 1u);
  EXPECT_TRUE(op_.Told("countdown").empty());
  EXPECT_TRUE(clock_.Pauses().empty());
  EXPECT_EQ(outcome.reason, rf::StopReason::kRadioSilent);
  EXPECT_EQ(outcome.stop_place, rf::StopPlace::kRecord);
}

// A changed echo and a lost one: each copy goes out again until the asked number came back
// intact. The operator hears both.
TEST_F(RfEngineTest, EchoFaultsRepeatTheCopyAndAreTold) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kRfCorruptEcho, 1);  // record 4140: byte 7 changed
  config.Add(sim::Fault::kRfDropEcho, 3);     // record 4141's first copy: no echo
  StartRadio(config);
  const rf::Outcome outcome = Run(1, kLast - 3, 1);

  const auto snapshot = port_->SettledSnapshot();
  EXPECT_EQ(snapshot->rf_records[kLast - 3].good, 2u);
  EXPECT_EQ(snapshot->rf_records[kLast - 2].good, 2u);
  EXPECT_EQ(snapshot->rf_records[kLast - 1].good, 1u);
  // Each fault costs its copy the whole echo window (a changed echo may yet be followed by an
  // intact one); an intact echo lets the next frame go at once.
  const std::vector<SentFrame> frames = Frames();
  ASSERT_EQ(frames.size(), 6u);
  EXPECT_GE(frames[1].at - frames[0].at, rf::kEchoWindowSeconds);
  EXPECT_LT(frames[2].at - frames[1].at, 0.01);
  EXPECT_GE(frames[3].at - frames[2].at, rf::kEchoWindowSeconds);

  ASSERT_EQ(op_.echoes.size(), 5u);  // the lost copy had none
  EXPECT_EQ(op_.echoes[0][7], static_cast<std::uint8_t>(~op_.built[0][7]));
  EXPECT_EQ(op_.Told("copy"),
            (std::vector<std::string>{"copy lost", "copy intact", "copy lost", "copy intact",
                                      "copy intact", "copy intact"}));
  EXPECT_EQ(op_.copies[0].bytes_back, op_.built[0].size());
  EXPECT_EQ(op_.copies[2].bytes_back, 0u);
  EXPECT_EQ(outcome.mismatches, 1);
  EXPECT_EQ(outcome.frames, 4);
  EXPECT_EQ(outcome.data_copies, 6);
}

// The radio hangs up after the second frame: the engine stops at the next record without a
// resend or a countdown, and the operator hears of the dead line once.
TEST_F(RfEngineTest, DeadLineEndsAtOnceAndIsReportedOnce) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kRfHangUp, 2);
  StartRadio(config);
  const rf::Outcome outcome = Run(1, kLast - 3, 3);

  EXPECT_EQ(port_->SettledSnapshot()->counters.rf.data_frames_received, 2u);
  EXPECT_EQ(op_.Told("error"), (std::vector<std::string>{"error 59"}));
  EXPECT_TRUE(op_.Told("countdown").empty());
  EXPECT_TRUE(clock_.Pauses().empty());
  EXPECT_EQ(outcome.reason, rf::StopReason::kLineDead);
  EXPECT_EQ(outcome.stop_record, kLast - 1);
  EXPECT_EQ(outcome.frames, 2);
  EXPECT_EQ(port_->Opens(), 1);
}

// A stop request within a copy's echo window: the copy on the wire is not repeated, no other
// record goes out, no countdown follows although more passes were asked.
TEST_F(RfEngineTest, StopRequestEndsWithinTheFrameWithoutACountdown) {
  op_.stop = [this] { return op_.Told("frame").size() == 2; };
  const rf::Outcome outcome = Run(3, kLast - 3, 2);

  EXPECT_EQ(port_->SettledSnapshot()->counters.rf.data_frames_received, 4u);  // 3 + the 4th
  EXPECT_TRUE(op_.Told("countdown").empty());
  EXPECT_TRUE(outcome.interrupted);
  EXPECT_EQ(outcome.reason, rf::StopReason::kSignal);
  EXPECT_EQ(outcome.stop_place, rf::StopPlace::kRecord);
  EXPECT_EQ(outcome.stop_record, kLast - 2);
  EXPECT_EQ(outcome.frames, 1);
}

// A stop request in the countdown: every pass so far ran to its end, no record was under way.
TEST_F(RfEngineTest, StopRequestInTheCountdownCountsTheCompletePasses) {
  op_.stop = [this] { return !op_.Told("countdown 3").empty(); };
  const rf::Outcome outcome = Run(1, kLast, 3);

  EXPECT_EQ(port_->SettledSnapshot()->rf_records[kLast].good, 1u);
  EXPECT_EQ(outcome.stop_place, rf::StopPlace::kCountdown);
  EXPECT_EQ(outcome.reason, rf::StopReason::kSignal);
  EXPECT_EQ(outcome.passes, 1);
  EXPECT_EQ(outcome.stop_pass, 1);  // the pass that was to follow
  EXPECT_EQ(rf::OutcomeLine(outcome), "Broadcast stopped between passes: 1 of 3 passes complete.");
}

// A plan that can send nothing opens the port, writes nothing and says why; with no copies
// asked every frame is still built and told.
TEST_F(RfEngineTest, NothingSentForNoPassNoCopiesOrAStartPastTheEnd) {
  struct Case {
    std::int32_t copies, start;
    std::int64_t passes;
    rf::NothingSent why;
    std::size_t frames_built;
  };
  for (const Case c : {Case{1, 0, 0, rf::NothingSent::kNoPass, 0},
                       Case{-1, kLast - 1, 1, rf::NothingSent::kNoCopies, 2},
                       Case{1, kLast + 1, 2, rf::NothingSent::kStartPastEnd, 0}}) {
    StartRadio();
    op_ = NotingOperator{};
    errors_ = job::ErrorState{};
    const rf::Outcome outcome = Run(c.copies, c.start, c.passes);
    EXPECT_TRUE(port_->Wire().empty()) << c.start;
    EXPECT_EQ(port_->Opens(), 1);
    EXPECT_EQ(outcome.nothing_sent, c.why) << c.start;
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(op_.built.size(), c.frames_built);
  }
  // With no copies the frames are only shown, and the operator still ends the showing.
  StartRadio();
  op_ = NotingOperator{};
  op_.end = [this] {
    return op_.built.size() == 2 ? rf::StopReason::kOperator : rf::StopReason::kNone;
  };
  const rf::Outcome ended = Run(0, kLast - 3, 1);
  EXPECT_EQ(op_.built.size(), 2u);
  EXPECT_EQ(ended.reason, rf::StopReason::kOperator);
  EXPECT_EQ(ended.stop_record, kLast - 2);
}

// Bytes that are no echo: arriving just as an echo window closes (counted as bytes back, not
// left for the next copy), one left from pass 1 behind a line error (the error is told when
// pass 2 throws the byte away), one more behind the header's echo (taken with the replies, not
// left for the first data frame's echo), and a lone one after a header copy (no reply).
TEST_F(RfEngineTest, StrayBytesAreThrownAwayCountedAndTold) {
  {
    sim::RadioConfig config;
    config.Add(sim::Fault::kRfDropEcho,
               1);  // the first copy's window ends with nothing from the radio
    StartRadio(config);
    port_->LineErrorAt(0.0);  // latched by the first query, with nothing to throw away
    int passes_seen = 0;
    Noisy([&](NoisyPort& line) {
      const auto& wire = port_->Wire();
      if (op_.copies.empty() && !wire.empty() &&
          time_.Now() - wire[0].written_at >= rf::kEchoWindowSeconds) {
        line.Add({0x55, 0xAA, 0x55});
      }
      const int passes = static_cast<int>(op_.Told("countdown over").size());
      if (passes != passes_seen) line.Add({0x00});
      passes_seen = passes;
    });
    const rf::Outcome outcome = Run(1, kLast, 2);
    ASSERT_EQ(op_.copies.size(), 3u);
    EXPECT_FALSE(op_.copies[0].intact);
    EXPECT_EQ(op_.copies[0].bytes_back, 3u);
    EXPECT_TRUE(op_.copies[1].intact);
    EXPECT_TRUE(op_.copies[2].intact);
    EXPECT_EQ(op_.Told("error"), (std::vector<std::string>{"error 57"}));
    EXPECT_EQ(outcome.passes, 2);
    EXPECT_EQ(outcome.mismatches, 0);
  }
  {
    StartRadio();
    op_ = NotingOperator{};
    errors_ = job::ErrorState{};
    op_.leave = [this] { return op_.copies.size() == 1; };
    op_.end = [] { return rf::StopReason::kOperator; };
    int queries_after_header = 0;
    Noisy([&](NoisyPort& line) {
      if (!op_.Told("header").empty() && ++queries_after_header == 2) line.Add({0x55});
    });
    const rf::Outcome outcome = Run(1, 0, 1);
    EXPECT_EQ(op_.Told("reply"), (std::vector<std::string>{"reply 9"}));
    EXPECT_EQ(op_.Told("copy"), (std::vector<std::string>{"copy intact"}));
    EXPECT_EQ(outcome.mismatches, 0);
  }
  {
    // A lone byte after a header copy (the radio silent) is no reply: it is left, and the first
    // data copy's window takes it as a byte back.
    sim::RadioConfig config;
    config.Add(sim::Fault::kSilent);
    StartRadio(config);
    op_ = NotingOperator{};
    errors_ = job::ErrorState{};
    op_.leave = [this] { return op_.copies.size() == 1; };
    op_.end = [] { return rf::StopReason::kOperator; };
    bool added = false;
    Noisy([&](NoisyPort& line) {
      if (!op_.Told("header").empty() && !std::exchange(added, true)) line.Add({0x55});
    });
    Run(1, 0, 1);
    EXPECT_TRUE(op_.Told("reply").empty());
    ASSERT_EQ(op_.copies.size(), 1u);
    EXPECT_EQ(op_.copies[0].bytes_back, 1u);
  }
}

// A lost echo's window is slept through in waits as long as the stop check allows, the last one
// to the window's end and not a moment short of it: the line is asked once at the pass's start,
// once after each of the first four 100 ms waits, and once to throw away what is left.
TEST_F(RfEngineTest, ALostEchosWindowIsSleptThroughNotPolled) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kRfDropEcho, 1);
  StartRadio(config);
  int queries = 0;
  Noisy([&](NoisyPort&) {
    if (op_.copies.empty()) ++queries;
  });
  Run(1, kLast, 1);
  ASSERT_EQ(op_.copies.size(), 2u);
  EXPECT_FALSE(op_.copies[0].intact);
  EXPECT_EQ(queries, 6);
}

// A device that will not open: the operator is told with its code, nothing else happens.
TEST_F(RfEngineTest, PortThatWillNotOpenIsToldWithItsCode) {
  StartRadio();
  port_->FailOpen(75);
  const rf::Outcome outcome = Run(1, 0, 1);
  EXPECT_EQ(op_.notes, (std::vector<std::string>{"open failed 75", "ended"}));
  EXPECT_EQ(outcome.start, rf::Start::kPortNotOpened);
  EXPECT_EQ(outcome.reason, rf::StopReason::kPortNotOpened);
  EXPECT_EQ(outcome.open_code, 75);
}

}  // namespace
}  // namespace tvx::testing
