// The word transfer of the programming mode: address and data frames, resync, checksum,
// verdict and read-back (the handshake and erase are in direct_radio.cpp).
#include "radio_sim/direct_radio.h"

#include <utility>

namespace tvx::sim {

void DirectRadio::HandleTransfer(std::uint8_t b, double now, RadioOutput& out) {
  if (b == kFillByte) {
    if (++ff_run_ == 4) {
      held_ = Frame::kNone;
      frame_pos_ = 0;
      ++counters_.resyncs;
      out.Note(EventKind::kResync);
      return;
    }
  } else {
    ff_run_ = 0;
  }
  if (held_ != Frame::kNone) {
    if (b == kFillByte) return;  // may still become a resync
    ResolveHeldFrame(out);
  }
  if (FrameHead(b, out)) return;
  switch (frame_pos_) {
    case 2:
      addr_lo_ = b;
      frame_pos_ = 3;
      held_ = Frame::kAddress;
      break;
    case 3:
      // However long the PC took (an operator answering a prompt before the frame is written
      // again), the byte after an echo starts the data frame.
      d0_ = b;
      frame_pos_ = 4;
      frame_start_ = now;
      return;
    case 4:
      d1_ = b;
      frame_pos_ = 5;
      return;
    default:
      check_ = b;
      frame_pos_ = 6;
      held_ = Frame::kData;
      break;
  }
  // A frame that ends in two 0xFF may be the start of a resync: it waits for the next byte.
  if (ff_run_ >= 2) {
    held_until_ = now + config_.resync_window;
  } else {
    ResolveHeldFrame(out);
  }
}

void DirectRadio::ResolveHeldFrame(RadioOutput& out) {
  const Frame frame = held_;
  held_ = Frame::kNone;
  if (frame == Frame::kAddress) OnAddressFrame(out);
  if (frame == Frame::kData) OnDataFrame(out);
}

const FaultRequest* DirectRadio::Strike(Fault fault, RadioOutput& out) {
  for (std::size_t i = 0; i < config_.faults.size(); ++i) {
    const FaultRequest& f = config_.faults[i];
    if (f.fault != fault || f.at != attempt_ || fired_[i]) continue;
    fired_[i] = true;
    FireFault(fault, out);
    return &f;
  }
  return nullptr;
}

void DirectRadio::FireFault(Fault fault, RadioOutput& out) {
  ++counters_.faults_fired;
  out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(fault), attempt_);
}

void DirectRadio::MaybeHangUp(RadioOutput& out) {
  const std::uint32_t word = config_.At(Fault::kHangUp);
  if (word == 0 || fired_hangup_ || attempt_ < word) return;
  fired_hangup_ = true;
  FireFault(Fault::kHangUp, out);
  out.Note(EventKind::kHangUp);
  out.RequestHangUp();
}

void DirectRadio::OnAddressFrame(RadioOutput& out) {
  ++attempt_;
  ++counters_.word_attempts;
  const std::uint16_t address = static_cast<std::uint16_t>(addr_hi_ << 8 | addr_lo_);
  attempt_parity_->flip(std::size_t{space_} * 65536 + address);
  if (attempt_ > config_.At(Fault::kHangUp)) {
    MaybeHangUp(out);  // the word it was meant to follow never got its data frame
    if (fired_hangup_ && out.HangUpRequested()) return;
  }
  if (Strike(Fault::kDropEcho, out) != nullptr) return;
  const bool swap = Strike(Fault::kBadEcho, out) != nullptr;
  std::uint8_t first = addr_hi_;
  std::uint8_t second = addr_lo_;
  if (swap && addr_hi_ != addr_lo_) {
    std::swap(first, second);
  } else if (swap || Strike(Fault::kBadEchoLow, out) != nullptr) {
    second = static_cast<std::uint8_t>(second ^ 0x01);
  }
  Emit(first, out);
  Emit(second, out);
}

void DirectRadio::OnDataFrame(RadioOutput& out) {
  frame_pos_ = 0;
  ++counters_.words_received;
  const std::uint16_t address = static_cast<std::uint16_t>(addr_hi_ << 8 | addr_lo_);
  const auto reply = static_cast<std::uint8_t>(addr_hi_ ^ d1_);
  if (check_ != DataCheckByte(d0_, d1_)) {
    // Nothing is stored; a reply the PC cannot take for the right one makes it resend.
    ++counters_.check_byte_failures;
    out.Note(EventKind::kCheckByteFailure, attempt_, address);
    Emit(static_cast<std::uint8_t>(reply ^ 0xFF), out);
    MaybeHangUp(out);
    return;
  }
  ++counters_.words_checked_ok;
  const std::uint16_t mix = NextMix(address);
  auto b0 = static_cast<std::uint8_t>(d0_ ^ (mix >> 8));
  auto b1 = static_cast<std::uint8_t>(d1_ ^ mix);
  if (const FaultRequest* corrupt = Strike(Fault::kCorruptStore, out)) {
    std::uint8_t& hit = ValueOf(*corrupt) == 0 ? b0 : b1;
    hit = static_cast<std::uint8_t>(hit ^ 0x01);
  }
  auto& space = memory_->space[space_];
  space[address] = b0;
  space[static_cast<std::uint16_t>(address + 1)] = b1;

  if (Strike(Fault::kDropReply, out) == nullptr) {
    const bool bad = Strike(Fault::kBadReply, out) != nullptr;
    Emit(static_cast<std::uint8_t>(bad ? reply ^ 0xFF : reply), out);
  }
  // The word that ends at 0xFFFF is the image's last: the radio reports its checksum at once.
  if (address == 0xFFFE) SendChecksum(out);
  MaybeHangUp(out);
}

std::array<std::uint8_t, 2> DirectRadio::CurrentChecksum() const {
  std::uint8_t even = 0;
  std::uint8_t odd = 0;
  const auto& parity = *attempt_parity_;
  for (std::size_t i = 0; i < parity.size(); ++i) {
    if (!parity.test(i)) continue;
    const auto& space = memory_->space[i >> 16];
    const auto address = static_cast<std::uint16_t>(i & 0xFFFF);
    even ^= space[address];
    odd ^= space[static_cast<std::uint16_t>(address + 1)];
  }
  const std::uint8_t flip = attempt_ % 2 != 0 ? 0xFF : 0x00;
  return {static_cast<std::uint8_t>(even ^ flip), static_cast<std::uint8_t>(odd ^ flip)};
}

void DirectRadio::SendChecksum(RadioOutput& out) {
  auto sum = CurrentChecksum();
  if (config_.Has(Fault::kBadChecksum)) {
    FireFault(Fault::kBadChecksum, out);
    sum[0] = static_cast<std::uint8_t>(sum[0] ^ 0x01);
  }
  phase_ = DirectPhase::kAwaitVerdict;
  Emit(sum[0], out);
  Emit(sum[1], out);
  ++counters_.checksums_sent;
  counters_.last_checksum = sum;
  out.Note(EventKind::kChecksumSent, std::uint32_t{sum[0]} << 8 | sum[1]);
}

void DirectRadio::HandleVerdict(std::uint8_t b, RadioOutput& out) {
  if (b == kFillByte) {
    // The PC did not take the last word's reply and resends the word: the transfer reopens.
    phase_ = DirectPhase::kTransfer;
    frame_pos_ = 0;
    ff_run_ = 1;
    return;
  }
  if (b == kAcceptByte) {
    ++counters_.verdicts_accepted;
    out.Note(EventKind::kVerdictAccepted);
    phase_ = DirectPhase::kIdle;
  } else if (b == kRejectByte) {
    ++counters_.verdicts_rejected;
    out.Note(EventKind::kVerdictRejected);
    phase_ = DirectPhase::kReadBack;
    frame_pos_ = 0;
  } else {
    RestartOrStray(b, out);  // "4" starts over ("U" is the reject byte)
  }
}

bool DirectRadio::FrameHead(std::uint8_t b, RadioOutput& out) {
  if (frame_pos_ == 0) {
    if (b <= 1) {
      space_ = b;
      frame_pos_ = 1;
      frame_start_ = now_;
    } else if (b != kFillByte) {  // 0xFF: the rest of a resync, or its start
      RestartOrStray(b, out);
    }
    return true;
  }
  if (frame_pos_ != 1) return false;
  addr_hi_ = b;
  frame_pos_ = 2;
  return true;
}

void DirectRadio::HandleReadBack(std::uint8_t b, RadioOutput& out) {
  if (FrameHead(b, out)) return;
  addr_lo_ = b;
  frame_pos_ = 0;
  const std::uint16_t address = static_cast<std::uint16_t>(addr_hi_ << 8 | addr_lo_);
  const auto& space = memory_->space[space_];
  Emit(space[address], out);
  Emit(space[static_cast<std::uint16_t>(address + 1)], out);
  ++counters_.readback_words;
  if (counters_.readback_words == config_.At(Fault::kHangUpReadBack)) {
    FireFault(Fault::kHangUpReadBack, out);
    out.Note(EventKind::kHangUp);
    out.RequestHangUp();
  }
  if (address == 0xFFFE) {
    ++counters_.readbacks_completed;
    out.Note(EventKind::kReadBackDone);
    phase_ = DirectPhase::kIdle;
  }
}

}  // namespace tvx::sim
