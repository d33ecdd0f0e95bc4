// A clock for tests: pauses return at once and advance the clock by their length, so a 2 s
// pause costs nothing; Seconds() also follows real time, so waits on a real device still
// measure something sensible.
#pragma once

#include <atomic>
#include <chrono>

#include "job/clock.h"

namespace tvx::testing {

class FakeClock final : public job::Clock {
 public:
  double Seconds() override { return Real() + slept_ms_.load() / 1000.0; }
  double TimeOfDaySeconds() override { return time_of_day_ + Seconds(); }
  void SleepMs(int ms) override { slept_ms_ += ms; }

  /// Total of all pauses asked for, in milliseconds.
  long long SleptMs() const { return slept_ms_.load(); }
  void SetTimeOfDay(double seconds) { time_of_day_ = seconds; }

 private:
  double Real() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::atomic<long long> slept_ms_{0};
  double time_of_day_ = 43200.0;
};

}  // namespace tvx::testing
