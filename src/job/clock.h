// Time as the jobs use it: a monotonic clock for durations, the time of day for seeding, and
// pauses. Injectable so tests do not sit in the 2 s and 6 s pauses.
#pragma once

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
};

/// The real clock (std::chrono steady clock and local time).
Clock& SystemClock();

}  // namespace tvx::job
