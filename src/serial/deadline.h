// The one deadline of the serial backends' blocking calls (reads and writes under the port's
// time-outs, waits for activity), handed to the system's waits in milliseconds.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
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

/// How a read of `count` bytes waits under the five time-outs, as every backend reads: interval
/// "infinite" (0xFFFFFFFF) without totals returns what is there at once; interval and per-byte
/// "infinite" with a constant waits up to the constant for a first byte and returns with it;
/// otherwise the total time-out (per byte * count + constant) and, once a byte came, the interval
/// between bytes bound the read (all zero: no bound). Built when the read starts.
class ReadTimer {
 public:
  ReadTimer(std::uint32_t interval, std::uint32_t per_byte, std::uint32_t constant,
            std::size_t count)
      : interval_(interval) {
    constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
    at_once_ = interval == kInfinite && per_byte == 0 && constant == 0;
    first_byte_ =
        interval == kInfinite && per_byte == kInfinite && constant != 0 && constant != kInfinite;
    if (first_byte_) {
      total_ = Deadline::InMs(constant);
    } else if (!at_once_) {
      total_ = Deadline::ForTransfer(per_byte, constant, count);
    }
    interval_timed_ = !at_once_ && !first_byte_ && interval != 0;
  }

  /// Whatever is there is all the read returns: no waiting.
  bool AtOnce() const { return at_once_; }
  /// Bytes arrived: whether the read ends with them (the first-byte form), else the interval
  /// starts again.
  bool EndsWithBytes() {
    if (interval_timed_) between_ = Deadline::InMs(interval_);
    return first_byte_;
  }
  /// How long the next wait may last in milliseconds: 0 once time is up, -1 without a bound.
  int MsLeft() const { return total_.Earlier(between_).MsLeft(); }

 private:
  std::uint32_t interval_;
  bool at_once_ = false;
  bool first_byte_ = false;
  bool interval_timed_ = false;
  Deadline total_;
  Deadline between_;
};

}  // namespace tvx::serial
