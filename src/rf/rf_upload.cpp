#include "rf/rf_upload.h"

#include <string>
#include <string_view>

#include "console/format.h"
#include "job/line.h"
#include "job/run_context.h"
#include "rf/engine.h"
#include "rf/plan.h"
#include "rf/screen_operator.h"

namespace tvx::rf {

namespace {

std::int32_t AskNumber(job::RunContext& ctx, std::string_view question) {
  ctx.console.Screen().PrintText(question);
  return console::RoundToInt(console::NumericValue(console::ReadLine(ctx.console)));
}

// False when the operator leaves (anything but "Y"/"y" first, or N of 0 or above 9).
bool AskQuestions(job::RunContext& ctx, Plan& plan) {
  auto& screen = ctx.console.Screen();
  screen.Clear();
  screen.PrintText("       Download New Firmware to Radio Over RF");
  screen.NewLine();
  screen.NewLine();
  screen.NewLine();
  screen.PrintText("Serial Port connected to Radio diagnostic port? (Y,N, or Return to Quit) ");
  const std::string answer = console::ReadLine(ctx.console);
  if (job::StopRequested(ctx) || (answer != "Y" && answer != "y")) return false;
  screen.NewLine();
  plan.copies = AskNumber(ctx, "Number of times each line is sent? (1-9) (0 to quit) ");
  if (job::StopRequested(ctx) || plan.copies == 0 || plan.copies > 9) return false;
  plan.start_record = AskNumber(ctx, "Starting Line Number? (enter 0 to start at beqinning) ");
  if (job::StopRequested(ctx)) return false;
  plan.passes = AskNumber(ctx, "Number of times to repeat full process ");
  return !job::StopRequested(ctx);
}

}  // namespace

Outcome RunRfUpload(job::RunContext& ctx, const std::function<void(const Outcome&)>& on_end) {
  Plan plan;
  job::Line line(ctx.port, ctx.errors);
  if (!AskQuestions(ctx, plan)) {
    line.Close();
    Outcome outcome;
    outcome.start = Start::kQuit;
    outcome.interrupted = job::StopRequested(ctx);
    outcome.reason = outcome.interrupted ? StopReason::kSignal : StopReason::kOperator;
    if (on_end) on_end(outcome);
    return outcome;
  }
  plan.port_name = ctx.link.port_name;
  plan.device = ctx.link.DeviceOf(ctx.link.port_name);
  ScreenOperator op(ctx, on_end);
  return RunBroadcast(
      plan, {line, ctx.priority, ctx.clock, ctx.random, ctx.image, ctx.record_buffer}, op);
}

}  // namespace tvx::rf
