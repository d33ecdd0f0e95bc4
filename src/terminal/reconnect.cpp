#include "terminal/reconnect.h"

#include <algorithm>
#include <cmath>

namespace tvx::terminal {

void Reconnect::Lose() {
  waiting_ = !device_.empty();
  next_try_ = clock_.Seconds() + kRecheckMs / 1000.0;
}

bool Reconnect::TryNow(const OpenAgain& open_again) {
  if (!waiting_ || clock_.Seconds() < next_try_) return false;
  if (open_again(device_)) {
    waiting_ = false;
    return true;
  }
  next_try_ = clock_.Seconds() + kRecheckMs / 1000.0;
  return false;
}

int Reconnect::MsToNextTry() const {
  const double ms = std::ceil((next_try_ - clock_.Seconds()) * 1000.0);
  return static_cast<int>(std::clamp(ms, 1.0, static_cast<double>(kRecheckMs)));
}

}  // namespace tvx::terminal
