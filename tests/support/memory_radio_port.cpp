#include "support/memory_radio_port.h"

#include <algorithm>
#include <array>
#include <limits>

namespace tvx::testing {

namespace {

using serial::ErrorNumber;
using serial::kErrDeviceControl;
using serial::kErrLineDead;
using serial::kErrLineError;
using serial::kErrNoSuchPort;
using serial::kErrPortAlreadyOpen;
using serial::kErrPortNotOpen;
using serial::kNoError;
using serial::LineSetting;

// The rates the POSIX backend can set.
constexpr std::array<std::uint32_t, 13> kRates = {
    300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

bool KnownRate(std::uint32_t rate) {
  return std::find(kRates.begin(), kRates.end(), rate) != kRates.end();
}

// The radio gives up on a PC that does not read its last answer after a hang-up this long.
constexpr double kHangUpGraceSeconds = 0.5;
// A poll loop that never waits: after this many answers at one time, time moves a little.
constexpr int kSpinQueries = 100;
constexpr double kSpinStepSeconds = 10e-6;
constexpr std::size_t kMaxEvents = 20000;

}  // namespace

MemoryRadioPort::MemoryRadioPort(VirtualTime& time, const sim::RadioConfig& config)
    : time_(time),
      owned_radio_(std::make_unique<sim::Radio>(config)),
      radio_(owned_radio_.get()),
      latency_(config.latency) {
  look_ = CurrentLine();
  look_at_ = time_.Now();
  radio_now_ = time_.Now();
  time_.Follow(this);
}

MemoryRadioPort::MemoryRadioPort(VirtualTime& time, sim::Radio& radio)
    : time_(time), radio_(&radio), latency_(radio.Config().latency) {
  look_ = CurrentLine();
  look_at_ = time_.Now();
  radio_now_ = time_.Now();
  time_.Follow(this);
}

MemoryRadioPort::~MemoryRadioPort() {
  time_.Unfollow(this);
}

sim::LineState MemoryRadioPort::CurrentLine() const {
  sim::LineState line;
  line.known = true;
  line.rate = control_.line_rate;
  line.data_bits = control_.data_bits;
  line.parity = control_.parity;
  line.stop_bits = control_.stop_bits;
  line.rts_cts = control_.cts_output_flow;
  line.raw = true;  // the backend always makes the line raw
  return line;
}

// --- The radio's side, in time order ---------------------------------------------------------

std::optional<double> MemoryRadioPort::NextRadioDeadline() const {
  if (radio_hung_up_at_ || cut_at_) return std::nullopt;
  const std::optional<double> deadline = radio_->NextDeadline(radio_now_);
  if (!deadline) return std::nullopt;
  // A timer already run at this time would run again for ever: take it a moment later.
  double at = std::max(*deadline, radio_now_);
  if (advanced_at_ && at <= *advanced_at_) at = *advanced_at_ + 1e-6;
  return at;
}

std::optional<double> MemoryRadioPort::NextEvent() const {
  std::optional<double> next;
  auto take = [&next](double t) {
    if (!next || t < *next) next = t;
  };
  const double now = time_.Now();
  for (const ToPc& b : to_pc_) {
    if (b.ready_at > now) {
      take(b.ready_at);
      break;
    }
  }
  if (!to_radio_.empty()) take(to_radio_.front().arrives_at);
  if (auto deadline = NextRadioDeadline()) take(*deadline);
  if (!cut_at_) {
    if (cut_planned_ && *cut_planned_ > now) take(*cut_planned_);
    if (radio_hung_up_at_) take(*radio_hung_up_at_ + kHangUpGraceSeconds);
  }
  if (line_error_at_ && *line_error_at_ > now) take(*line_error_at_);
  return next;
}

sim::LineState MemoryRadioPort::Look(sim::LineState line, double at) {
  line.previous_rate = look_.rate;
  line.since_previous_look = at - look_at_;
  look_ = line;
  look_at_ = at;
  return line;
}

void MemoryRadioPort::RunUntil(double t) {
  for (;;) {
    // The earliest of: a write reaching the radio, a radio timer, the line dying.
    enum class What { kNothing, kArrival, kTimer, kCut };
    What what = What::kNothing;
    double at = std::numeric_limits<double>::infinity();
    if (!to_radio_.empty()) {
      what = What::kArrival;
      at = to_radio_.front().arrives_at;
    }
    if (auto deadline = NextRadioDeadline(); deadline && *deadline < at) {
      what = What::kTimer;
      at = *deadline;
    }
    if (!cut_at_) {
      if (cut_planned_ && *cut_planned_ <= at) {
        what = What::kCut;
        at = std::max(*cut_planned_, radio_now_);
      }
      if (radio_hung_up_at_ && *radio_hung_up_at_ + kHangUpGraceSeconds <= at) {
        what = What::kCut;
        at = *radio_hung_up_at_ + kHangUpGraceSeconds;
      }
    }
    if (what == What::kNothing || at > t) return;

    radio_now_ = std::max(radio_now_, at);
    switch (what) {
      case What::kArrival: {
        ToRadio batch = std::move(to_radio_.front());
        to_radio_.pop_front();
        if (radio_hung_up_at_) break;  // nobody listens any more
        // The bytes are judged by the line they were sent on.
        const sim::LineState line = Look(batch.line, radio_now_);
        out_.Clear();
        radio_->Feed(batch.bytes, line, radio_now_, out_);
        radio_->Advance(line, radio_now_, out_);
        advanced_at_ = radio_now_;
        TakeOutput(radio_now_, line);
        break;
      }
      case What::kTimer: {
        const sim::LineState line = Look(CurrentLine(), radio_now_);
        out_.Clear();
        radio_->Advance(line, radio_now_, out_);
        advanced_at_ = radio_now_;
        TakeOutput(radio_now_, line);
        break;
      }
      case What::kCut:
        CutLine(radio_now_);
        break;
      case What::kNothing:
        return;
    }
  }
}

void MemoryRadioPort::TakeOutput(double at, const sim::LineState& line) {
  for (const sim::RadioEvent& e : out_.Events()) {
    if (events_.size() < kMaxEvents) events_.push_back(e);
  }
  const std::span<const std::uint8_t> bytes = out_.Bytes();
  if (!bytes.empty()) {
    // Back to the PC after what the radio said before.
    const double last_ready = to_pc_.empty() ? 0.0 : to_pc_.back().ready_at;
    const double late = latency_ + radio_->AnswerDelay();
    if (radio_->PacedOutput()) {
      // The set-up menu's text: each byte readable as it comes in.
      for (std::uint8_t b : bytes) {
        const double on_line = line_to_pc_.Send(at, 1, line.rate);
        to_pc_.push_back({b, std::max(on_line + late, last_ready)});
        answers_.push_back({b, at, to_pc_.back().ready_at});
      }
    } else {
      // Anything else: the whole answer at once, as an adapter hands over a packet.
      const double on_line = line_to_pc_.Send(at, bytes.size(), line.rate);
      for (std::uint8_t b : bytes) {
        to_pc_.push_back({b, std::max(on_line + late, last_ready)});
        answers_.push_back({b, at, to_pc_.back().ready_at});
      }
    }
  }
  if (out_.LineErrorRequested()) line_error_at_ = at;  // the next look at the queue reports it
  if (out_.HangUpRequested() && !radio_hung_up_at_) {
    radio_hung_up_at_ = at;
    // The set-up menu's hang-up comes back after its S seconds, as on the pseudo-terminal.
    const sim::FaultRequest* setup_hang_up = radio_->Config().Find(sim::Fault::kSetupHangUp);
    for (const sim::RadioEvent& e : out_.Events()) {
      if (setup_hang_up != nullptr && e.kind == sim::EventKind::kFaultFired &&
          e.value == static_cast<std::uint32_t>(sim::Fault::kSetupHangUp)) {
        come_back_after_ = sim::ValueOf(*setup_hang_up);
      }
    }
    if (to_pc_.empty()) CutLine(at);
  }
}

void MemoryRadioPort::CutLine(double at) {
  if (cut_at_) return;
  cut_at_ = at;
  if (come_back_after_ > 0) back_at_ = at + come_back_after_;
  // What had not arrived by then never will.
  while (!to_pc_.empty() && to_pc_.back().ready_at > at) to_pc_.pop_back();
  to_radio_.clear();
}

void MemoryRadioPort::ComeBack() {
  const double now = time_.Now();
  cut_at_.reset();
  back_at_.reset();
  radio_hung_up_at_.reset();
  if (cut_planned_ && *cut_planned_ <= now) cut_planned_.reset();
  to_pc_.clear();
  to_radio_.clear();
  line_to_pc_.StartAt(now);
  line_to_radio_.StartAt(now);
  radio_now_ = std::max(radio_now_, now);
}

// --- The PC's side ---------------------------------------------------------------------------

std::size_t MemoryRadioPort::Due() const {
  const double now = time_.Now();
  std::size_t n = 0;
  for (const ToPc& b : to_pc_) {
    if (b.ready_at > now) break;
    ++n;
  }
  return n;
}

ErrorNumber MemoryRadioPort::Open(std::string_view name) {
  if (open_) return kErrPortAlreadyOpen;
  if (open_failure_ != kNoError) return open_failure_;
  RunUntil(time_.Now());
  if (cut_at_ && back_at_ && *back_at_ <= time_.Now()) ComeBack();
  if (name.empty() || name != device_name_ || cut_at_) return kErrNoSuchPort;
  // What arrived while the port was closed is gone.
  const std::size_t stale = Due();
  to_pc_.erase(to_pc_.begin(), to_pc_.begin() + static_cast<std::ptrdiff_t>(stale));
  open_ = true;
  ++opens_;
  timeouts_ = serial::Timeouts{};
  dead_seen_ = false;
  return kNoError;
}

ErrorNumber MemoryRadioPort::Close() {
  if (!open_) return kNoError;
  open_ = false;
  ++closes_;
  dead_seen_ = false;
  refused_ = false;
  return kNoError;
}

ErrorNumber MemoryRadioPort::Apply(LineSetting setting, std::uint32_t value) {
  if (!open_) return kErrPortNotOpen;
  const ErrorNumber result = ApplyOne(setting, value);
  if (result == kNoError) line_sets_.push_back({time_.Now(), CurrentLine()});
  refused_ = refused_ || result == kErrDeviceControl;
  return result;
}

ErrorNumber MemoryRadioPort::ApplyOne(LineSetting setting, std::uint32_t value) {
  switch (setting) {
    case LineSetting::kLineRate:
      if (!KnownRate(value)) return kErrDeviceControl;
      control_.line_rate = value;
      return kNoError;
    case LineSetting::kDataBits:
      if (value < 5 || value > 8) return kErrDeviceControl;
      // Choosing the character size also means one stop bit and no parity.
      control_.data_bits = static_cast<std::uint8_t>(value);
      control_.stop_bits = 1;
      control_.parity = false;
      return kNoError;
    case LineSetting::kParityCheck:
      parity_check_ = value != 0;  // checks received parity; the character format stays
      return kNoError;
    case LineSetting::kStopBits:
      if (value != 1 && value != 2) return kErrDeviceControl;
      control_.stop_bits = static_cast<std::uint8_t>(value);
      return kNoError;
    case LineSetting::kCtsOutputFlow:
      control_.cts_output_flow = value != 0;
      return kNoError;
    case LineSetting::kTxQueueSize:
    case LineSetting::kRxQueueSize:
      return kNoError;
    case LineSetting::kDsrOutputFlow:
    case LineSetting::kDsrSensitivity:
    case LineSetting::kDtrHandshake:
      return value == 0 ? kNoError : kErrDeviceControl;
    case LineSetting::kDtrLine:
      control_.dtr_on = value != 0;
      return kNoError;
  }
  return kErrDeviceControl;
}

ErrorNumber MemoryRadioPort::GetTimeouts(serial::Timeouts& out) {
  if (!open_) return kErrPortNotOpen;
  out = timeouts_;
  return kNoError;
}

ErrorNumber MemoryRadioPort::SetTimeouts(const serial::Timeouts& timeouts) {
  if (!open_) return kErrPortNotOpen;
  timeouts_ = timeouts;
  return kNoError;
}

ErrorNumber MemoryRadioPort::GetControlState(serial::ControlState& out) {
  if (!open_) return kErrPortNotOpen;
  out = control_;
  return kNoError;
}

ErrorNumber MemoryRadioPort::SetControlState(const serial::ControlState& state) {
  if (!open_) return kErrPortNotOpen;
  if (!KnownRate(state.line_rate) || state.dsr_output_flow || state.data_bits < 5 ||
      state.data_bits > 8 || (state.stop_bits != 1 && state.stop_bits != 2)) {
    return kErrDeviceControl;
  }
  control_ = state;
  line_sets_.push_back({time_.Now(), CurrentLine()});
  return kNoError;
}

serial::WaitingCount MemoryRadioPort::BytesWaiting() {
  if (!open_) return {0, kErrPortNotOpen};
  RunUntil(time_.Now());  // a cut planned for now, say
  const double now = time_.Now();
  if (line_error_at_ && *line_error_at_ <= now) {
    line_error_at_.reset();
    return {0, kErrLineError};
  }
  Spun();
  const std::size_t due = Due();
  if (due > 0) return {due, kNoError};
  if (cut_at_) {
    dead_seen_ = true;
    return {0, kErrLineDead};
  }
  return {0, kNoError};
}

std::size_t MemoryRadioPort::Read(std::span<std::uint8_t> into) {
  if (!open_ || into.empty()) return 0;
  spins_ = 0;
  std::optional<double> limit;
  const serial::Timeouts& t = timeouts_;
  if (t.read_total_constant != 0 || t.read_total_per_byte != 0) {
    limit =
        time_.Now() +
        (t.read_total_constant + static_cast<double>(t.read_total_per_byte) * into.size()) / 1000.0;
  }
  std::size_t got = 0;
  RunUntil(time_.Now());
  for (;;) {
    const std::size_t take = std::min(Due(), into.size() - got);
    for (std::size_t i = 0; i < take; ++i) {
      into[got++] = to_pc_.front().value;
      to_pc_.pop_front();
    }
    // The radio that asked to hang up does so once its last answer is read.
    if (radio_hung_up_at_ && to_pc_.empty()) CutLine(time_.Now());
    if (got == into.size()) return got;
    if (cut_at_) {
      dead_seen_ = true;
      return got;
    }
    const std::optional<double> next = NextEvent();
    if (!next && !limit) {
      starved_ = true;
      return got;
    }
    if (limit && (!next || *next > *limit)) {
      time_.AdvanceTo(*limit);
      return got;
    }
    MoveTo(*next);
  }
}

void MemoryRadioPort::MoveTo(double t) {
  if (t > time_.Now()) {
    time_.AdvanceTo(t);
  } else {
    RunUntil(time_.Now());  // something due now that has not run yet
  }
}

void MemoryRadioPort::Spun() {
  if (time_.Now() != spin_at_) {
    spin_at_ = time_.Now();
    spins_ = 0;
  }
  if (++spins_ < kSpinQueries) return;
  spins_ = 0;
  time_.Advance(kSpinStepSeconds);
}

bool MemoryRadioPort::Refused(std::size_t size) {
  if (refuse_nth_ == 0 || size != refuse_size_) return false;
  if (++refuse_count_ != refuse_nth_) return false;
  refuse_nth_ = 0;
  return true;
}

void MemoryRadioPort::RefuseWrite(std::size_t size, int nth, std::size_t taken) {
  refuse_size_ = size;
  refuse_nth_ = nth;
  refuse_count_ = 0;
  refuse_taken_ = taken;
}

std::size_t MemoryRadioPort::Write(std::span<const std::uint8_t> bytes) {
  if (on_write) on_write(bytes);
  if (!open_) return 0;
  spins_ = 0;
  RunUntil(time_.Now());
  if (cut_at_) {
    dead_seen_ = true;
    return 0;
  }
  if (Refused(bytes.size())) bytes = bytes.first(std::min(refuse_taken_, bytes.size()));
  if (bytes.empty()) return 0;
  const double now = time_.Now();
  const sim::LineState line = CurrentLine();
  double on_line = now;
  for (std::uint8_t b : bytes) {
    on_line = line_to_radio_.Send(now, 1, line.rate);
    wire_.push_back({b, now, on_line, line.rate, line});
  }
  to_radio_.push_back({on_line, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), line});
  return bytes.size();
}

void MemoryRadioPort::AwaitActivity(console::NativeWaitHandle also, int timeout_ms) {
  (void)also;
  const double now = time_.Now();
  std::optional<double> limit;
  if (timeout_ms >= 0) limit = now + timeout_ms / 1000.0;
  if (!open_) {
    if (limit) {
      time_.AdvanceTo(*limit);
    } else {
      starved_ = true;
    }
    return;
  }
  RunUntil(now);
  auto ready = [this] {
    return Due() > 0 || cut_at_ || (line_error_at_ && *line_error_at_ <= time_.Now());
  };
  if (ready()) {
    Spun();
    return;
  }
  if (on_quiet && to_pc_.empty() && to_radio_.empty() && !NextRadioDeadline()) on_quiet();
  for (;;) {
    const std::optional<double> next = NextEvent();
    if (!next || (limit && *next > *limit)) {
      if (limit) {
        time_.AdvanceTo(*limit);
      } else {
        starved_ = true;
      }
      return;
    }
    MoveTo(*next);
    if (ready()) return;
  }
}

// --- What happened ---------------------------------------------------------------------------

std::vector<std::uint8_t> MemoryRadioPort::WireBytes() const {
  std::vector<std::uint8_t> values;
  values.reserve(wire_.size());
  for (const WireByte& b : wire_) values.push_back(b.value);
  return values;
}

std::unique_ptr<sim::RadioSnapshot> MemoryRadioPort::SettledSnapshot() {
  if (!to_radio_.empty()) time_.AdvanceTo(to_radio_.back().arrives_at);
  auto snapshot = std::make_unique<sim::RadioSnapshot>();
  radio_->Fill(*snapshot);
  return snapshot;
}

}  // namespace tvx::testing
