// After a complete walk: the radio's checksum against the words sent, the verdict byte, and on a
// rejected checksum the read-back of every word, in which the radio returns what it stored.
#include "direct/engine_run.h"
#include "direct/protocol.h"

namespace tvx::direct {

void EngineRun::Verify() {
  priority_.Normal();
  result_.stage = Stage::kChecksum;
  op_.Begin(Phase::kChecksum);
  WaitState checksum_wait{.wait = Wait::kChecksum, .expected = 2, .since = clock_.Seconds()};
  if (const Got got = Await(checksum_wait); got != Got::kAnswer) {
    Leave(got, Outcome::kStopped, give_up_reason_);
    return;
  }
  std::array<std::uint8_t, 2> sums{};
  if (line_.Receive(sums).dead()) {
    MetDeadLine(Outcome::kStopped);
    return;
  }
  // The radio complements its sums over an odd number of words.
  const std::uint8_t flip = (result_.word_attempts % 2 != 0) ? 0xFF : 0x00;
  ChecksumReport report{.even_xor = even_xor_, .odd_xor = odd_xor_, .c1 = sums[0], .c2 = sums[1]};
  report.accepted = sums[0] == (even_xor_ ^ flip) && sums[1] == (odd_xor_ ^ flip);
  op_.Checksum(report);
  if (report.accepted) {
    if (!SendVerdict(kChecksumAccepted)) return;
    result_.outcome = Outcome::kComplete;
    result_.reason = Reason::kNone;
    return;
  }
  if (!SendVerdict(kChecksumRejected)) return;
  // The verdict went out: whatever happens in the read-back, the radio must be loaded again.
  result_.outcome = Outcome::kChecksumError;
  result_.reason = Reason::kChecksumMismatch;
  result_.stage = Stage::kReadBack;
  if (ReadBack() == Got::kAnswer) show_time_ = false;
}

bool EngineRun::SendVerdict(std::uint8_t verdict) {
  send_buffer_[0] = verdict;
  const job::LineResult sent = RawWrite(std::span<const std::uint8_t>(send_buffer_.data(), 1));
  if (sent.count == 1) return true;
  if (sent.dead() || line_.Dead()) {
    MetDeadLine(Outcome::kStopped);
  } else {
    result_.outcome = Outcome::kStopped;
    result_.reason = Reason::kVerdictNotSent;
  }
  return false;
}

// A walk that visits every record (the empty ones too) and asks for every word; nothing is
// counted or sent again. Each word that differs from the image is put to the operator.
EngineRun::Got EngineRun::ReadBack() {
  op_.Begin(Phase::kReadBack);
  const std::int64_t total = CountWords(image_);
  result_.word_total = total;
  std::int64_t& done = result_.words_read_back;
  image::ImageWalk walk(image_, record_buffer_, image::WalkMode::kVisitAll);
  while (walk.NextRecord()) {
    op_.RecordStarted(walk);
    const std::uint8_t space_byte = walk.SpaceByte();
    for (image::Word word; walk.NextWord(word);) {
      result_.address = word.address;
      if (SendAddressFrame(space_byte, word.address) == Sent::kDead) {
        ReportPending();
        return Got::kDead;
      }
      WaitState answer_wait{.wait = Wait::kReadBack,
                            .expected = 2,
                            .since = clock_.Seconds(),
                            .word = done,
                            .address = word.address};
      if (const Got got = Await(answer_wait); got != Got::kAnswer) return got;
      std::array<std::uint8_t, 2> stored{};
      if (line_.Receive(stored).dead()) {
        ReportPending();
        return Got::kDead;
      }
      op_.Progress(++done, total);
      if (stored[0] == word.b0 && stored[1] == word.b1) continue;
      result_.prompt = Prompt::kReadBackMismatch;
      const Mismatch mismatch{.word = done - 1,
                              .address = word.address,
                              .b0 = word.b0,
                              .g0 = stored[0],
                              .b1 = word.b1,
                              .g1 = stored[1]};
      if (!op_.AtMismatch(mismatch)) return Got::kGiveUp;
      if (op_.StopRequested()) return Got::kStop;
      result_.prompt = Prompt::kNone;
    }
  }
  return Got::kAnswer;
}

}  // namespace tvx::direct
