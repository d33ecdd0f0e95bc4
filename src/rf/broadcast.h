// Sending the frames of the download file through the local radio, on the job's line. The radio
// echoes every frame it receives; a data frame's copy counts only when its echo came back whole
// and equal within half a second. The header frame's replies are only shown.
#pragma once

#include <cstdint>
#include <span>

#include "image/firmware_image.h"
#include "job/clock.h"
#include "job/line.h"
#include "job/random.h"
#include "rf/operator.h"
#include "serial/priority.h"

namespace tvx::rf {

/// What the RF engine works with; all of it belongs to the run and outlives the job.
struct Tools {
  job::Line& line;
  serial::Priority& priority;
  job::Clock& clock;
  job::Random& random;  ///< the run's generator: the random byte of every data frame
  std::span<const std::uint8_t> image;
  image::RecordBuffer& record_buffer;
};

/// How long the echo of one data-frame copy is awaited, on the monotonic clock.
inline constexpr double kEchoWindowSeconds = 0.5;
/// The pause after each header copy, for its replies.
inline constexpr int kHeaderPauseMs = 100;

enum class FrameResult {
  kSent,      ///< the asked number of copies came back intact (none asked: nothing written)
  kLeft,      ///< the operator left the frame after a copy
  kLineDead,  ///< the line is gone (59 latched, for the operator to report)
  kStop,      ///< a stop was requested: the frame was left after the copy on the wire
};

/// What the copies wrote and found, summed over the frames of a broadcast.
struct Tally {
  std::int64_t header_copies = 0;
  std::int64_t data_copies = 0;
  std::int64_t mismatches = 0;  ///< echo bytes that differed from the bytes sent
};

/// Writes `frame` (the data frame of `record`) until `copies` copies came back intact, without
/// limit on failed copies. Each copy is written under real-time priority, held until its echo
/// is in or the 0.5 s window is over; the wait sleeps on the port, at most kStopCheckMs at a
/// time. The echo is compared as soon as its last byte is in (EchoCompared); a further whole
/// copy within the window is compared the same way. After a copy without an intact echo
/// whatever is waiting is thrown away. After every copy the operator is told (CopyDone) and
/// asked whether to stop, then whether to leave the frame. A stop request also ends the echo
/// window early.
FrameResult BroadcastDataFrame(const Tools& tools, Operator& op, std::int32_t record,
                               std::span<const std::uint8_t> frame, std::int32_t copies,
                               Tally& tally);

/// Writes the header frame `copies` times at normal priority, each followed by a 100 ms pause
/// (a stop request cuts it short: kStop); when more than one byte is then waiting, they are read
/// and handed to the operator (HeaderReply). A single waiting byte is left alone. No echo
/// check, no retry.
FrameResult BroadcastHeader(const Tools& tools, Operator& op, std::span<const std::uint8_t> frame,
                            std::int32_t copies, Tally& tally);

}  // namespace tvx::rf
