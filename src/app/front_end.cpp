#include "app/front_end.h"

#include <array>
#include <string>

#include "console/format.h"
#include "image/checks.h"
#include "job/run_context.h"

namespace tvx::app {
namespace {

using console::ScreenModel;

struct MenuLine {
  std::string_view text;
  int new_lines;
};
constexpr std::array<MenuLine, 5> kMenuLines = {{
    {"1        UpLoad Torvandrix Firmware Through Direct Connection", 2},
    {"2        Radio Setup", 2},
    {"3        Set Com Port for Terminal Emulator and Download", 2},
    {"4        UpLoad Torvandrix Firmware Over RF", 3},
    {"<esc>    End program", 2},
}};

constexpr std::array<std::int32_t, 6> kBaudRates = {9600, 19200, 38400, 57600, 115200, 4800};

// A code a job left latched is reported before the menu returns, so that it never surfaces in
// the next job's first check.
void RunJob(const std::function<void(job::RunContext&)>& menu_job, job::RunContext& ctx) {
  if (menu_job) menu_job(ctx);
  job::ReportPending(ctx);
}

}  // namespace

void DrawMainMenu(job::RunContext& ctx, std::string_view image_row) {
  ScreenModel& screen = ctx.console.Screen();
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
  screen.Clear();
  screen.PrintText(std::string(12, ' '));
  screen.PrintText(kTitle);
  screen.NewLine();
  screen.Locate(5, 1);
  for (const MenuLine& line : kMenuLines) {
    screen.PrintText(line.text);
    for (int i = 0; i < line.new_lines; ++i) screen.NewLine();
  }
  screen.PrintText(image_row);  // row 16, in the items' rhythm
  DrawStatusLine(ctx);
  screen.Locate(1, 1);
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
}

void RunSettingsScreen(job::RunContext& ctx) {
  ScreenModel& screen = ctx.console.Screen();
  for (;;) {
    screen.Clear();
    screen.PrintText("Com Port Number ");
    const std::int32_t port =
        console::RoundToInt(console::NumericValue(console::ReadLine(ctx.console)));
    if (job::StopRequested(ctx)) return;
    if (port < 0 || port > 9) {
      ctx.console.Beep();
      continue;
    }
    if (port > 0) ctx.link.port_name = "Com" + std::to_string(port);
    break;
  }
  for (;;) {
    screen.PrintText("Setup Baud Rate ");
    const std::int32_t baud =
        console::RoundToInt(console::NumericValue(console::ReadLine(ctx.console)));
    if (baud == 0 || job::StopRequested(ctx)) return;
    for (std::int32_t rate : kBaudRates) {
      if (baud == rate) {
        ctx.link.baud_rate = rate;
        return;
      }
    }
    ctx.console.Beep();
  }
}

void RunProgram(job::RunContext& ctx, const MenuJobs& jobs) {
  // Start-up, in order: the CRC table first; the run-wide buffers live in the context; the
  // console backend has already asked the terminal for 80 x 51.
  (void)image::Crc16Table();
  ScreenModel& screen = ctx.console.Screen();
  screen.Clear();
  // The port and rate start over; the devices behind the port names are the front end's.
  const job::LinkSettings start;
  ctx.link.port_name = start.port_name;
  ctx.link.baud_rate = start.baud_rate;
  screen.Clear();

  for (;;) {
    if (job::StopRequested(ctx)) return;
    DrawMainMenu(ctx, jobs.image_row);
    const std::string key = console::WaitForKey(ctx.console);
    if (console::IsEscape(key) || job::StopRequested(ctx)) return;
    if (key == "0") continue;
    if (key == "1") {
      RunJob(jobs.direct_upload, ctx);
    } else if (key == "2") {
      RunJob(jobs.radio_setup, ctx);
    } else if (key == "3") {
      RunSettingsScreen(ctx);
    } else if (key == "4") {
      RunJob(jobs.rf_upload, ctx);
    } else {
      ctx.console.Beep();
    }
  }
}

}  // namespace tvx::app
