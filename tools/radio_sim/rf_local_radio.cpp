#include "radio_sim/rf_local_radio.h"

#include <algorithm>

namespace tvx::sim {

namespace {

constexpr std::uint8_t kFrameMarker = 0x36;
constexpr std::uint32_t kNoRecord = 0xFFFFFFFF;

constexpr double kPassEndQuiet = 0.1;  ///< quiet after the last record's frame: a pass ends
constexpr std::uint8_t kStrayByte = 0x00;

/// m of a record: the bytes after the length byte, rounded up to odd so the data form pairs.
int FrameM(std::uint8_t length) {
  return (int{length} - 1) | 1;
}

}  // namespace

std::string_view RfFrameCheckName(RfFrameCheck check) {
  constexpr std::string_view kNames[] = {"good",
                                         "bad CRC",
                                         "bad marker",
                                         "bad length",
                                         "record index out of range",
                                         "type or address differ",
                                         "data differ",
                                         "bad record count",
                                         "bad checksum",
                                         "incomplete"};
  return kNames[static_cast<std::size_t>(check)];
}

RfLocalRadio::RfLocalRadio(const RadioConfig& config)
    : config_(config), image_(config.image), rng_(config.seed) {
  if (const FaultRequest* f = config.Find(Fault::kRfCorrupt)) corrupt_rate_ = ValueOf(*f);
  if (const FaultRequest* f = config.Find(Fault::kRfDrop)) drop_rate_ = ValueOf(*f);
  records_.resize(image_.Records());
}

const FaultRequest* RfLocalRadio::FrameFault(Fault fault, std::uint64_t frame) const {
  for (const FaultRequest& f : config_.faults) {
    if (f.fault == fault && f.at == frame) return &f;
  }
  return nullptr;
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
  const auto crc = FrameCrc(frame.subspan(1, n - 3));
  if (frame[n - 2] != crc[0] || frame[n - 1] != crc[1]) return RfFrameCheck::kBadCrc;
  if (frame[2] != kFrameMarker) return RfFrameCheck::kBadMarker;

  if (frame[0] == kHeaderType) {
    if (n != 8) return RfFrameCheck::kBadLength;
    const unsigned count = unsigned{frame[3]} << 8 | frame[4];
    if (count != (image_.WalkedRecords() & 0xFFFF)) return RfFrameCheck::kBadRecordCount;
    const auto sum = image_.WalkChecksum();
    if (frame[1] != sum[0] || frame[5] != sum[1]) return RfFrameCheck::kBadChecksum;
    return RfFrameCheck::kGood;
  }

  const int m = frame[1];
  if (m % 2 == 0 || static_cast<std::size_t>(m) + 8 != n) return RfFrameCheck::kBadLength;
  const std::uint32_t index = std::uint32_t{frame[3]} << 8 | frame[4];
  if (index >= records_.size()) return RfFrameCheck::kBadIndex;
  const ImageRecord record = image_.Record(index);
  if (m != FrameM(record.length)) return RfFrameCheck::kBadLength;
  // Bytes 1 .. m of the record follow s: type, address high, address low, then the data.
  const std::array<std::uint8_t, 3> head = {record.type, record.address_high, record.address_low};
  for (std::size_t i = 0; i < 3 && i < static_cast<std::size_t>(m); ++i) {
    if (frame[6 + i] != head[i]) return RfFrameCheck::kBadTypeOrAddress;
  }
  // Descramble: the mix word starts at address low byte * 256 + s and takes one step per pair.
  auto mix = static_cast<std::uint16_t>(record.address_low << 8 | frame[5]);
  for (std::size_t k = 0; k + 4 <= static_cast<std::size_t>(m); k += 2) {
    mix = NextMix(mix);
    if ((frame[9 + k] ^ (mix >> 8)) != record.data[k] ||
        (frame[10 + k] ^ (mix & 0xFF)) != record.data[k + 1]) {
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
    pass_end_at_.reset();
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
          if (m % 2 == 0 || static_cast<std::size_t>(m) + 8 > kMaxFrame) {
            ++counters_.malformed_frames;
            CountBad(false, RfFrameCheck::kBadLength, kNoRecord, out);
            state_ = State::kDiscarding;
            continue;
          }
          frame_need_ = static_cast<std::size_t>(m) + 8;
        }
        if (frame_len_ == frame_need_) CompleteFrame(now, out);
        continue;
    }
  }
  return in.size();
}

void RfLocalRadio::Advance(const LineState& /*line*/, double now, RadioOutput& out) {
  // The moments NextDeadline names, computed the same way: at its deadline a frame is over.
  if (state_ == State::kInFrame && now >= last_byte_at_ + config_.frame_timeout) {
    const bool header = frame_[0] == kHeaderType;
    const std::uint32_t index =
        !header && frame_len_ >= 5 ? std::uint32_t{frame_[3]} << 8 | frame_[4] : kNoRecord;
    CountBad(header, RfFrameCheck::kIncomplete, index, out);
    state_ = State::kBetweenFrames;
  } else if (state_ == State::kDiscarding && now >= last_byte_at_ + config_.rf_quiet_gap) {
    state_ = State::kBetweenFrames;
  }
  if (!held_echo_.empty() && now >= held_until_) {
    out.Send(held_echo_);
    held_echo_.clear();
  }
  if (pass_end_at_ && now >= *pass_end_at_) {
    pass_end_at_.reset();
    ++counters_.passes_ended;
    for (const FaultRequest& f : config_.faults) {
      if (f.fault != Fault::kRfStrayAfterPass || f.at != counters_.passes_ended) continue;
      out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(f.fault), f.at);
      for (auto n = static_cast<long>(ValueOf(f)); n > 0; --n) out.Send(kStrayByte);
    }
  }
}

void RfLocalRadio::NextDeadline(Earliest& next) const {
  if (state_ == State::kInFrame) next.Take(last_byte_at_ + config_.frame_timeout);
  if (state_ == State::kDiscarding) next.Take(last_byte_at_ + config_.rf_quiet_gap);
  if (!held_echo_.empty()) next.Take(held_until_);
  if (pass_end_at_) next.Take(*pass_end_at_);
}

void RfLocalRadio::CountBad(bool header, RfFrameCheck check, std::uint32_t index,
                            RadioOutput& out) {
  ++(header ? counters_.header_frames_bad : counters_.data_frames_bad);
  if (index < records_.size()) ++records_[index].bad;
  counters_.last_bad_check = check;
  out.Note(EventKind::kRfFrameBad, static_cast<std::uint32_t>(check), index);
}

void RfLocalRadio::CompleteFrame(double now, RadioOutput& out) {
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
      records_[index].s.push_back(frame_[5]);
      if (index + 1 == image_.WalkedRecords()) pass_end_at_ = now + kPassEndQuiet;
    }
  } else {
    CountBad(header, check, index, out);
  }
  if (header) {
    ++counters_.header_frames_received;
    const FaultRequest* short_reply =
        FrameFault(Fault::kRfShortHeaderReply, counters_.header_frames_received);
    if (short_reply)
      out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(short_reply->fault));
    out.Send(short_reply ? frame.first(1) : frame);
    ++counters_.echoes_sent;
  } else {
    ++counters_.data_frames_received;
    Echo(now, out);
    if (FrameFault(Fault::kRfHangUp, counters_.data_frames_received)) {
      out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(Fault::kRfHangUp));
      out.Note(EventKind::kHangUp);
      out.RequestHangUp();
    }
  }
}

void RfLocalRadio::Echo(double now, RadioOutput& out) {
  // Draws are made only when a fault is asked for, so a clean radio is fully predictable.
  auto draw = [this] { return static_cast<double>(rng_()) / 4294967296.0; };
  const std::uint64_t number = counters_.data_frames_received;
  if (FrameFault(Fault::kRfDropEcho, number) || (drop_rate_ > 0 && draw() < drop_rate_)) {
    ++counters_.echoes_dropped;
    out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(Fault::kRfDropEcho));
    return;
  }
  std::array<std::uint8_t, kMaxFrame> echo = frame_;
  bool corrupted = false;
  for (const FaultRequest& f : config_.faults) {
    const auto pos = static_cast<std::size_t>(ValueOf(f));
    if (f.fault != Fault::kRfCorruptEcho || f.at != number || pos >= frame_len_) continue;
    echo[pos] = static_cast<std::uint8_t>(~echo[pos]);
    corrupted = true;
    out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(f.fault),
             static_cast<std::uint32_t>(pos));
  }
  if (corrupt_rate_ > 0 && draw() < corrupt_rate_) {
    const std::size_t pos = rng_() % frame_len_;
    echo[pos] = static_cast<std::uint8_t>(echo[pos] ^ (1 + rng_() % 255));
    corrupted = true;
    out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(Fault::kRfCorrupt),
             static_cast<std::uint32_t>(pos));
  }
  if (corrupted) ++counters_.echoes_corrupted;
  ++counters_.echoes_sent;
  if (const FaultRequest* hold = FrameFault(Fault::kRfHoldEcho, number)) {
    out.Note(EventKind::kFaultFired, static_cast<std::uint32_t>(hold->fault), hold->at);
    held_echo_.assign(echo.begin(), echo.begin() + static_cast<long>(frame_len_));
    held_until_ = now + ValueOf(*hold) / 1000.0;
    return;
  }
  out.Send(std::span<const std::uint8_t>(echo.data(), frame_len_));
}

}  // namespace tvx::sim
