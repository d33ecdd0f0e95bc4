// The program's front end: start-up, the main menu with its key dispatch, the port and baud
// settings screen and the status line.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/image_choice.h"

#include "job/run_context.h"
#include "job/status_line.h"

namespace tvx::app {

inline constexpr std::string_view kTitle = "UpLoad Torvandrix Rev 2.54 for 900MHz (12-05-2005)";

/// The jobs the menu starts; each returns with the port closed.
struct MenuJobs {
  std::function<void(job::RunContext&)> direct_upload;  ///< key "1"
  std::function<void(job::RunContext&)> radio_setup;    ///< key "2"
  std::function<void(job::RunContext&)> rf_upload;      ///< key "4"
  /// The row below the menu's items that names the image the uploads load; empty: none (the
  /// built-in image).
  std::string image_row;
};

class UploadLog;
class SessionLogFile;

/// The jobs of this build; the uploads append their outcome to `log` (none when null). The direct
/// upload sends `access_code`, else the code built in; it is not copied (so that one wipe of it
/// reaches every copy) and must outlive the jobs. The uploads send the context's image; `image`
/// (null: the built-in one) names it in the log and the menu. The Radio Setup Screen records its
/// sessions in `session_log` (none when null), which must outlive the jobs.
MenuJobs DefaultJobs(UploadLog* log,
                     const std::optional<std::array<std::uint8_t, 4>>& access_code = {},
                     const ChosenImage* image = nullptr, SessionLogFile* session_log = nullptr);

/// Start-up and the main loop: returns when Esc is pressed at the menu, or once a stop request
/// ended the job under way (or came at the menu). Draws nothing on exit.
void RunProgram(job::RunContext& ctx, const MenuJobs& jobs);

/// Clears the screen and draws the menu with its status line, and `image_row` (when not empty)
/// two rows below the last item (row 16); leaves the cursor at row 1, column 1 in bright white on
/// black.
void DrawMainMenu(job::RunContext& ctx, std::string_view image_row = {});

/// The status line's left part (shared with the Radio Setup Screen).
using job::DrawStatusLine;

/// Key "3": asks for the port number (0 keeps it, 1..9 sets "Com<n>") and the baud rate
/// (0 keeps it; 4800..115200 of the listed rates), asking again on anything out of range.
void RunSettingsScreen(job::RunContext& ctx);

}  // namespace tvx::app
