#include "job/wait.h"

#include <algorithm>
#include <cmath>

#include "console/stop_request.h"

namespace tvx::job {

int MsUntil(double until, double now) {
  if (until == kNoDeadline) return -1;
  return static_cast<int>(std::clamp(std::ceil((until - now) * 1000.0), 0.0, 1.0e9));
}

bool Waiter::Sleep(LookAgain look) {
  if (StopRequested()) return false;
  int ms = MsUntil(look.until, clock_.Seconds());
  if (look.within_ms >= 0 && (ms < 0 || look.within_ms < ms)) ms = look.within_ms;
  // A stop signal that lands just before the sleep begins does not end it: look again soon.
  if (stop_ && (ms < 0 || ms > console::kStopCheckMs)) ms = console::kStopCheckMs;
  line_.AwaitActivity(key_, ms);
  return true;
}

bool Waiter::Pause(int ms) {
  if (!stop_) {
    clock_.SleepMs(ms);
    return true;
  }
  return clock_.SleepMsUnless(ms, console::kStopCheckMs, stop_);
}

}  // namespace tvx::job
