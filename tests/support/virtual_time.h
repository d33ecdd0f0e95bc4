// One time for a whole test, in seconds from 0, and a job clock over it. The time moves only
// when the job sleeps or waits; whatever runs on it (the simulated radio behind a memory port)
// is brought up to each new time before the time gets there, so a test is single-threaded,
// deterministic and sleeps for nothing.
//
//   VirtualTime time;
//   MemoryRadioPort port(time, config);   // follows the time
//   VirtualClock clock(time);
//   clock.SleepMs(300);                   // the radio runs its timers up to 0.3 s, at once
#pragma once

#include <functional>
#include <vector>

#include "job/clock.h"

namespace tvx::testing {

class VirtualTime {
 public:
  /// Something that runs on this time.
  class Follower {
   public:
    virtual ~Follower() = default;
    /// Runs everything due up to and including `t` (seconds). Must not move the time.
    virtual void RunUntil(double t) = 0;
  };

  VirtualTime() = default;
  VirtualTime(const VirtualTime&) = delete;
  VirtualTime& operator=(const VirtualTime&) = delete;

  /// Seconds since the test began.
  double Now() const { return now_; }
  /// Moves the time to `t` once every follower ran up to it; an earlier `t` changes nothing.
  void AdvanceTo(double t);
  /// AdvanceTo(Now() + seconds).
  void Advance(double seconds) { AdvanceTo(now_ + seconds); }

  /// Adds a follower (not owned; it must Unfollow before it goes).
  void Follow(Follower* follower);
  void Unfollow(Follower* follower);

 private:
  double now_ = 0.0;
  std::vector<Follower*> followers_;
};

/// A job clock on a VirtualTime: pauses move the time by their length at once. Single-threaded.
class VirtualClock final : public job::Clock {
 public:
  explicit VirtualClock(VirtualTime& time) : time_(time) {}

  double Seconds() override { return time_.Now(); }
  /// The time of day at the start plus the virtual time, wrapping at midnight, to the
  /// millisecond.
  double TimeOfDaySeconds() override;
  /// Moves the time by `ms` (nothing for ms <= 0).
  void SleepMs(int ms) override;
  /// A stop already requested ends it at once (false, no time passes); otherwise the whole
  /// pause passes in one piece and the stop is asked once at its end.
  bool SleepMsUnless(int ms, int check_ms, const std::function<bool()>& stop) override;

  /// The time of day (seconds since midnight) when the virtual time reads 0; default noon.
  void SetTimeOfDayAtStart(double seconds) { time_of_day_at_start_ = seconds; }
  /// Every pause asked for, in milliseconds, in order.
  const std::vector<int>& Pauses() const { return pauses_; }
  /// Their total in milliseconds.
  long long SleptMs() const;
  /// Runs at the start of every pause with its length in milliseconds, before time moves.
  std::function<void(int)> on_pause;

 private:
  void Pause(int ms);

  VirtualTime& time_;
  double time_of_day_at_start_ = 43200.0;
  std::vector<int> pauses_;
};

}  // namespace tvx::testing
