// The set-up of a direct upload (open, wake, handshake at 19200 bit/s, line-rate switch,
// identity and erase), the engine's waits, and the one way every upload ends.
#include <utility>
#include <vector>

#include "direct/challenge.h"
#include "direct/engine_run.h"
#include "direct/protocol.h"

namespace tvx::direct {

namespace {

// How long the rest of a partly received answer may still be on its way: a few character
// times at the slowest transfer rate (one character takes 0.52 ms at 19200 bit/s).
constexpr double kInFlightSeconds = 0.002;
// The pace of the re-checks after that, while the operator is watched.
constexpr int kStalledRecheckMs = 1;
// How long a stop waits for the reply to a data frame already on the wire. The radio answers
// within a few character times and drops a frame it has not had whole within a quarter second:
// a reply that has not come by then will not come.
constexpr double kStoppedReplySeconds = 1.0;

// The radio's pauses in the handshake: after "4", after each access-code byte, the divisor and
// the challenge's high byte, after its low byte (before the rate switch), after the erase
// command.
constexpr int kProgramCommandPauseMs = 300;
constexpr int kHandshakeBytePauseMs = 10;
constexpr int kBeforeRateSwitchPauseMs = 5;

}  // namespace

std::string_view ReasonToken(Reason reason) {
  switch (reason) {
    case Reason::kNone:
      return {};
    case Reason::kOperator:
      return "operator";
    case Reason::kSignal:
      return "signal";
    case Reason::kLineDead:
      return "line_dead";
    case Reason::kRetriesSpent:
      return "retries_spent";
    case Reason::kRadioSilent:
      return "radio_silent";
    case Reason::kUnexpectedBytes:
      return "unexpected_bytes";
    case Reason::kNotARadio:
      return "not_a_radio";
    case Reason::kSerialOutOfRange:
      return "serial_out_of_range";
    case Reason::kPortNotOpened:
      return "port_not_opened";
    case Reason::kSettingsRefused:
      return "settings_refused";
    case Reason::kVerdictNotSent:
      return "verdict_not_sent";
    case Reason::kChecksumMismatch:
      return "checksum_mismatch";
  }
  return {};
}

std::int64_t CountWords(std::span<const std::uint8_t> image) {
  image::RecordBuffer buffer{};
  image::ImageWalk walk(image, buffer);
  std::int64_t words = 0;
  while (walk.NextRecord()) {
    for (image::Word word; walk.NextWord(word);) ++words;
  }
  return words;
}

Result RunEngine(Plan plan, const Parts& parts, Operator& op) {
  return EngineRun(std::move(plan), parts, op).Run();
}

EngineRun::EngineRun(Plan plan, const Parts& parts, Operator& op)
    : plan_(std::move(plan)),
      line_(parts.port, parts.errors),
      errors_(parts.errors),
      priority_(parts.priority),
      clock_(parts.clock),
      random_(parts.random),
      image_(parts.image),
      op_(op),
      waiter_(
          line_, clock_, [this] { return op_.StopRequested(); }, op.WakeHandle()) {}

Result EngineRun::Run() {
  if (!OpenPort()) return Finish();
  // The diagnostic port needs waking before anything else. A failed send stays latched and is
  // reported at the handshake's first check.
  const job::LineResult woke = plan_.diag_port ? line_.SendByte(kDiagPortWake) : job::LineResult{};

  result_.stage = Stage::kQuestions;
  if (!op_.Confirm(plan_)) {
    Leave(Got::kGiveUp, Outcome::kQuit, Reason::kOperator);
    return Finish();
  }
  if (woke.dead()) {
    MetDeadLine(Outcome::kStopped);
    return Finish();
  }

  result_.stage = Stage::kHandshake;
  op_.Begin(Phase::kHandshake);
  line_.ZeroTimeouts();
  serial::ControlState snapshot;
  line_.ReadControlState(snapshot);  // a failure stays latched for the next check
  if (!Handshake()) {
    MetDeadLine(Outcome::kStopped);
    return Finish();
  }
  if (op_.StopRequested()) {
    Leave(Got::kStop, Outcome::kStopped, Reason::kSignal);
    return Finish();
  }
  const std::uint8_t divisor = plan_.high_speed ? kHighSpeedDivisor : kNormalDivisor;
  priority_.RaiseRealtime();
  line_.SwitchRate(snapshot, divisor);  // a failure stays latched, the radio's answer tells
  priority_.Normal();

  result_.stage = Stage::kIdentity;
  op_.Begin(Phase::kIdentity);
  WaitState identity_wait{.wait = Wait::kIdentity, .expected = 4, .since = clock_.Seconds()};
  if (const Got got = Await(identity_wait); got != Got::kAnswer) {
    Leave(got, Outcome::kStopped, give_up_reason_);
    return Finish();
  }
  std::array<std::uint8_t, 4> reply{};
  if (line_.Receive(reply).dead()) {
    MetDeadLine(Outcome::kStopped);
    return Finish();
  }
  if (reply[0] != kIdentityMarker) {
    result_.outcome = Outcome::kRefused;
    result_.reason = Reason::kNotARadio;
    op_.NotARadio(reply);
    return Finish();
  }
  const std::uint32_t serial = DecodeSerial(challenge_, reply[1], reply[2], reply[3]);
  result_.serial_number = serial;
  op_.SerialNumber(serial);
  if (serial < kSerialMin || serial > kSerialMax) {
    line_.SendByte(kRefuseRadio);  // a failure is reported at the end
    result_.outcome = Outcome::kRefused;
    result_.reason = Reason::kSerialOutOfRange;
    op_.SerialOutOfRange(serial);
    return Finish();
  }

  const job::LineResult erase = line_.SendByte(kStartErase);
  if (!Pause(kHandshakeBytePauseMs)) {
    Leave(Got::kStop, Outcome::kStopped, Reason::kSignal);
    return Finish();
  }
  result_.stage = Stage::kErase;
  op_.Begin(Phase::kErase);
  if (erase.dead()) {
    MetDeadLine(Outcome::kStopped);
    return Finish();
  }
  // Every byte other than the acknowledgement is taken, told and counted; the wait goes on.
  WaitState erase_wait{.wait = Wait::kErase, .expected = 1, .since = clock_.Seconds()};
  for (;;) {
    if (const Got got = Await(erase_wait); got != Got::kAnswer) {
      Leave(got, Outcome::kStopped, give_up_reason_);
      return Finish();
    }
    std::array<std::uint8_t, 1> byte{};
    if (line_.Receive(byte).dead()) {
      MetDeadLine(Outcome::kStopped);
      return Finish();
    }
    if (byte[0] == kEraseDone) break;
    ++erase_wait.unexpected;
    op_.UnexpectedByte(byte[0]);
  }

  if (Transfer() == Walked::kEnded) Verify();
  return Finish();
}

bool EngineRun::OpenPort() {
  result_.stage = Stage::kOpen;
  const job::OpenResult opened = line_.Open(plan_.device, job::Profile::kDirectUpload);
  if (opened.ok()) {
    op_.Opened(plan_);
    return true;
  }
  result_.outcome = Outcome::kPortNotOpened;
  result_.reason = opened.settings_refused ? Reason::kSettingsRefused : Reason::kPortNotOpened;
  result_.open_code = opened.code;
  result_.settings_refused = opened.settings_refused;
  result_.open_error = opened.reason;
  ReportPending();
  op_.OpenFailed(result_);
  return false;
}

// The handshake at 19200 bit/s: programming command, access code, divisor, challenge, each byte
// written by itself and followed by the pause the radio needs. False on a dead line.
bool EngineRun::Handshake() {
  Discard();
  if (!SendChecked(kProgramCommand, kProgramCommandPauseMs)) return false;
  Discard();
  for (const std::uint8_t code : plan_.access_code) {
    if (!SendChecked(code, kHandshakeBytePauseMs)) return false;
  }
  const std::uint8_t divisor = plan_.high_speed ? kHighSpeedDivisor : kNormalDivisor;
  if (!SendChecked(divisor, 0)) return false;
  random_.Seed(clock_.TimeOfDaySeconds());
  challenge_ = ChallengeWord(random_.Next());
  Pause(kHandshakeBytePauseMs);
  return SendChecked(HighByte(challenge_), kHandshakeBytePauseMs) &&
         SendChecked(LowByte(challenge_), kBeforeRateSwitchPauseMs);
}

// One handshake byte: sent by itself, a latched code reported at once (the sequence goes on),
// then the radio's pause. False on a dead line, where nothing more can pass.
bool EngineRun::SendChecked(std::uint8_t byte, int pause_ms) {
  const bool dead = line_.SendByte(byte).dead() || line_.Dead();
  ReportPending();
  if (dead) return false;
  if (pause_ms > 0) Pause(pause_ms);
  return true;
}

// Reads and drops whatever is waiting; a latched code is reported only when bytes were read.
void EngineRun::Discard() {
  line_.Purge();  // a network port's server drops its input; a failure shows in what follows
  const job::LineResult waiting = line_.Waiting();
  if (waiting.count == 0) return;
  std::vector<std::uint8_t> stale(waiting.count);
  line_.Receive(stale);  // a dead line latches 59, reported here
  ReportPending();
}

bool EngineRun::Pause(int ms) {
  op_.Pausing(ms);
  return waiter_.Pause(ms);
}

EngineRun::Got EngineRun::Await(WaitState& w) {
  // The answer to what was just sent is rarely there yet, so sleep before the first look. What
  // the operator already has to say would not wake the sleep: look for it first.
  if (!op_.InputPending()) Sleep(w);
  std::size_t partial = 0;
  double partial_since = 0.0;
  const bool may_retry = w.wait == Wait::kEcho || w.wait == Wait::kReply;
  for (;;) {
    const job::LineResult waiting = line_.Waiting();
    if (waiting.count >= w.expected) return Got::kAnswer;
    if (line_.Dead()) {
      ReportPending();
      return Got::kDead;
    }
    if (op_.StopRequested()) return StopAt(w);
    w.waiting = waiting.count;
    const Decision decision = op_.AtWait(w);
    // A stop that came while the operator was asked (it ends a prompt) is honoured here.
    if (op_.StopRequested()) return StopAt(w);
    if (decision.kind == Decision::Kind::kGiveUp) {
      give_up_reason_ = decision.reason;
      result_.unexpected_bytes = w.unexpected;
      return Got::kGiveUp;
    }
    if (decision.kind == Decision::Kind::kRetry && may_retry) return Got::kRetry;
    if (waiting.count == 0) {
      Sleep(w);
      continue;
    }
    // Part of the answer is in. The port reads as ready until it is taken, so waiting on it
    // would return at once: re-check straight away while the rest can still be in flight,
    // then at a calm pace, waking for the operator.
    if (waiting.count != partial) {
      partial = waiting.count;
      partial_since = clock_.Seconds();
      continue;
    }
    if (clock_.Seconds() - partial_since < kInFlightSeconds) continue;
    op_.Doze(kStalledRecheckMs);
  }
}

// The radio stores a word as it takes the data frame, before it replies: a stop that comes
// while the reply is awaited waits for it (asking the operator nothing more), so that the word
// counts exactly when the radio has it. Any other wait ends at once.
EngineRun::Got EngineRun::StopAt(const WaitState& w) {
  if (w.wait != Wait::kReply) return Got::kStop;
  const double until = clock_.Seconds() + kStoppedReplySeconds;
  // The stop is being honoured: only the reply, a dead line or the time end this wait.
  job::Waiter reply_wait(line_, clock_, nullptr);
  for (;;) {
    if (line_.Waiting().count >= w.expected) return Got::kAnswer;
    if (line_.Dead()) {
      ReportPending();
      return Got::kDead;
    }
    if (reply_wait.Over(until)) return Got::kStop;
    reply_wait.Sleep({.until = until});
  }
}

// Sleeps until the port or the operator may have something, no later than the operator wants
// to look again; not at all once a stop is requested.
void EngineRun::Sleep(const WaitState& w) {
  waiter_.Sleep(op_.NextLook(w));
}

void EngineRun::ReportPending() {
  const serial::ErrorNumber code = errors_.code;
  if (code == serial::kNoError) return;
  errors_.code = serial::kNoError;
  result_.line_code = code;
  op_.LineError(code);
}

void EngineRun::MetDeadLine(Outcome outcome) {
  ReportPending();
  result_.line_code = serial::kErrLineDead;
  result_.line_error = line_.FailureText();
  result_.outcome = outcome;
  result_.reason = Reason::kLineDead;
}

void EngineRun::Leave(Got got, Outcome outcome, Reason reason) {
  if (got == Got::kDead) {
    MetDeadLine(outcome);
    return;
  }
  if (got == Got::kStop || op_.StopRequested()) {
    result_.outcome = Outcome::kInterrupted;
    result_.reason = Reason::kSignal;
    return;
  }
  result_.outcome = outcome;
  result_.reason = reason;
}

Result EngineRun::Finish() {
  priority_.Normal();
  if (result_.transfer_started) {
    result_.seconds = clock_.Seconds() - transfer_start_;
    op_.TransferEnded(result_.seconds, show_time_);
  }
  line_.Close();
  ReportPending();  // what this upload left latched belongs to it, not to the next job
  op_.Finished(result_);
  return result_;
}

}  // namespace tvx::direct
