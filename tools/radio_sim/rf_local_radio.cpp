#include "radio_sim/rf_local_radio.h"

#include <algorithm>

#include "image/checks.h"

namespace tvx::sim {

namespace {

constexpr std::uint8_t kFrameMarker = 0x36;
constexpr std::uint32_t kNoRecord = 0xFFFFFFFF;

std::array<std::uint8_t, 2> Crc(std::span<const std::uint8_t> bytes) {
  image::Crc16Register reg;
  for (std::uint8_t b : bytes) image::Crc16Update(reg, b);
  return {reg.high, reg.low};
}

/// m of a record: the bytes after the length byte, rounded up to odd so the data form pairs.
int FrameM(std::uint8_t length) {
  int m = int{length} - 1;
  if (m % 2 == 0) ++m;
  return m;
}

}  // namespace

std::string_view RfFrameCheckName(RfFrameCheck check) {
  switch (check) {
    case RfFrameCheck::kGood:
      return "good";
    case RfFrameCheck::kBadCrc:
      return "bad CRC";
    case RfFrameCheck::kBadMarker:
      return "bad marker";
    case RfFrameCheck::kBadLength:
      return "bad length";
    case RfFrameCheck::kBadIndex:
      return "record index out of range";
    case RfFrameCheck::kBadTypeOrAddress:
      return "type or address differ";
    case RfFrameCheck::kBadData:
      return "data differ";
    case RfFrameCheck::kBadRecordCount:
      return "bad record count";
    case RfFrameCheck::kBadChecksum:
      return "bad checksum";
    case RfFrameCheck::kIncomplete:
      return "incomplete";
  }
  return "?";
}

RfLocalRadio::RfLocalRadio(const RadioConfig& config)
    : config_(config),
      image_(config.image.empty() ? image::FirmwareImage() : config.image),
      rng_(config.seed) {
  record_count_ = image::WalkRecordCount(image_);
  image::RecordBuffer buffer{};
  image::ImageWalk walk(image_, buffer);
  image::PairChecksum sum;
  while (walk.NextRecord()) {
    for (image::Word w; walk.NextWord(w);) sum.Add(w.b0, w.b1);
  }
  checksum_ = sum.Value();
  records_.resize(static_cast<std::size_t>(image::StoredRecordCount(image_)));
}

RfFrameCheck RfLocalRadio::Check(std::span<const std::uint8_t> frame,
                                 std::uint32_t* record_index) const {
  if (record_index != nullptr) *record_index = kNoRecord;
  const std::size_t n = frame.size();
  if (n < 8) return RfFrameCheck::kIncomplete;
  if (frame[0] == kDataType && record_index != nullptr) {
    // Counted under the record it names, whatever else is wrong with it.
    const std::uint32_t named = std::uint32_t{frame[3]} << 8 | frame[4];
    if (named < records_.size()) *record_index = named;
  }
  const auto crc = Crc(frame.subspan(1, n - 3));
  if (frame[n - 2] != crc[0] || frame[n - 1] != crc[1]) return RfFrameCheck::kBadCrc;
  if (frame[2] != kFrameMarker) return RfFrameCheck::kBadMarker;

  if (frame[0] == kHeaderType) {
    if (n != 8) return RfFrameCheck::kBadLength;
    const unsigned count = unsigned{frame[3]} << 8 | frame[4];
    if (count != (static_cast<unsigned>(record_count_) & 0xFFFF)) {
      return RfFrameCheck::kBadRecordCount;
    }
    if (frame[1] != checksum_[0] || frame[5] != checksum_[1]) return RfFrameCheck::kBadChecksum;
    return RfFrameCheck::kGood;
  }

  const int m = frame[1];
  if (m < 3 || m % 2 == 0 || static_cast<std::size_t>(m) + 8 != n) return RfFrameCheck::kBadLength;
  const std::uint32_t index = std::uint32_t{frame[3]} << 8 | frame[4];
  if (index >= records_.size()) return RfFrameCheck::kBadIndex;
  image::RecordBuffer record{};
  image::FetchRecord(image_, static_cast<std::int32_t>(index), record);
  if (m != FrameM(record[0])) return RfFrameCheck::kBadLength;
  if (frame[6] != record[1] || frame[7] != record[2] || frame[8] != record[3]) {
    return RfFrameCheck::kBadTypeOrAddress;
  }
  // Descramble: the mix word starts at address low byte * 256 + s and takes one step per pair.
  auto mix = static_cast<std::uint16_t>(record[3] << 8 | frame[5]);
  for (int i = 4; i <= m; i += 2) {
    image::BitMix(mix);
    const auto hi = static_cast<std::uint8_t>(mix >> 8);
    const auto lo = static_cast<std::uint8_t>(mix & 0xFF);
    const auto i_sz = static_cast<std::size_t>(i);
    if ((frame[i_sz + 5] ^ hi) != record[i_sz] || (frame[i_sz + 6] ^ lo) != record[i_sz + 1]) {
      return RfFrameCheck::kBadData;
    }
  }
  return RfFrameCheck::kGood;
}

std::size_t RfLocalRadio::Feed(std::span<const std::uint8_t> in, const LineState& line, double now,
                               RadioOutput& out) {
  Advance(line, now, out);
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::uint8_t b = in[i];
    if (state_ == State::kBetweenFrames && b != kHeaderType && b != kDataType) return i;
    if (i == 0) {
      if (line.known && !line.IsPlain8N1()) {
        ++counters_.line_setting_faults;
        out.Note(EventKind::kLineSettingsFault);
      }
      if (line.known && line.rate != kLineRate) {
        // At the wrong rate every byte is a framing error: nothing of this batch is heard.
        ++counters_.line_rate_faults;
        out.Note(EventKind::kLineRateFault, line.rate, kLineRate);
        last_byte_at_ = now;
        return in.size();
      }
    }
    last_byte_at_ = now;
    switch (state_) {
      case State::kDiscarding:
        continue;
      case State::kBetweenFrames:
        frame_[0] = b;
        frame_len_ = 1;
        frame_need_ = (b == kHeaderType) ? 8 : 0;
        state_ = State::kInFrame;
        continue;
      case State::kInFrame:
        frame_[frame_len_++] = b;
        if (frame_need_ == 0 && frame_len_ == 2) {
          const int m = b;
          if (m < 3 || m % 2 == 0 || static_cast<std::size_t>(m) + 8 > kMaxFrame) {
            ++counters_.malformed_frames;
            ++counters_.data_frames_bad;
            counters_.last_bad_check = RfFrameCheck::kBadLength;
            out.Note(EventKind::kRfFrameBad, static_cast<std::uint32_t>(RfFrameCheck::kBadLength),
                     kNoRecord);
            state_ = State::kDiscarding;
            continue;
          }
          frame_need_ = static_cast<std::size_t>(m) + 8;
        }
        if (frame_len_ == frame_need_) CompleteFrame(out);
        continue;
    }
  }
  return in.size();
}

void RfLocalRadio::Advance(const LineState& /*line*/, double now, RadioOutput& out) {
  // The moments NextDeadline names, computed the same way: at its deadline a cut-off frame is
  // over, so that a runner which sleeps until then finds nothing left to wait for.
  if (state_ == State::kInFrame && now >= last_byte_at_ + config_.frame_timeout) {
    const bool header = frame_[0] == kHeaderType;
    ++(header ? counters_.header_frames_bad : counters_.data_frames_bad);
    counters_.last_bad_check = RfFrameCheck::kIncomplete;
    std::uint32_t index = kNoRecord;
    if (!header && frame_len_ >= 5) {
      index = std::uint32_t{frame_[3]} << 8 | frame_[4];
      if (index < records_.size()) ++records_[index].bad;
    }
    out.Note(EventKind::kRfFrameBad, static_cast<std::uint32_t>(RfFrameCheck::kIncomplete), index);
    state_ = State::kBetweenFrames;
  } else if (state_ == State::kDiscarding && now >= last_byte_at_ + config_.rf_quiet_gap) {
    state_ = State::kBetweenFrames;
  }
}

std::optional<double> RfLocalRadio::NextDeadline(double /*now*/) const {
  if (state_ == State::kInFrame) return last_byte_at_ + config_.frame_timeout;
  if (state_ == State::kDiscarding) return last_byte_at_ + config_.rf_quiet_gap;
  return std::nullopt;
}

void RfLocalRadio::CompleteFrame(RadioOutput& out) {
  state_ = State::kBetweenFrames;
  const std::span<const std::uint8_t> frame(frame_.data(), frame_len_);
  std::uint32_t index = kNoRecord;
  const RfFrameCheck check = Check(frame, &index);
  const bool header = frame_[0] == kHeaderType;
  if (check == RfFrameCheck::kGood) {
    if (header) {
      ++counters_.header_frames_good;
      out.Note(EventKind::kRfHeaderGood);
    } else {
      ++counters_.data_frames_good;
      if (records_[index].good++ == 0) ++counters_.records_complete;
    }
  } else {
    ++(header ? counters_.header_frames_bad : counters_.data_frames_bad);
    if (index != kNoRecord) ++records_[index].bad;
    counters_.last_bad_check = check;
    out.Note(EventKind::kRfFrameBad, static_cast<std::uint32_t>(check), index);
  }
  if (header) {
    out.Send(frame);
    ++counters_.echoes_sent;
  } else {
    ++counters_.data_frames_received;
    Echo(out);
    if (counters_.data_frames_received == config_.rf_hangup_after_frame) {
      out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(FaultKind::kHangUp));
      out.Note(EventKind::kHangUp);
      out.RequestHangUp();
    }
  }
}

void RfLocalRadio::Echo(RadioOutput& out) {
  // Draws are made only when a fault is asked for, so a clean radio is fully predictable.
  auto draw = [this] { return static_cast<double>(rng_()) / 4294967296.0; };
  const std::uint64_t number = counters_.data_frames_received;
  if (number == config_.rf_drop_echo_frame ||
      (config_.rf_drop_rate > 0 && draw() < config_.rf_drop_rate)) {
    ++counters_.echoes_dropped;
    out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(FaultKind::kRfDrop));
    return;
  }
  std::array<std::uint8_t, kMaxFrame> echo = frame_;
  if (number == config_.rf_corrupt_echo_frame && config_.rf_corrupt_echo_byte < frame_len_) {
    const std::size_t first = config_.rf_corrupt_echo_byte;
    const std::size_t end =
        std::min<std::size_t>(first + config_.rf_corrupt_echo_count, frame_len_);
    for (std::size_t pos = first; pos < end; ++pos)
      echo[pos] = static_cast<std::uint8_t>(~echo[pos]);
    ++counters_.echoes_corrupted;
    out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(FaultKind::kRfCorrupt),
             static_cast<std::uint32_t>(first));
  }
  if (config_.rf_corrupt_rate > 0 && draw() < config_.rf_corrupt_rate) {
    const std::size_t pos = rng_() % frame_len_;
    echo[pos] = static_cast<std::uint8_t>(echo[pos] ^ (1 + rng_() % 255));
    ++counters_.echoes_corrupted;
    out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(FaultKind::kRfCorrupt),
             static_cast<std::uint32_t>(pos));
  }
  out.Send(std::span<const std::uint8_t>(echo.data(), frame_len_));
  ++counters_.echoes_sent;
}

}  // namespace tvx::sim
