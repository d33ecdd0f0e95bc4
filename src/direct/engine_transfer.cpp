// The record transfer: every two-byte word of the image goes out as an address frame that the
// radio echoes and a masked data frame that it answers with one byte. The radio's answers pace
// the transfer; a missing or wrong answer is put to the operator, who has the word sent again
// or gives up.
#include <algorithm>

#include "direct/engine_run.h"
#include "direct/protocol.h"

namespace tvx::direct {

namespace {

constexpr int kTransferStartPauseMs = 1000;

}  // namespace

EngineRun::Walked EngineRun::Transfer() {
  const std::int64_t total = CountWords(image_);
  result_.stage = Stage::kTransfer;
  result_.word_total = total;
  result_.transfer_started = true;
  transfer_start_ = clock_.Seconds();
  if (!Pause(kTransferStartPauseMs)) {
    transfer_start_ = clock_.Seconds();  // nothing was sent: no time to show
    Leave(Got::kStop, Outcome::kStopped, Reason::kSignal);
    return Walked::kLeft;
  }
  transfer_start_ = clock_.Seconds();
  op_.Begin(Phase::kTransfer);
  op_.Progress(0, total);
  even_xor_ = 0;
  odd_xor_ = 0;

  std::int64_t& done = result_.words_done;
  image::ImageWalk walk(image_, record_buffer_);
  while (walk.NextRecord()) {
    op_.RecordStarted(walk);
    const std::uint8_t space_byte = walk.SpaceByte();
    priority_.RaiseRealtime();
    for (image::Word word; walk.NextWord(word);) {
      if (const Got got = ExchangeWord(space_byte, word, done); got != Got::kAnswer) {
        priority_.Normal();
        Leave(got, Outcome::kStopped, give_up_reason_);
        return Walked::kLeft;
      }
      op_.Progress(++done, total);
      // The word is answered: a stop request ends the transfer here, before the next one.
      if (op_.StopRequested()) {
        priority_.Normal();
        Leave(Got::kStop, Outcome::kStopped, Reason::kSignal);
        return Walked::kLeft;
      }
    }
    priority_.Normal();
    if (walk.Ended()) break;
    if (!op_.NextRecord()) {
      Leave(Got::kGiveUp, Outcome::kStopped, Reason::kOperator);
      return Walked::kLeft;
    }
  }
  result_.prompt = Prompt::kNone;
  result_.tries = 0;
  return Walked::kEnded;
}

// Every attempt counts, on both sides, once its address frame is out whole: a word sent twice
// cancels out of the XOR sums, and the checksum can no longer vouch for it.
EngineRun::Got EngineRun::ExchangeWord(std::uint8_t space_byte, const image::Word& word,
                                       std::int64_t index) {
  const std::uint16_t address = word.address;
  const std::uint8_t address_high = HighByte(address);
  const std::uint8_t address_low = LowByte(address);
  result_.address = address;
  result_.prompt = Prompt::kNone;
  std::int32_t& tries = result_.tries;
  tries = 0;
  for (;;) {
    const Sent frame_sent = SendAddressFrame(space_byte, address);
    if (frame_sent == Sent::kDead) {
      ReportPending();
      return Got::kDead;
    }
    if (frame_sent == Sent::kWhole) {
      ++result_.word_attempts;
      even_xor_ ^= word.b0;
      odd_xor_ ^= word.b1;
      if (++tries == 2) {
        ++result_.resent_words;
        result_.resent_addresses.push_back(address);
      }
    }

    WaitState echo_wait{.wait = Wait::kEcho,
                        .expected = 2,
                        .since = clock_.Seconds(),
                        .word = index,
                        .address = address,
                        .tries = tries};
    if (const Got got = Await(echo_wait); got != Got::kAnswer) {
      if (got == Got::kGiveUp || got == Got::kRetry) result_.prompt = Prompt::kAddressWait;
      if (got != Got::kRetry) return got;
      if (!Resync()) return Got::kDead;
      continue;
    }
    std::array<std::uint8_t, 2> echo{};
    if (line_.Receive(echo).dead()) {
      ReportPending();
      return Got::kDead;
    }
    if (echo[0] != address_high || echo[1] != address_low) {
      result_.prompt = Prompt::kAddressEcho;
      if (op_.StopRequested()) return Got::kStop;  // no prompt, no resync: nothing more goes out
      const Decision decision =
          op_.AtFault({.prompt = Prompt::kAddressEcho,
                       .word = index,
                       .address = address,
                       .tries = tries,
                       .echo = static_cast<std::uint16_t>((echo[0] << 8) | echo[1])});
      if (decision.kind == Decision::Kind::kGiveUp) {
        give_up_reason_ = decision.reason;
        return Got::kGiveUp;
      }
      if (!Resync()) return Got::kDead;
      continue;
    }

    const DataFrame frame = MakeDataFrame(address, word.b0, word.b1);
    send_buffer_[0] = frame.d0;
    send_buffer_[1] = frame.d1;
    send_buffer_[2] = frame.check;
    const std::span<const std::uint8_t> data_frame(send_buffer_.data(), 3);
    for (;;) {
      const job::LineResult sent = RawWrite(data_frame);
      if (sent.count == data_frame.size()) break;
      // A dead port is not offered a resend.
      if (sent.dead() || line_.Dead()) {
        ReportPending();
        return Got::kDead;
      }
      result_.prompt = Prompt::kDataTransmit;
      if (op_.StopRequested()) return Got::kStop;
      const Decision decision = op_.AtFault({.prompt = Prompt::kDataTransmit,
                                             .word = index,
                                             .address = address,
                                             .tries = tries,
                                             .written = sent.count});
      if (decision.kind == Decision::Kind::kGiveUp) {
        give_up_reason_ = decision.reason;
        return Got::kGiveUp;
      }
    }

    WaitState reply_wait{.wait = Wait::kReply,
                         .expected = 1,
                         .since = clock_.Seconds(),
                         .word = index,
                         .address = address,
                         .tries = tries};
    if (const Got got = Await(reply_wait); got != Got::kAnswer) {
      if (got == Got::kGiveUp || got == Got::kRetry) result_.prompt = Prompt::kDataWait;
      if (got != Got::kRetry) return got;
      if (!Resync()) return Got::kDead;
      continue;
    }
    std::array<std::uint8_t, 1> reply{};
    if (line_.Receive(reply).dead()) {
      ReportPending();
      return Got::kDead;
    }
    if (reply[0] != frame.expected_reply) {
      result_.prompt = Prompt::kBadData;
      if (op_.StopRequested()) return Got::kStop;
      const Decision decision = op_.AtFault({.prompt = Prompt::kBadData,
                                             .word = index,
                                             .address = address,
                                             .tries = tries,
                                             .sent_d1 = frame.d1,
                                             .reply = reply[0],
                                             .expected = frame.expected_reply});
      if (decision.kind == Decision::Kind::kGiveUp) {
        give_up_reason_ = decision.reason;
        return Got::kGiveUp;
      }
      if (!Resync()) return Got::kDead;
      continue;
    }
    result_.prompt = Prompt::kNone;
    return Got::kAnswer;
  }
}

// The three bytes of an address frame, each by itself. A frame cut short by a failed send is
// not one the radio can count.
EngineRun::Sent EngineRun::SendAddressFrame(std::uint8_t space_byte, std::uint16_t address) {
  bool whole = line_.SendByte(space_byte).ok();
  whole = line_.SendByte(HighByte(address)).ok() && whole;
  whole = line_.SendByte(LowByte(address)).ok() && whole;
  if (whole) return Sent::kWhole;
  return line_.Dead() ? Sent::kDead : Sent::kShort;
}

// Asks the radio to drop what it has of the current word: four 0xFF bytes, then whatever is
// already in the receive queue is thrown away (no report). False on a dead line (reported).
bool EngineRun::Resync() {
  static constexpr std::array<std::uint8_t, 4> kResync = {kResyncByte, kResyncByte, kResyncByte,
                                                          kResyncByte};
  if (line_.Send(kResync).dead()) {
    ReportPending();
    return false;
  }
  std::array<std::uint8_t, 64> stale{};
  for (std::size_t left = line_.Waiting().count; left > 0;) {
    const std::size_t n = std::min(left, stale.size());
    if (line_.Receive(std::span<std::uint8_t>(stale.data(), n)).count < n) break;
    left -= n;
  }
  return true;
}

job::LineResult EngineRun::RawWrite(std::span<const std::uint8_t> bytes) {
  const serial::ErrorNumber before = errors_.code;
  const job::LineResult written = line_.Send(bytes);
  if (!written.ok() && !written.dead()) errors_.code = before;
  return written;
}

}  // namespace tvx::direct
