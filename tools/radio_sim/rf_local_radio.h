// The local radio of an RF network, as the PC sees it on the diagnostic port during an RF
// upload: it takes the download file frame by frame, checks each frame against the image it
// expects, and echoes every complete frame byte for byte (the header frame too) so the PC can
// compare what came back with what it sent. Frames it finds wrong are still echoed (the echo
// only proves the serial line) but are counted as bad: a radio out in the network would drop
// them.
//
// Frames follow one another with nothing in between: 0xE2 starts an 8-byte header frame, 0xE3
// a data frame whose second byte m gives its length m + 8. A data frame whose m cannot be
// right (even, or too long for a frame) leaves the radio unable to find the frame's end; it
// then drops everything until the line has been quiet for `rf_quiet_gap`, which the PC's
// wait for the echo guarantees.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "image/firmware_image.h"
#include "radio_sim/radio_config.h"
#include "radio_sim/radio_output.h"

namespace tvx::sim {

/// Why a frame was counted bad (the value of a kRfFrameBad event).
enum class RfFrameCheck : std::uint8_t {
  kGood,
  kBadCrc,
  kBadMarker,         ///< byte 2 is not 0x36
  kBadLength,         ///< m even, too long, or not the record's length
  kBadIndex,          ///< record index beyond the image
  kBadTypeOrAddress,  ///< type or address differ from the image's record
  kBadData,           ///< descrambled data differ from the image's record
  kBadRecordCount,    ///< header: record count differs from the image's walk
  kBadChecksum,       ///< header: checksum differs from the image's walk
  kIncomplete,        ///< the rest of the frame never came
};

std::string_view RfFrameCheckName(RfFrameCheck check);

/// Good and bad data frames received for one record.
struct RecordFrameStats {
  std::uint32_t good = 0;
  std::uint32_t bad = 0;
};

struct RfCounters {
  std::uint64_t header_frames_good = 0;
  std::uint64_t header_frames_bad = 0;
  std::uint64_t data_frames_good = 0;
  std::uint64_t data_frames_bad = 0;
  std::uint64_t malformed_frames = 0;  ///< no usable length: dropped unechoed
  std::uint64_t echoes_sent = 0;
  std::uint64_t echoes_corrupted = 0;
  std::uint64_t echoes_dropped = 0;
  std::uint64_t stray_bytes = 0;
  std::uint32_t line_rate_faults = 0;
  std::uint32_t line_setting_faults = 0;
  std::uint32_t records_complete = 0;      ///< records with at least one good frame
  std::uint64_t data_frames_received = 0;  ///< complete data frames, good or bad
  RfFrameCheck last_bad_check = RfFrameCheck::kGood;
};

class RfLocalRadio {
 public:
  /// The line rate of the radio's diagnostic port during an RF upload.
  static constexpr std::uint32_t kLineRate = 115200;
  static constexpr std::uint8_t kHeaderType = 0xE2;
  static constexpr std::uint8_t kDataType = 0xE3;
  static constexpr std::size_t kMaxFrame = 33;

  explicit RfLocalRadio(const RadioConfig& config);

  /// Handles received bytes; returns how many were taken. Between frames it stops before a
  /// byte that starts no frame, so another face of the radio can take it.
  std::size_t Feed(std::span<const std::uint8_t> in, const LineState& line, double now,
                   RadioOutput& out);
  /// Drops a frame whose rest has not come within the frame time-out.
  void Advance(const LineState& line, double now, RadioOutput& out);
  std::optional<double> NextDeadline(double now) const;
  bool AtRest() const { return state_ == State::kBetweenFrames; }

  /// Checks one complete frame (type byte first) against the image. Pure.
  RfFrameCheck Check(std::span<const std::uint8_t> frame, std::uint32_t* record_index) const;

  const RfCounters& Counters() const { return counters_; }
  /// Per record of the image, indexed by record number.
  const std::vector<RecordFrameStats>& RecordStats() const { return records_; }
  /// What the header frame must carry: the walk's record count and checksum.
  std::int32_t ExpectedRecordCount() const { return record_count_; }
  std::array<std::uint8_t, 2> ExpectedChecksum() const { return checksum_; }

 private:
  enum class State : std::uint8_t { kBetweenFrames, kInFrame, kDiscarding };

  void CompleteFrame(RadioOutput& out);
  void Echo(RadioOutput& out);

  RadioConfig config_;
  std::span<const std::uint8_t> image_;
  std::int32_t record_count_ = 0;
  std::array<std::uint8_t, 2> checksum_{};
  RfCounters counters_;
  std::vector<RecordFrameStats> records_;
  std::mt19937 rng_;

  State state_ = State::kBetweenFrames;
  std::array<std::uint8_t, kMaxFrame> frame_{};
  std::size_t frame_len_ = 0;   ///< bytes received of the current frame
  std::size_t frame_need_ = 0;  ///< its full length, once known (0 before byte 1 of data)
  double last_byte_at_ = 0;
};

}  // namespace tvx::sim
