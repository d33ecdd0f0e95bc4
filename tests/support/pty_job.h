// What the job tests against the simulated radio on a pseudo-terminal share: a priority that
// notes the raises, and a clock whose short pauses are real (the radio on its own thread needs
// the time to read what was sent before the pause) while those of a second or more cost nothing.
#pragma once

#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include "job/clock.h"
#include "serial/priority.h"
#include "support/fake_clock.h"

namespace tvx::testing {

/// Counts the raises (the direct upload's line-rate switch is the first) and whether the job
/// is raised now, so a fixture can tell that no key is waited for while it is.
class RecordingPriority final : public serial::Priority {
 public:
  void RaiseRealtime() override {
    ++raises;
    realtime = true;
  }
  void Normal() override { realtime = false; }
  int raises = 0;
  bool realtime = false;
};

/// FakeClock time, with a time of day that wraps at midnight. Pauses under a second are real
/// (the direct handshake's pauses, the 100 ms after an RF header copy); longer ones cost
/// nothing.
class PtyJobClock final : public job::Clock {
 public:
  double Seconds() override { return fake_.Seconds(); }
  double TimeOfDaySeconds() override { return std::fmod(43200.0 + Seconds(), 86400.0); }
  void SleepMs(int ms) override {
    if (on_pause) on_pause(ms);
    if (ms >= 1000) {
      fake_.SleepMs(ms);
      return;
    }
    if (before_real_pause) before_real_pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  /// Runs on the job's thread at the start of every pause, with its length in milliseconds.
  std::function<void(int)> on_pause;
  /// Runs before every real pause: lets the radio catch up with what was sent, so a loaded
  /// machine cannot turn a short pause into a fault.
  std::function<void()> before_real_pause;

 private:
  FakeClock fake_;
};

}  // namespace tvx::testing
