// What the direct-upload benchmarks put around the job in place of an operator and a wall clock:
// a console without a terminal that answers the questions, and a clock that pauses for real only
// where the radio checks the pause; and the real priority with the transfer's timing.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "console/console.h"
#include "job/clock.h"
#include "serial/priority.h"

namespace tvx::bench {

// Answers the three questions, then has no key until the job blocks for one (the closing key).
class HeadlessConsole final : public console::Console {
 public:
  explicit HeadlessConsole(const std::string& answers) {
    for (char c : answers) keys_.emplace_back(1, c);
  }
  std::string ReadKey() override {
    if (keys_.empty()) return {};
    std::string key = keys_.front();
    keys_.pop_front();
    return key;
  }
  bool KeyWaiting() override { return !keys_.empty(); }
  void Push(std::string key) { keys_.push_back(std::move(key)); }
  void Beep() override { ++beeps; }
  bool Present(bool) override { return true; }
  void AwaitKey(int timeout_ms) override {
    if (timeout_ms < 0 && keys_.empty()) keys_.emplace_back("x");
  }
  console::NativeWaitHandle KeyWaitHandle() const override { return console::kNoWaitHandle; }
  /// Whether any row of the screen holds `text`.
  bool Shows(const std::string& text) const {
    for (int row = 1; row <= console::kRows; ++row) {
      if (screen_.RowText(row).find(text) != std::string::npos) return true;
    }
    return false;
  }
  int beeps = 0;

 private:
  std::deque<std::string> keys_;
};

// Real pauses for the handshake (the radio checks the line rate of what it hears), none for the
// pauses of a second or more.
class BenchClock final : public job::Clock {
 public:
  double Seconds() override {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count() + skipped_;
  }
  double TimeOfDaySeconds() override { return job::SystemClock().TimeOfDaySeconds(); }
  void SleepMs(int ms) override {
    if (ms >= 1000) {
      skipped_ += ms / 1000.0;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
  }

 private:
  double skipped_ = 0.0;
};

// The platform's real priority, timing the transfer: from the first record raised to the last
// lowered (the first raise is the rate switch).
template <class RealPriority>
class TimingPriority final : public serial::Priority {
 public:
  using Steady = std::chrono::steady_clock;
  void RaiseRealtime() override {
    if (++raises == 2) first_record = Steady::now();
    real_.RaiseRealtime();
  }
  void Normal() override {
    real_.Normal();
    if (raises >= 2) {
      last_record_end = Steady::now();
      if (after_record) after_record();
    }
  }
  int raises = 0;
  Steady::time_point first_record{};
  Steady::time_point last_record_end{};
  std::function<void()> after_record;  ///< on the job's thread, after every record

 private:
  RealPriority real_;
};

}  // namespace tvx::bench
