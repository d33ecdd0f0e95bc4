// The one way a job waits: until its line may have bytes, the keyboard a key, a stop is
// requested or a deadline passes. It sleeps on the port and the key handle together; the stop
// request has no handle, so while one is watched a sleep lasts at most console::kStopCheckMs.
// Every wait and pause of the uploads, their operators and the Radio Setup Screen goes through
// it. Not thread-safe: one job's thread uses it.
#pragma once

#include <functional>
#include <limits>

#include "console/console.h"
#include "job/clock.h"
#include "job/line.h"

namespace tvx::job {

/// A deadline that never comes.
inline constexpr double kNoDeadline = std::numeric_limits<double>::infinity();

/// When a waiting job wants to look again at the latest: at `until` (clock seconds) or
/// `within_ms` milliseconds from now (-1: no wish of its own), whichever comes first.
struct LookAgain {
  double until = kNoDeadline;
  int within_ms = -1;
};

/// Milliseconds from `now` to `until` (clock seconds), rounded up so that a wait they bound
/// ends at or after it, never just before; 0 once it passed, -1 for kNoDeadline.
int MsUntil(double until, double now);

class Waiter {
 public:
  /// `stop`: whether the job was asked to end (null: no request is watched; cheap, never
  /// blocking); `key`: the keyboard's handle, or kNoWaitHandle.
  Waiter(Line& line, Clock& clock, std::function<bool()> stop,
         console::NativeWaitHandle key = console::kNoWaitHandle)
      : line_(line), clock_(clock), stop_(std::move(stop)), key_(key) {}

  bool StopRequested() const { return stop_ && stop_(); }
  /// Whether a wait for `until` (clock seconds) is over: a stop came or the time is there.
  bool Over(double until) const { return StopRequested() || until - clock_.Seconds() <= 0.0; }
  /// One sleep of a wait: until the line may have input (or is dead), the key handle is ready
  /// or `look` comes. Returns false at once, without sleeping, when a stop is requested. Wakes
  /// may be spurious: the caller looks again at what it waits for.
  bool Sleep(LookAgain look = {});
  /// A pause of `ms` milliseconds for the radio, which only a stop request cuts short (false
  /// then); the line and the keyboard are not looked at.
  bool Pause(int ms);

 private:
  Line& line_;
  Clock& clock_;
  std::function<bool()> stop_;
  console::NativeWaitHandle key_;
};

}  // namespace tvx::job
