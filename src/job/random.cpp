#include "job/random.h"

#include <cmath>

namespace tvx::job {

void Random::Seed(double time_of_day_seconds) {
  state_ = static_cast<std::uint64_t>(std::llround(time_of_day_seconds * 1000.0)) ^
           0x9E3779B97F4A7C15ULL;
}

double Random::Next() {
  // splitmix64: a full-period 64-bit sequence; the top 53 bits make a uniform double in [0, 1).
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * 0x1.0p-53;
}

}  // namespace tvx::job
