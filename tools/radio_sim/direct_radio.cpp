#include "radio_sim/direct_radio.h"

#include <algorithm>

namespace tvx::sim {

namespace {

constexpr std::uint8_t kGarbledByte = 0x00;  ///< what the PC reads at another rate than ours
constexpr std::uint32_t kHandshakeRate = kDivisorBase / kSlowDivisor;  ///< until the switch
/// The pauses the radio needs in the handshake: after "4", and after each access-code byte.
constexpr double kPauseAfterCommand = 0.300;
constexpr double kPauseAfterCodeByte = 0.010;
/// How much of a pause may be missing (the radio's own read can come late): a tenth, at least 2 ms.
constexpr double PauseAllowance(double pause) {
  return std::max(0.002, pause / 10);
}
/// A correct PC switches its rate 5 ms after its last handshake byte: a rate change within a
/// shorter window around a byte means the byte itself may have come at the new rate.
constexpr double kRateChangeAllowance = 0.004;

bool HeardAtHandshakeRate(const LineState& line) {
  if (!line.known || line.rate == kHandshakeRate) return true;
  // Right at the previous look and wrong now: the byte may have come before the change. When
  // the looks were far apart the radio cannot tell, and takes the byte.
  return line.previous_rate == kHandshakeRate && line.since_previous_look >= kRateChangeAllowance;
}

}  // namespace

DirectRadio::DirectRadio(const RadioConfig& config)
    : config_(config),
      memory_(std::make_unique<RadioMemory>()),
      attempt_parity_(std::make_unique<std::bitset<2 * 65536>>()),
      garbage_state_(config.seed * 2654435761u + 0x9E3779B9u) {
  for (auto& space : memory_->space) space.fill(0xFF);
  if (garbage_state_ == 0) garbage_state_ = 1;
  fired_.assign(config_.faults.size(), false);
}

bool DirectRadio::InHandshake() const {
  return phase_ >= DirectPhase::kAccessCode && phase_ <= DirectPhase::kChallengeLow;
}

bool DirectRadio::PauseKept(double now, std::uint32_t position, RadioOutput& out) {
  const double minimum = position == 1 ? kPauseAfterCommand : kPauseAfterCodeByte;
  const double pause = now - handshake_byte_at_ + handshake_byte_doubt_;
  if (pause >= minimum - PauseAllowance(minimum)) return true;
  ++counters_.pause_faults;
  out.Note(EventKind::kPauseFault, static_cast<std::uint32_t>(std::max(0.0, pause) * 1e6),
           position);
  RefuseHandshake(HandshakeFault::kPause, out);
  return false;
}

void DirectRadio::RefuseHandshake(HandshakeFault why, RadioOutput& out) {
  ++counters_.handshakes_refused;
  out.Note(EventKind::kHandshakeRefused, static_cast<std::uint32_t>(why));
  RestartSession();
  phase_ = DirectPhase::kRefused;
}

std::size_t DirectRadio::Feed(std::span<const std::uint8_t> in, const LineState& line, double now,
                              RadioOutput& out) {
  Advance(line, now, out);
  bool settings_checked = false;
  bool rate_fault_noted = false;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::uint8_t b = in[i];
    // The PC writes a data frame in one go: one with a gap belongs to something else. An address
    // frame goes out byte by byte and counts as a word attempt once whole, however late.
    const bool in_frames = phase_ == DirectPhase::kTransfer || phase_ == DirectPhase::kReadBack;
    if (in_frames && frame_pos_ > 3 && held_ == Frame::kNone &&
        now - frame_start_ > config_.frame_timeout) {
      frame_pos_ = 0;
      ++counters_.stale_frames;
    }
    // A finished read-back: a byte that is no frame's ends the session.
    if (phase_ == DirectPhase::kReadBack && frame_pos_ == 0 && b > 1 && b != 0xFF &&
        !StartsSession(b)) {
      phase_ = DirectPhase::kIdle;
    }
    if (phase_ == DirectPhase::kIdle && !StartsSession(b)) return i;
    last_byte_at_ = now;
    if (phase_ == DirectPhase::kRefused) continue;  // not listening until the line is quiet

    if (!settings_checked && line.known && !line.IsPlain8N1()) {
      ++counters_.line_setting_faults;
      out.Note(EventKind::kLineSettingsFault);
    }
    settings_checked = true;
    if ((phase_ == DirectPhase::kIdle || InHandshake()) && !HeardAtHandshakeRate(line)) {
      // A real radio hears a byte at another rate as a framing error: the handshake is lost.
      ++counters_.line_rate_faults;
      out.Note(EventKind::kLineRateFault, line.rate, kHandshakeRate);
      RefuseHandshake(HandshakeFault::kLineRate, out);
      continue;
    }
    // After the rate switch (the handshake's rate is judged above, with the benefit of the doubt).
    const std::uint32_t expected =
        phase_ > DirectPhase::kAwaitRateSwitch ? kDivisorBase / divisor_ : 0;
    if (line.known && expected != 0 && line.rate != expected) {
      // Heard at the wrong rate, a byte is a framing error and never reaches the protocol.
      if (!rate_fault_noted) {
        rate_fault_noted = true;
        ++counters_.line_rate_faults;
        out.Note(EventKind::kLineRateFault, line.rate, expected);
      }
      continue;
    }
    HandleByte(b, now, out);
    Sniff(b, out);
  }
  return in.size();
}

void DirectRadio::Advance(const LineState& line, double now, RadioOutput& out) {
  line_ = line;
  now_ = now;
  // The moments NextDeadline names, computed the same way. A long gap in a handshake: PC gone.
  if ((phase_ == DirectPhase::kRefused && now >= last_byte_at_ + config_.refusal_quiet) ||
      (InHandshake() && now >= last_byte_at_ + config_.handshake_timeout))
    phase_ = DirectPhase::kIdle;
  if (phase_ == DirectPhase::kAwaitRateSwitch) CheckRateSwitch(now, out);
  if (phase_ == DirectPhase::kErasing && now >= erase_done_at_) FinishErase(out);
  if (held_ != Frame::kNone && now >= held_until_) ResolveHeldFrame(out);
}

void DirectRadio::NextDeadline(double now, Earliest& next) const {
  if (phase_ == DirectPhase::kAwaitRateSwitch) {
    // The PC's rate change raises no event on the line: look again every millisecond.
    next.Take(std::min(rate_deadline_, now + 0.001));
  }
  if (InHandshake()) {
    // Looking every millisecond dates each byte and its line rate closely.
    next.Take(std::min(last_byte_at_ + config_.handshake_timeout, now + 0.001));
  }
  if (phase_ == DirectPhase::kRefused) next.Take(last_byte_at_ + config_.refusal_quiet);
  if (phase_ == DirectPhase::kErasing) next.Take(erase_done_at_);
  if (held_ != Frame::kNone) next.Take(held_until_);
}

void DirectRadio::HandleByte(std::uint8_t b, double now, RadioOutput& out) {
  now_ = now;
  switch (phase_) {
    case DirectPhase::kIdle:
      HandleIdle(b, now, out);
      return;
    case DirectPhase::kAccessCode: {
      if (!PauseKept(now, static_cast<std::uint32_t>(access_pos_ + 1), out)) return;
      if (b != config_.access_code[static_cast<std::size_t>(access_pos_)]) {
        ++counters_.access_code_faults;
        out.Note(EventKind::kAccessCodeFault);
        RefuseHandshake(HandshakeFault::kAccessCode, out);
        return;
      }
      handshake_byte_at_ = now;
      handshake_byte_doubt_ = line_.since_previous_look;
      if (++access_pos_ == 4) phase_ = DirectPhase::kDivisor;
      return;
    }
    case DirectPhase::kDivisor:
      if (!PauseKept(now, 5, out)) return;
      if (b == kFastDivisor || b == kSlowDivisor) {
        divisor_ = b;
        counters_.last_divisor = b;
        phase_ = DirectPhase::kChallengeHigh;
        return;
      }
      ++counters_.divisor_faults;
      out.Note(EventKind::kDivisorFault, b);
      RefuseHandshake(HandshakeFault::kDivisor, out);
      return;
    case DirectPhase::kChallengeHigh:
      challenge_ = static_cast<std::uint16_t>(b << 8);
      phase_ = DirectPhase::kChallengeLow;
      return;
    case DirectPhase::kChallengeLow:
      challenge_ = static_cast<std::uint16_t>(challenge_ | b);
      counters_.last_challenge = challenge_;
      phase_ = DirectPhase::kAwaitRateSwitch;
      rate_deadline_ = now + config_.rate_switch_timeout;
      CheckRateSwitch(now, out);
      return;
    case DirectPhase::kAwaitRateSwitch:
      Stray(b, out);
      return;
    case DirectPhase::kAwaitEraseCommand:
      if (b == kEraseByte) {
        StartErase(now, out);
      } else if (b == kRefuseByte) {
        ++counters_.refusals;
        out.Note(EventKind::kRefused);
        phase_ = DirectPhase::kIdle;
      } else {
        RestartOrStray(b, out);
      }
      return;
    case DirectPhase::kErasing:
      RestartOrStray(b, out);
      return;
    case DirectPhase::kTransfer:
      HandleTransfer(b, now, out);
      return;
    case DirectPhase::kAwaitVerdict:
      HandleVerdict(b, out);
      return;
    case DirectPhase::kReadBack:
      HandleReadBack(b, out);
      return;
    case DirectPhase::kRefused:
      return;
  }
}

void DirectRadio::HandleIdle(std::uint8_t b, double now, RadioOutput& out) {
  if (b == kWakeByte) {
    ++counters_.diag_wakes;
    out.Note(EventKind::kDiagWake);
    return;
  }
  // "4": programming mode (with the noise of the garbage fault, which the PC throws away).
  ++counters_.program_commands;
  out.Note(EventKind::kProgramCommand);
  phase_ = DirectPhase::kAccessCode;
  access_pos_ = 0;
  // Read from idle, where the radio waits without looking: the read woke with the byte.
  handshake_byte_at_ = now;
  handshake_byte_doubt_ = 0;
  SendGarbage(out);
}

void DirectRadio::RestartSession() {
  phase_ = DirectPhase::kIdle;
  frame_pos_ = 0;
  held_ = Frame::kNone;
  ff_run_ = 0;
}

void DirectRadio::Sniff(std::uint8_t b, RadioOutput& out) {
  // "4" and the access code in a row can only be a PC starting over, wherever this radio
  // thought it stood (a PC that gave up mid-word and came back at once, say).
  const auto pos = static_cast<std::size_t>(sniff_pos_);
  const bool next = b == (pos == 0 ? kProgramByte : config_.access_code[pos - 1]);
  sniff_pos_ = next ? sniff_pos_ + 1 : b == kProgramByte ? 1 : 0;
  if (sniff_pos_ < 5) return;
  sniff_pos_ = 0;
  // Only a radio that took the bytes for transfer data needs this; a handshake keeps its rules.
  if (phase_ != DirectPhase::kTransfer && phase_ != DirectPhase::kAwaitVerdict &&
      phase_ != DirectPhase::kReadBack) {
    return;
  }
  RestartSession();
  handshake_byte_at_ = now_;
  handshake_byte_doubt_ = 0;
  ++counters_.program_commands;
  out.Note(EventKind::kProgramCommand);
  phase_ = DirectPhase::kDivisor;
}

void DirectRadio::CheckRateSwitch(double now, RadioOutput& out) {
  const std::uint32_t target = kDivisorBase / divisor_;
  if (!line_.known || line_.rate == target) {
    SendIdentity(out);
  } else if (now >= rate_deadline_) {
    ++counters_.line_rate_faults;
    out.Note(EventKind::kLineRateFault, line_.rate, target);
    SendIdentity(out);  // garbled by Emit: the PC listens at the wrong rate
  }
}

void DirectRadio::SendIdentity(RadioOutput& out) {
  const bool bad = config_.Has(Fault::kBadIdentity);
  if (bad) FireFault(Fault::kBadIdentity, out);
  phase_ = DirectPhase::kAwaitEraseCommand;
  Emit(bad ? 0xFE : kFillByte, out);
  for (std::uint8_t b : MaskSerial(challenge_, config_.serial)) Emit(b, out);
  ++counters_.identities_sent;
  out.Note(EventKind::kIdentitySent, challenge_, divisor_);
}

void DirectRadio::StartErase(double now, RadioOutput& out) {
  ++counters_.erases;
  out.Note(EventKind::kEraseStarted);
  for (auto& space : memory_->space) space.fill(0xFF);
  attempt_parity_->reset();
  attempt_ = 0;
  fired_.assign(config_.faults.size(), false);
  fired_hangup_ = false;
  phase_ = DirectPhase::kErasing;
  erase_done_at_ = now + config_.erase_seconds;
  SendGarbage(out);
  if (config_.erase_seconds <= 0) FinishErase(out);
}

void DirectRadio::FinishErase(RadioOutput& out) {
  phase_ = DirectPhase::kTransfer;
  frame_pos_ = 0;
  held_ = Frame::kNone;
  Emit(kEraseByte, out);
  out.Note(EventKind::kEraseDone);
}

void DirectRadio::SendGarbage(RadioOutput& out) {
  const FaultRequest* garbage = config_.Find(Fault::kGarbage);
  if (garbage == nullptr) return;
  FireFault(Fault::kGarbage, out);
  for (auto i = static_cast<long>(ValueOf(*garbage)); i > 0; --i) {
    // xorshift32; the erase-done byte itself never appears as noise.
    garbage_state_ ^= garbage_state_ << 13;
    garbage_state_ ^= garbage_state_ >> 17;
    garbage_state_ ^= garbage_state_ << 5;
    auto b = static_cast<std::uint8_t>(garbage_state_ >> 24);
    if (b == kEraseByte) b = 0xAB;
    Emit(b, out);
  }
}

void DirectRadio::Stray(std::uint8_t b, RadioOutput& out) {
  ++counters_.stray_bytes;
  out.Note(EventKind::kStrayByte, b);
}

void DirectRadio::RestartOrStray(std::uint8_t b, RadioOutput& out) {
  if (StartsSession(b)) {
    RestartSession();
    HandleIdle(b, now_, out);
  } else {
    Stray(b, out);
  }
}

void DirectRadio::Emit(std::uint8_t b, RadioOutput& out) {
  const std::uint32_t mute = config_.At(Fault::kMute);
  if (mute != 0 && attempt_ > mute) return;
  // Once the transfer rate is agreed, a PC listening at another rate reads garbage.
  if (line_.known && phase_ >= DirectPhase::kAwaitRateSwitch &&
      line_.rate != kDivisorBase / divisor_) {
    b = kGarbledByte;
  }
  out.Send(b);
  ff_run_ = 0;
}

}  // namespace tvx::sim
