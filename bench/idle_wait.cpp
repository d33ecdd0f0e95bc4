// How much CPU a job costs while it waits on a silent radio: the port is open, nothing arrives,
// no key is pressed. Two waits of 5 s each: one long AwaitActivity, and the polling loop the
// jobs run (bytes-waiting query, then a wait cut to one frame as while the screen lags behind).
// Each must stay under 1% of one core.
//
// Usage: bench-idle-wait [Com<n>]   (default: a pseudo-terminal nobody writes to)
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "cpu_time.h"
#include "serial/posix_serial_port.h"

namespace {

constexpr double kSeconds = 5.0;
constexpr double kLimitPercent = 1.0;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs `wait` until kSeconds passed; prints and checks the CPU share.
template <typename Wait>
bool Measure(const char* label, Wait wait) {
  const double cpu_start = tvx::bench::CpuSeconds(RUSAGE_SELF);
  const double start = Now();
  long wakeups = 0;
  while (Now() - start < kSeconds) {
    wait(static_cast<int>((kSeconds - (Now() - start)) * 1000) + 1);
    ++wakeups;
  }
  const double wall = Now() - start;
  const double cpu = tvx::bench::CpuSeconds(RUSAGE_SELF) - cpu_start;
  const double percent = 100.0 * cpu / wall;
  std::printf("%-34s wall %.3f s  cpu %.4f s  = %.3f %% of a core  (%ld wake-ups)  %s\n", label,
              wall, cpu, percent, wakeups, percent < kLimitPercent ? "ok" : "TOO HIGH");
  return percent < kLimitPercent;
}

}  // namespace

int main(int argc, char** argv) {
  std::string name;
  int master = -1;
  if (argc > 1) {
    name = argv[1];
  } else {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
      std::perror("pseudo-terminal");
      return 2;
    }
    name = ptsname(master);
  }

  auto port = tvx::serial::MakePosixSerialPort();
  if (const auto error = port->Open(name); error != 0) {
    std::fprintf(stderr, "cannot open %s: error %d\n", name.c_str(), error);
    return 2;
  }
  port->SetTimeouts({});
  std::printf("idle wait on %s (silent), no key handle, %.0f s each\n", name.c_str(), kSeconds);

  bool ok = Measure("one long wait", [&](int left_ms) {
    port->AwaitActivity(tvx::console::kNoWaitHandle, left_ms);
  });
  ok = Measure("polling loop, 35 ms frames",
               [&](int) {
                 if (port->BytesWaiting().count > 0) return;
                 port->AwaitActivity(tvx::console::kNoWaitHandle, 35);
               }) &&
       ok;

  port->Close();
  if (master >= 0) close(master);
  return ok ? 0 : 1;
}
