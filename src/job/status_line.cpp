#include "job/status_line.h"

namespace tvx::job {

void DrawStatusLine(RunContext& ctx, std::string_view suffix) {
  console::ScreenModel& screen = ctx.console.Screen();
  screen.Locate(console::kRows, 1);
  screen.SetColours(console::kYellow, console::kBlue, console::kColumns);
  screen.PrintText("  " + ctx.link.port_name);
  screen.NextPrintZone();
  screen.PrintText("Baudrate = ");
  screen.PrintNumber(ctx.link.baud_rate);
  screen.PrintText(suffix);
}

}  // namespace tvx::job
