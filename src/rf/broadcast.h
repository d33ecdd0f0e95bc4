// Sending the frames of the download file through the local radio. The radio echoes every frame
// it receives; a data frame's copy counts only when its echo came back whole and equal within
// half a second. The header frame's replies are only shown.
#pragma once

#include <cstdint>
#include <span>

#include "job/run_context.h"

namespace tvx::rf {

/// How long the echo of one data-frame copy is awaited, on the monotonic clock.
inline constexpr double kEchoWindowSeconds = 0.5;

enum class FrameResult {
  kSent,        ///< the asked number of copies came back intact (none asked: nothing written)
  kKeyWaiting,  ///< a key is waiting (not taken): the frame was left
  kLineDead,    ///< the port reported the line gone (59, still latched for the ErrorReport)
  kStop,        ///< a stop was requested: the frame was left after the copy on the wire
};

/// Writes `frame` until `copies` copies came back intact, without limit on failed copies. Each
/// copy is written under real-time priority, which is held until its echo is in or the 0.5 s
/// window is over. The echo is compared as soon as its last byte is in: every byte that differs
/// adds 1 to the run's mismatch count and shows the sent byte on row 24 and the received one on
/// row 28 (column 3 * k - 2 for byte k); all received bytes show on row 27. A further whole copy
/// within the window is compared the same way. After a copy without an intact echo whatever is
/// waiting is thrown away. A key waiting after a copy leaves the frame at once; so does a stop
/// request, which also ends the echo window early (within console::kStopCheckMs).
FrameResult BroadcastDataFrame(job::RunContext& ctx, std::span<const std::uint8_t> frame,
                               std::int32_t copies);

/// Writes the header frame `copies` times, each followed by a 100 ms pause; when more than one
/// byte is then waiting, they are read and shown in hexadecimal from the cursor on, then a line
/// end. A single waiting byte is left alone. No echo check, no retry. Returns kSent, kLineDead
/// when the line is gone, or kStop when a stop was requested (after the copy on the wire).
FrameResult BroadcastHeader(job::RunContext& ctx, std::span<const std::uint8_t> frame,
                            std::int32_t copies);

}  // namespace tvx::rf
