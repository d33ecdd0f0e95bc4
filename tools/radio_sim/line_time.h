// The time a serial line takes: ten bits a character (a start bit, eight data bits, a stop bit)
// at the rate set, each character after the one before it. The pseudo-terminal radio and the
// port in memory keep one LineDirection for each way of their line, so they agree to the bit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace tvx::sim {

/// Seconds one character takes at `rate` bit/s; 0 for rate 0 (no rate known: no time).
inline double CharacterSeconds(std::uint32_t rate) {
  return rate != 0 ? 10.0 / rate : 0.0;
}

/// One way of the line: when the characters put on it so far have all gone across.
class LineDirection {
 public:
  /// Puts `count` characters on the line at `rate` (bit/s), from `at` (seconds) or from when the
  /// line is free, whichever is later; returns when the last of them is across.
  double Send(double at, std::size_t count, std::uint32_t rate) {
    free_at_ = std::max(at, free_at_) + CharacterSeconds(rate) * static_cast<double>(count);
    return free_at_;
  }
  /// When everything sent so far is across (0 before anything was sent).
  double FreeAt() const { return free_at_; }
  /// A new line: free from `at` (seconds), nothing of the old one still under way.
  void StartAt(double at) { free_at_ = at; }

 private:
  double free_at_ = 0.0;
};

}  // namespace tvx::sim
