#include "terminal/reconnect.h"

#include <algorithm>
#include <cmath>

#include "job/line.h"

namespace tvx::terminal {

void Reconnect::Lose(job::RunContext& ctx, TerminalLink& link) {
  StopWriter(link);
  job::Line(ctx.port, ctx.errors).Close();
  waiting_ = !device_.empty();
  next_try_ = ctx.clock.Seconds() + kRecheckMs / 1000.0;
}

bool Reconnect::TryNow(job::RunContext& ctx, TerminalLink& link) {
  if (!waiting_ || ctx.clock.Seconds() < next_try_) return false;
  if (TerminalReopen(ctx, link, device_)) {
    waiting_ = false;
    return true;
  }
  next_try_ = ctx.clock.Seconds() + kRecheckMs / 1000.0;
  return false;
}

int Reconnect::MsToNextTry(job::Clock& clock) const {
  const double ms = std::ceil((next_try_ - clock.Seconds()) * 1000.0);
  return static_cast<int>(std::clamp(ms, 1.0, static_cast<double>(kRecheckMs)));
}

}  // namespace tvx::terminal
