// The local radio of an RF network during an RF upload: it checks each frame against the image
// it expects and echoes every complete frame, good or bad (a bad one is counted). 0xE2 starts
// an 8-byte header frame, 0xE3 a data frame of m + 8 bytes (m its second byte); after an
// impossible m it drops everything until the line has been quiet for `rf_quiet_gap`.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "radio_sim/radio_arith.h"
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
  std::vector<std::uint8_t> s;  ///< the random byte of every good frame, in order
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
  std::uint32_t line_rate_faults = 0;
  std::uint32_t line_setting_faults = 0;
  std::uint32_t records_complete = 0;      ///< records with at least one good frame
  std::uint64_t data_frames_received = 0;  ///< complete data frames, good or bad
  std::uint64_t header_frames_received = 0;
  std::uint32_t passes_ended = 0;  ///< quiet gaps of 0.1 s after the last record's frame
  RfFrameCheck last_bad_check = RfFrameCheck::kGood;
};

class RfLocalRadio {
 public:
  static constexpr std::uint32_t kLineRate = 115200;  ///< of the diagnostic port, RF upload
  static constexpr std::uint8_t kHeaderType = 0xE2;
  static constexpr std::uint8_t kDataType = 0xE3;
  static constexpr std::size_t kMaxFrame = 33;

  explicit RfLocalRadio(const RadioConfig& config);

  /// Handles received bytes; returns how many were taken. Between frames it stops before a
  /// byte that starts no frame, so another face of the radio can take it.
  std::size_t Feed(std::span<const std::uint8_t> in, const LineState& line, double now,
                   RadioOutput& out);
  /// Drops a frame whose rest has not come within the frame time-out; sends a held echo.
  void Advance(const LineState& line, double now, RadioOutput& out);
  /// Adds to `next` when Advance next has something to do.
  void NextDeadline(Earliest& next) const;

  /// Checks one complete frame (type byte first) against the image. Pure.
  RfFrameCheck Check(std::span<const std::uint8_t> frame, std::uint32_t* record_index) const;

  const RfCounters& Counters() const { return counters_; }
  /// Per record of the image, indexed by record number.
  const std::vector<RecordFrameStats>& RecordStats() const { return records_; }
  /// What the header frame must carry: the walk's record count and checksum.
  std::int32_t ExpectedRecordCount() const {
    return static_cast<std::int32_t>(image_.WalkedRecords());
  }
  std::array<std::uint8_t, 2> ExpectedChecksum() const { return image_.WalkChecksum(); }

 private:
  enum class State : std::uint8_t { kBetweenFrames, kInFrame, kDiscarding };

  void CompleteFrame(double now, RadioOutput& out);
  /// Counts a bad frame, under the record it names when `index` is one.
  void CountBad(bool header, RfFrameCheck check, std::uint32_t index, RadioOutput& out);
  void Echo(double now, RadioOutput& out);
  /// The first fault of this kind asked for at `frame`, or null.
  const FaultRequest* FrameFault(Fault fault, std::uint64_t frame) const;

  RadioConfig config_;
  ExpectedImage image_;
  double corrupt_rate_ = 0;
  double drop_rate_ = 0;
  RfCounters counters_;
  std::vector<RecordFrameStats> records_;
  std::mt19937 rng_;

  State state_ = State::kBetweenFrames;
  std::array<std::uint8_t, kMaxFrame> frame_{};
  std::size_t frame_len_ = 0;   ///< bytes received of the current frame
  std::size_t frame_need_ = 0;  ///< its full length, once known (0 before byte 1 of data)
  double last_byte_at_ = 0;
  std::vector<std::uint8_t> held_echo_;  ///< an echo waiting for held_until_
  double held_until_ = 0;
  std::optional<double> pass_end_at_;  ///< when the quiet after the last record ends a pass
};

}  // namespace tvx::sim
