#include "direct/waits.h"

#include "job/port_ops.h"

namespace tvx::direct {

namespace {

// How long the rest of a partly received answer may still be on its way: a few character
// times at the slowest transfer rate (one character takes 0.52 ms at 19200 bit/s).
constexpr double kInFlightSeconds = 0.002;
// The pace of the re-checks after that, while the keyboard is watched.
constexpr int kStalledRecheckMs = 1;

}  // namespace

WaitEvent AwaitBytesOrKey(job::RunContext& ctx, std::size_t count) {
  // The answer to what was just sent is rarely there yet, so sleep before the first look. A key
  // the console already holds would not wake the sleep: look for one first.
  if (!ctx.console.KeyWaiting()) job::Idle(ctx);
  std::size_t partial = 0;
  double partial_since = 0.0;
  for (;;) {
    const std::size_t waiting = job::BytesWaiting(ctx);
    if (waiting >= count) return WaitEvent::kBytes;
    if (job::LineDead(ctx)) {
      job::ErrorReport(ctx.errors, ctx.console);
      return WaitEvent::kLineDead;
    }
    if (job::StopRequested(ctx)) return WaitEvent::kStop;
    if (ctx.console.KeyWaiting()) return WaitEvent::kKey;
    if (waiting == 0) {
      job::Idle(ctx);
      continue;
    }
    // Part of the answer is in. The port reads as ready until it is taken, so waiting on it
    // would return at once: re-check straight away while the rest can still be in flight,
    // then at a calm pace, waking for keys.
    if (waiting != partial) {
      partial = waiting;
      partial_since = ctx.clock.Seconds();
      continue;
    }
    if (ctx.clock.Seconds() - partial_since < kInFlightSeconds) continue;
    ctx.console.AwaitKey(kStalledRecheckMs);
  }
}

}  // namespace tvx::direct
