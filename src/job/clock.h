// Time as the jobs use it: a monotonic clock for durations, the time of day for seeding, and
// pauses. Injectable so tests do not sit in the 2 s and 6 s pauses.
#pragma once

#include <functional>

namespace tvx::job {

class Clock {
 public:
  virtual ~Clock() = default;
  /// Monotonic seconds since an arbitrary start (durations, elapsed times).
  virtual double Seconds() = 0;
  /// Local time of day in seconds since midnight, millisecond resolution (seeding only).
  virtual double TimeOfDaySeconds() = 0;
  /// Blocks the calling thread for `ms` milliseconds.
  virtual void SleepMs(int ms) = 0;
  /// Blocks for `ms` milliseconds unless `stop` turns true first; looks at it at least every
  /// `check_ms`. Returns false when cut short. The default sleeps in one piece (clocks whose
  /// pauses cost nothing).
  virtual bool SleepMsUnless(int ms, int check_ms, const std::function<bool()>& stop) {
    (void)check_ms;
    SleepMs(ms);
    return !stop();
  }
};

/// The real clock (std::chrono steady clock and local time); safe to use from any thread.
Clock& SystemClock();

}  // namespace tvx::job
