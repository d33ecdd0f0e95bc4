#include "support/virtual_time.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tvx::testing {

void VirtualTime::AdvanceTo(double t) {
  if (t <= now_) return;
  // A follower may add or drop another while it runs: walk a copy.
  const std::vector<Follower*> followers = followers_;
  for (Follower* f : followers) f->RunUntil(t);
  now_ = t;
}

void VirtualTime::Follow(Follower* follower) {
  if (std::find(followers_.begin(), followers_.end(), follower) == followers_.end()) {
    followers_.push_back(follower);
  }
}

void VirtualTime::Unfollow(Follower* follower) {
  followers_.erase(std::remove(followers_.begin(), followers_.end(), follower), followers_.end());
}

double VirtualClock::TimeOfDaySeconds() {
  const double t = std::fmod(time_of_day_at_start_ + time_.Now(), 86400.0);
  return std::floor(t * 1000.0 + 1e-6) / 1000.0;
}

void VirtualClock::Pause(int ms) {
  pauses_.push_back(ms);
  if (on_pause) on_pause(ms);
  if (ms > 0) time_.Advance(ms / 1000.0);
}

void VirtualClock::SleepMs(int ms) {
  Pause(ms);
}

bool VirtualClock::SleepMsUnless(int ms, int check_ms, const std::function<bool()>& stop) {
  (void)check_ms;
  if (stop()) return false;
  Pause(ms);
  return !stop();
}

long long VirtualClock::SleptMs() const {
  return std::accumulate(pauses_.begin(), pauses_.end(), 0LL,
                         [](long long sum, int ms) { return sum + std::max(ms, 0); });
}

}  // namespace tvx::testing
