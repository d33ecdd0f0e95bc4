// The setup sub-command's script engine against the simulated radio on a pseudo-terminal (real
// POSIX serial backend, the radio on its own thread, answering at once): how long from a send
// to the match of the radio's answer, which bounds how late an expect sees the radio's byte;
// and the CPU an expect costs while the radio is silent.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cpu_time.h"
#include "job/clock.h"
#include "radio_sim/posix_pty_radio.h"
#include "serial/posix_serial_port.h"
#include "terminal/setup_run.h"

namespace {

using tvx::terminal::Step;
using tvx::terminal::StepKind;

constexpr int kRounds = 200;
constexpr int kIdleSeconds = 2;

// Notes when each step begins, to time a send against the match after it.
class StepTimes final : public tvx::terminal::SetupListener {
 public:
  void Text(std::string_view) override {}
  void Step(std::size_t index) override {
    if (index >= starts.size()) starts.resize(index + 1);
    starts[index] = tvx::job::SystemClock().Seconds();
  }
  std::vector<double> starts;
};

}  // namespace

int main() {
  tvx::sim::RadioConfig config;
  config.fast_setup = true;
  config.mode = tvx::sim::RadioMode::kSetup;
  tvx::sim::PtyRadio radio(config);
  if (const std::string error = radio.Start(); !error.empty()) {
    std::fprintf(stderr, "simulated radio: %s\n", error.c_str());
    return 1;
  }
  auto port = tvx::serial::MakePosixSerialPort();
  tvx::job::Clock& clock = tvx::job::SystemClock();

  {  // Send and expect, kRounds times.
    tvx::terminal::SetupPlan plan;
    plan.device = radio.DevicePath();
    plan.baud = 115200;
    for (int i = 0; i < kRounds; ++i) {
      plan.steps.push_back({StepKind::kSend, "3\r", 0, "bench"});
      plan.steps.push_back({StepKind::kExpect, "Firmware Rev \\S+\\n", 0, "bench"});
    }
    StepTimes times;
    const double start = clock.Seconds();
    const tvx::terminal::SetupResult result = tvx::terminal::RunSetupScript(
        plan, {*port, clock, nullptr, {}, tvx::console::kNoWaitHandle}, times);
    if (result.outcome != tvx::terminal::SetupOutcome::kComplete) return 1;
    std::vector<double> ms;
    for (const tvx::terminal::ExpectMatch& match : result.matches) {
      ms.push_back((start + match.seconds - times.starts[match.step - 1]) * 1000.0);
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "setup: send to match of the radio's answer over %d rounds: median %.2f ms, 99th "
        "percentile %.2f ms, max %.2f ms (the expect's own delay is below these)\n",
        kRounds, ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
  }

  radio.Stop();
  tvx::sim::PtyRadio quiet_radio(config);
  if (const std::string error = quiet_radio.Start(); !error.empty()) return 1;
  {  // An expect that waits while the radio says nothing.
    tvx::terminal::SetupPlan plan;
    plan.device = quiet_radio.DevicePath();
    plan.timeout_seconds = kIdleSeconds;
    plan.steps.push_back({StepKind::kExpect, "never said", 0, "bench"});
    StepTimes times;
    const double cpu_start = tvx::bench::CpuSeconds();
    tvx::terminal::RunSetupScript(plan, {*port, clock, nullptr, {}, tvx::console::kNoWaitHandle},
                                  times);
    const double cpu = tvx::bench::CpuSeconds() - cpu_start;
    std::printf(
        "setup idle: %.4f CPU s over an expect of %d s (%.3f %% of a core, the engine's thread)\n",
        cpu, kIdleSeconds, cpu / kIdleSeconds * 100.0);
  }
  quiet_radio.Stop();
  return 0;
}
