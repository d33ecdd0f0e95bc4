#include "radio_sim/direct_radio.h"

#include "direct/protocol.h"
#include "image/checks.h"

namespace tvx::sim {

namespace {

using direct::HighByte;
using direct::LowByte;

/// What the PC reads of a byte sent while its line runs at another rate.
constexpr std::uint8_t kGarbledByte = 0x00;
constexpr std::uint8_t kSignature[5] = {direct::kProgramCommand, direct::kAccessCode[0],
                                        direct::kAccessCode[1], direct::kAccessCode[2],
                                        direct::kAccessCode[3]};

bool StartsSession(std::uint8_t b) {
  return b == direct::kDiagPortWake || b == direct::kProgramCommand;
}

}  // namespace

DirectRadio::DirectRadio(const RadioConfig& config)
    : config_(config),
      memory_(std::make_unique<RadioMemory>()),
      attempt_parity_(std::make_unique<std::bitset<2 * 65536>>()),
      garbage_state_(config.seed * 2654435761u + 0x9E3779B9u) {
  for (auto& space : memory_->space) space.fill(0xFF);
  if (garbage_state_ == 0) garbage_state_ = 1;
}

bool DirectRadio::AtRest() const {
  return phase_ == DirectPhase::kIdle ||
         (phase_ == DirectPhase::kReadBack && frame_pos_ == 0 && held_ == Frame::kNone);
}

std::uint32_t DirectRadio::ExpectedRate() const {
  // Before the switch the rate is not checked: a PC whose pauses cost no time (a test clock)
  // may already have switched when the radio reads the handshake bytes.
  if (phase_ > DirectPhase::kAwaitRateSwitch) return direct::kDivisorBase / divisor_;
  return 0;
}

std::size_t DirectRadio::Feed(std::span<const std::uint8_t> in, const LineState& line, double now,
                              RadioOutput& out) {
  Advance(line, now, out);
  bool settings_checked = false;
  bool rate_fault_noted = false;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::uint8_t b = in[i];
    // The PC writes a data frame in one go; a gap in it means its bytes belong to something
    // else. An address frame goes out byte by byte and is completed however late its last byte
    // comes (a PC stopped and continued mid-frame): the word attempt counts once it is whole,
    // on both sides.
    if (phase_ == DirectPhase::kTransfer && frame_pos_ > 3 && held_ == Frame::kNone &&
        now - frame_activity_ > config_.frame_timeout) {
      frame_pos_ = 0;
      ++counters_.stale_frames;
    }
    if (phase_ == DirectPhase::kReadBack && AtRest() && b > 1 && b != 0xFF && !StartsSession(b)) {
      phase_ = DirectPhase::kIdle;
      session_done_ = true;
    }
    if (phase_ == DirectPhase::kIdle && !StartsSession(b)) return i;

    if (!settings_checked) {
      settings_checked = true;
      if (line.known && !line.IsPlain8N1()) {
        ++counters_.line_setting_faults;
        out.Note(EventKind::kLineSettingsFault);
      }
    }
    const std::uint32_t expected = ExpectedRate();
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
  if (phase_ == DirectPhase::kAwaitRateSwitch) CheckRateSwitch(now, out);
  if (phase_ == DirectPhase::kErasing && now >= erase_done_at_) FinishErase(out);
  if (held_ != Frame::kNone && now >= held_until_) ResolveHeldFrame(out);
}

std::optional<double> DirectRadio::NextDeadline(double now) const {
  std::optional<double> next;
  auto take = [&next](double t) {
    if (!next || t < *next) next = t;
  };
  if (phase_ == DirectPhase::kAwaitRateSwitch) {
    // The PC's rate change raises no event on the line: look again every millisecond.
    take(std::min(rate_deadline_, now + 0.001));
  }
  if (phase_ == DirectPhase::kErasing) take(erase_done_at_);
  if (held_ != Frame::kNone) take(held_until_);
  return next;
}

void DirectRadio::HandleByte(std::uint8_t b, double now, RadioOutput& out) {
  now_ = now;
  switch (phase_) {
    case DirectPhase::kIdle:
      HandleIdle(b, out);
      return;
    case DirectPhase::kAccessCode:
      if (b == direct::kAccessCode[static_cast<std::size_t>(access_pos_)]) {
        if (++access_pos_ == 4) phase_ = DirectPhase::kDivisor;
        return;
      }
      ++counters_.access_code_faults;
      out.Note(EventKind::kAccessCodeFault, static_cast<std::uint32_t>(access_pos_), b);
      phase_ = DirectPhase::kIdle;
      session_done_ = true;
      if (StartsSession(b)) HandleIdle(b, out);
      return;
    case DirectPhase::kDivisor:
      if (b == direct::kHighSpeedDivisor || b == direct::kNormalDivisor) {
        divisor_ = b;
        counters_.last_divisor = b;
        phase_ = DirectPhase::kChallengeHigh;
        return;
      }
      ++counters_.divisor_faults;
      out.Note(EventKind::kDivisorFault, b);
      phase_ = DirectPhase::kIdle;
      session_done_ = true;
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
      if (b == direct::kStartErase) {
        StartErase(now, out);
      } else if (b == direct::kRefuseRadio) {
        ++counters_.refusals;
        out.Note(EventKind::kRefused);
        phase_ = DirectPhase::kIdle;
        session_done_ = true;
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
  }
}

void DirectRadio::HandleIdle(std::uint8_t b, RadioOutput& out) {
  if (b == direct::kDiagPortWake) {
    ++counters_.diag_wakes;
    out.Note(EventKind::kDiagWake);
    return;
  }
  // "4": programming mode. The radio answers with some noise of its own when asked to; the PC
  // throws away whatever arrives in the pause after "4".
  ++counters_.program_commands;
  out.Note(EventKind::kProgramCommand);
  phase_ = DirectPhase::kAccessCode;
  access_pos_ = 0;
  session_done_ = false;
  SendGarbage(out);
}

void DirectRadio::RestartSession() {
  phase_ = DirectPhase::kIdle;
  session_done_ = true;
  frame_pos_ = 0;
  held_ = Frame::kNone;
  ff_run_ = 0;
}

void DirectRadio::Sniff(std::uint8_t b, RadioOutput& out) {
  // "4" and the access code in a row can only be a PC starting over, wherever this radio
  // thought it stood (a PC that gave up mid-word and came back at once, say).
  if (b == kSignature[sniff_pos_]) {
    ++sniff_pos_;
  } else {
    sniff_pos_ = (b == kSignature[0]) ? 1 : 0;
  }
  if (sniff_pos_ < 5) return;
  sniff_pos_ = 0;
  if (phase_ == DirectPhase::kDivisor) return;
  RestartSession();
  ++counters_.program_commands;
  out.Note(EventKind::kProgramCommand);
  phase_ = DirectPhase::kDivisor;
  session_done_ = false;
}

void DirectRadio::CheckRateSwitch(double now, RadioOutput& out) {
  const std::uint32_t target = direct::kDivisorBase / divisor_;
  if (!line_.known || line_.rate == target) {
    SendIdentity(out);
  } else if (now >= rate_deadline_) {
    ++counters_.line_rate_faults;
    out.Note(EventKind::kLineRateFault, line_.rate, target);
    SendIdentity(out);  // garbled by Emit: the PC listens at the wrong rate
  }
}

void DirectRadio::SendIdentity(RadioOutput& out) {
  std::uint8_t marker = direct::kIdentityMarker;
  if (config_.bad_identity) {
    marker = 0xFE;
    FireFault(FaultKind::kBadIdentity, out);
  }
  const auto masked = direct::EncodeSerial(challenge_, config_.serial);
  phase_ = DirectPhase::kAwaitEraseCommand;
  Emit(marker, out);
  for (std::uint8_t b : masked) Emit(b, out);
  ++counters_.identities_sent;
  out.Note(EventKind::kIdentitySent, challenge_, divisor_);
}

void DirectRadio::StartErase(double now, RadioOutput& out) {
  ++counters_.erases;
  out.Note(EventKind::kEraseStarted);
  for (auto& space : memory_->space) space.fill(0xFF);
  attempt_parity_->reset();
  attempt_ = 0;
  counters_.session_attempts = 0;
  fired_drop_echo_ = fired_bad_echo_ = fired_drop_reply_ = fired_bad_reply_ = false;
  fired_corrupt_ = fired_hangup_ = false;
  phase_ = DirectPhase::kErasing;
  erase_done_at_ = now + config_.erase_seconds;
  SendGarbage(out);
  if (config_.erase_seconds <= 0) FinishErase(out);
}

void DirectRadio::FinishErase(RadioOutput& out) {
  phase_ = DirectPhase::kTransfer;
  frame_pos_ = 0;
  held_ = Frame::kNone;
  Emit(direct::kEraseDone, out);
  out.Note(EventKind::kEraseDone);
}

void DirectRadio::SendGarbage(RadioOutput& out) {
  if (config_.garbage_bytes == 0) return;
  FireFault(FaultKind::kGarbage, out);
  for (std::uint32_t i = 0; i < config_.garbage_bytes; ++i) {
    // xorshift32; the erase-done byte itself never appears as noise.
    garbage_state_ ^= garbage_state_ << 13;
    garbage_state_ ^= garbage_state_ >> 17;
    garbage_state_ ^= garbage_state_ << 5;
    auto b = static_cast<std::uint8_t>(garbage_state_ >> 24);
    if (b == direct::kEraseDone) b = 0xAB;
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
    HandleIdle(b, out);
  } else {
    Stray(b, out);
  }
}

void DirectRadio::Emit(std::uint8_t b, RadioOutput& out) {
  // Once the transfer rate is agreed, a PC listening at another rate reads garbage.
  if (line_.known && phase_ >= DirectPhase::kAwaitRateSwitch &&
      line_.rate != direct::kDivisorBase / divisor_) {
    b = kGarbledByte;
  }
  out.Send(b);
  ff_run_ = 0;
  frame_activity_ = now_;
}

}  // namespace tvx::sim
