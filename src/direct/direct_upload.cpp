#include "direct/direct_upload.h"

#include <utility>

#include "direct/engine.h"
#include "direct/screen_operator.h"
#include "job/run_context.h"

namespace tvx::direct {

Result RunDirectUpload(job::RunContext& ctx, const std::function<void(const Result&)>& on_end,
                       const std::array<std::uint8_t, 4>& access_code) {
  ScreenOperator screen_operator(ctx, on_end);
  Plan plan;
  plan.access_code = access_code;
  plan.port_name = ctx.link.port_name;
  plan.device = ctx.link.DeviceOf(ctx.link.port_name);
  if (!screen_operator.AskPort(plan)) {
    // A code an earlier job left latched is this job's to report, as on every way back.
    job::ReportPending(ctx);
    Result result;
    if (screen_operator.StopRequested()) {
      result.outcome = Outcome::kInterrupted;
      result.reason = Reason::kSignal;
    } else {
      result.reason = Reason::kOperator;
    }
    screen_operator.Finished(result);
    return result;
  }
  const Parts parts{ctx.port, ctx.errors, ctx.priority, ctx.clock, ctx.random, ctx.image};
  return RunEngine(std::move(plan), parts, screen_operator);
}

}  // namespace tvx::direct
