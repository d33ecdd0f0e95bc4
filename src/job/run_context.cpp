#include "job/run_context.h"

#include "console/stop_request.h"
#include "serial/port_name.h"

namespace tvx::job {

std::string LinkSettings::DeviceOf(std::string_view name) const {
  const int number = serial::ComPortNumber(name);
  if (number == 0) return std::string(name);
  return devices[static_cast<std::size_t>(number - 1)];
}

void ReportPending(RunContext& ctx) {
  if (ctx.errors.code != serial::kNoError) ErrorReport(ctx.errors, ctx.console);
}

bool StopRequested(const RunContext& ctx) {
  return ctx.console.StopRequested();
}

bool Pause(RunContext& ctx, int ms) {
  ctx.console.Present(true);
  return ctx.clock.SleepMsUnless(ms, console::kStopCheckMs, [&ctx] { return StopRequested(ctx); });
}

void ShowOpenFailure(RunContext& ctx, bool settings_refused) {
  constexpr int kReadMessageMs = 2000;
  ReportPending(ctx);
  auto& screen = ctx.console.Screen();
  screen.PrintText(settings_refused ? "Error Opening Com Port" : "Can't Open Com Port");
  screen.NewLine();
  ctx.console.Beep();
  Pause(ctx, kReadMessageMs);
}

}  // namespace tvx::job
