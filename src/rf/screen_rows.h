// How the RF upload looks on the full screen: the creation of the download file (rows 10 to 17),
// the header frame and its replies (19, 21 on), the data frame with its record index and the
// run's mismatch count (24, 25), its echo (27, and 24 / 28 for differing bytes), the countdown
// (35) and the end (32, 30). Draws on the screen model only; no port, no keyboard.
#pragma once

#include <cstdint>
#include <span>

#include "console/screen_model.h"
#include "rf/download_file.h"
#include "rf/outcome.h"

namespace tvx::rf {

/// The progress counter refreshes row 15 when it passes this limit.
inline constexpr std::int32_t kProgressLimit = 100;

/// A line end, " Creating DownLoad File " with pass + 1 as a plain number, a line end.
void ShowFileBegins(console::ScreenModel& screen, std::int64_t pass);
/// Counts one walked record on the run's `progress_counter`; each time it passes 100 (it then
/// restarts at 0) row 15 shows `index` ("#####   ").
void CountWalkedRecord(console::ScreenModel& screen, std::int32_t& progress_counter,
                       std::int32_t index);
/// Row 15: the last record index and the two checksum bytes in hexadecimal; row 17: "Create
/// Time is ##.## S" and a line end.
void ShowDownloadFile(console::ScreenModel& screen, const DownloadFile& file);

/// Shows positions 1..7 of a header frame at row 19 (each in hexadecimal and two blanks), a line
/// end, and leaves the cursor at row 21, column 1, where the replies go.
void ShowHeaderFrame(console::ScreenModel& screen, std::span<const std::uint8_t> frame);
/// The replies to one header copy from the cursor on, each in hexadecimal and two blanks, then a
/// line end.
void ShowHeaderReply(console::ScreenModel& screen, std::span<const std::uint8_t> bytes);

/// Shows a data frame: row 24 the record index and, in the next print zone, the mismatch count
/// (plain numbers); row 25 blanked, the type byte where the cursor then stands, and positions
/// 1 .. size - 3 in hexadecimal at row 25, column 3 * i + 1. The CRC bytes are not shown.
void ShowDataFrame(console::ScreenModel& screen, std::span<const std::uint8_t> frame,
                   std::int32_t index, std::int64_t mismatch_count);
/// Shows a whole echo of `frame` on row 27 (byte k at column 3 * k - 2, after blanking the row);
/// every byte that differs also shows as sent on row 24 and as received on row 28, and adds 1
/// to `mismatch_count`. Returns whether every byte came back unchanged.
bool ShowEcho(console::ScreenModel& screen, std::span<const std::uint8_t> frame,
              std::span<const std::uint8_t> echo, std::int64_t& mismatch_count);

/// Row 35: "Waiting to re-acuire radio network" and `seconds_left` as a plain number, a line end.
void ShowCountdown(console::ScreenModel& screen, int seconds_left);
/// Row 35 blanked (49 blanks) and a line end.
void ClearCountdown(console::ScreenModel& screen);

/// Row 32 the outcome line; row 30 "Hit any key to return to main menu" in yellow on blue
/// (painting no cells) and a line end. Leaves the colours yellow on blue.
void ShowEnd(console::ScreenModel& screen, const Outcome& outcome);

}  // namespace tvx::rf
