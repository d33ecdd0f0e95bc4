#include "job/clock.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

namespace tvx::job {
namespace {

class SteadyClock final : public Clock {
 public:
  double Seconds() override {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  double TimeOfDaySeconds() override {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    {
      // std::localtime is not reentrant, and several uploads' threads seed at once.
      static std::mutex mutex;
      const std::lock_guard lock(mutex);
      if (const std::tm* p = std::localtime(&t)) local = *p;
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ms.count() / 1000.0;
  }

  void SleepMs(int ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }

  bool SleepMsUnless(int ms, int check_ms, const std::function<bool()>& stop) override {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      if (stop()) return false;
      const auto now = std::chrono::steady_clock::now();
      if (now >= end) return true;
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
          end - now, std::chrono::milliseconds(check_ms)));
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace tvx::job
