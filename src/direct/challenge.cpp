#include "direct/challenge.h"

#include <cmath>

namespace tvx::direct {

std::uint16_t ChallengeWord(double r) {
  double w = r * 65534.0 + 1.0;
  // Round half to even independently of the current floating-point rounding mode.
  const double floor_w = std::floor(w);
  const double frac = w - floor_w;
  if (frac > 0.5 || (frac == 0.5 && std::fmod(floor_w, 2.0) != 0.0)) {
    w = floor_w + 1.0;
  } else {
    w = floor_w;
  }
  if (!(w >= 1.0)) w = 1.0;  // also catches NaN
  if (w > 65535.0) w = 65535.0;
  return static_cast<std::uint16_t>(w);
}

}  // namespace tvx::direct
