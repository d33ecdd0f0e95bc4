// The download file of one pass: the timed walk over the image that yields the record count and
// the pair checksum the header frame carries, and how the frames are shown while they go out.
// Draws on the screen model only; no port, no keyboard.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "console/screen_model.h"
#include "image/firmware_image.h"
#include "job/clock.h"
#include "rf/frames.h"

namespace tvx::rf {

/// What the walk of one pass found.
struct DownloadFile {
  std::int32_t record_count = 0;           ///< index of the last walked record, plus one
  std::array<std::uint8_t, 2> checksum{};  ///< pair checksum, complemented for an odd count
  double create_seconds = 0.0;             ///< how long the walk took
};

/// The progress counter refreshes row 15 when it passes this limit.
inline constexpr std::int32_t kProgressLimit = 100;

/// Prints a line end, " Creating DownLoad File " with pass + 1 as a plain number and a line
/// end; walks `image` (records with no data skipped), counting each walked record on
/// `progress_counter` and showing the record index at row 15 ("#####   ") each time the counter
/// passes 100 (it then restarts at 0); then shows the last record index, the two checksum bytes
/// in hexadecimal at row 15, and "Create Time is ##.## S" at row 17 with a line end. Times are
/// taken from `clock` (monotonic).
DownloadFile CreateDownloadFile(console::ScreenModel& screen, job::Clock& clock,
                                std::span<const std::uint8_t> image, image::RecordBuffer& buffer,
                                std::int32_t& progress_counter, std::int64_t pass);

/// Shows positions 1..7 of a header frame at row 19 (each in hexadecimal and two blanks), a line
/// end, and leaves the cursor at row 21, column 1, where the replies go.
void ShowHeaderFrame(console::ScreenModel& screen, const RfFrameBuffer& frame);

/// Shows a data frame of `length` bytes: row 24 the record index and, in the next print zone,
/// the mismatch count (plain numbers); row 25 blanked, the type byte where the cursor then
/// stands, and positions 1 .. length - 3 in hexadecimal at row 25, column 3 * i + 1. The CRC
/// bytes are not shown.
void ShowDataFrame(console::ScreenModel& screen, const RfFrameBuffer& frame, std::size_t length,
                   std::int32_t index, std::int64_t mismatch_count);

}  // namespace tvx::rf
