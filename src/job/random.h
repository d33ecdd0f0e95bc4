// The process-wide pseudo-random generator of values in [0, 1): seeded from the time of day by
// the direct upload, drawn from without seeding by the RF frames.
#pragma once

#include <cstdint>

namespace tvx::job {

class Random {
 public:
  /// Seeds from a time of day in seconds (millisecond resolution is used).
  void Seed(double time_of_day_seconds);
  /// The next value r, 0 <= r < 1.
  double Next();

 private:
  std::uint64_t state_ = 0x853C49E6748FEA9BULL;
};

}  // namespace tvx::job
