// The one deadline of the serial backends' blocking calls (reads and writes under the port's
// time-outs, waits for activity), handed to the system's waits in milliseconds.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

namespace tvx::serial {

/// How long a wait sleeps at most once the device hung up (the system would report it at once
/// every time): the caller's loop re-checks at this pace instead of spinning.
inline constexpr int kHungUpWaitMs = 50;

/// A point on the steady clock, or none (the wait has no end of its own). Cheap to copy.
class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  Deadline() = default;  ///< none
  /// `ms` milliseconds from now; none for a negative `ms` (the interface's "-1: no limit").
  static Deadline InMs(long long ms) {
    Deadline d;
    if (ms >= 0) d.at_ = Clock::now() + std::chrono::milliseconds(ms);
    return d;
  }
  /// The total time-out of a transfer of `count` bytes: `per_byte` * count + `constant`
  /// milliseconds from now; none when both are 0.
  static Deadline ForTransfer(std::uint32_t per_byte, std::uint32_t constant, std::size_t count) {
    if (per_byte == 0 && constant == 0) return {};
    const unsigned long long ms = static_cast<unsigned long long>(per_byte) * count + constant;
    return InMs(static_cast<long long>(std::min<unsigned long long>(ms, 1ULL << 40)));
  }

  /// Milliseconds left, rounded down, as the system's waits take them: 0 once passed, -1 for
  /// none, at most 2^30.
  int MsLeft() const {
    if (!at_) return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(*at_ - Clock::now()).count();
    if (left <= 0) return 0;
    return static_cast<int>(std::min<long long>(left, 1 << 30));
  }
  /// The earlier of this and `other` (none only when both are none).
  Deadline Earlier(const Deadline& other) const {
    if (!at_) return other;
    if (!other.at_) return *this;
    return *at_ <= *other.at_ ? *this : other;
  }

 private:
  std::optional<Clock::time_point> at_;
};

}  // namespace tvx::serial
