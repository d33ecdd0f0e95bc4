// How many bytes a second the Radio Setup Screen takes from the radio and puts on the screen,
// against the 11,520 bytes a second of a line at 115200 bit/s, and what it costs in CPU; and
// the CPU it uses while it waits with nothing to do. The simulated radio runs in this process on
// its own thread and answers "TEXT n" as fast as the pseudo-terminal takes bytes; the terminal
// runs headless (the screen model only) with the real POSIX serial backend.
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <thread>

#include "console/console.h"
#include "cpu_time.h"
#include "job/clock.h"
#include "job/run_context.h"
#include "radio_sim/posix_pty_radio.h"
#include "serial/posix_serial_port.h"
#include "serial/priority.h"
#include "terminal/radio_setup.h"

namespace {

constexpr int kLines = 20000;  // 80 bytes each with CR LF
constexpr double kLineBytesPerSecond = 115200 / 10.0;
constexpr int kIdleSeconds = 2;
constexpr int kPacedLines = 288;  // about 2 s of a 115200 bit/s line

using Steady = std::chrono::steady_clock;

// Types the command, then q once the radio's text has ended on the screen (or when told to).
class HeadlessConsole final : public tvx::console::Console {
 public:
  explicit HeadlessConsole(std::string typed) {
    for (char c : typed) keys_.emplace_back(1, c);
    if (pipe(wake_) != 0) std::abort();
  }
  ~HeadlessConsole() override {
    close(wake_[0]);
    close(wake_[1]);
  }
  std::string ReadKey() override {
    if (!keys_.empty()) {
      std::string key = keys_.front();
      keys_.pop_front();
      return key;
    }
    if (quit_ || Screen().RowText(49).starts_with("End of text")) {
      quit_at = Steady::now();
      quit_cpu = tvx::bench::CpuSeconds(RUSAGE_THREAD);
      return "q";
    }
    return {};
  }
  bool KeyWaiting() override { return !keys_.empty(); }
  void Beep() override {}
  bool Present(bool) override {
    ++presents;
    return true;
  }
  void AwaitKey(int) override {}
  tvx::console::NativeWaitHandle KeyWaitHandle() const override { return wake_[0]; }
  // From another thread: q at the next look.
  void Quit() {
    quit_ = true;
    const char b = 1;
    [[maybe_unused]] ssize_t n = write(wake_[1], &b, 1);
  }

  Steady::time_point quit_at;
  double quit_cpu = 0;
  long presents = 0;

 private:
  std::deque<std::string> keys_;
  std::atomic<bool> quit_{false};
  int wake_[2] = {-1, -1};
};

class RealClock final : public tvx::job::Clock {
 public:
  double Seconds() override { return tvx::job::SystemClock().Seconds(); }
  double TimeOfDaySeconds() override { return tvx::job::SystemClock().TimeOfDaySeconds(); }
  void SleepMs(int ms) override { tvx::job::SystemClock().SleepMs(ms); }
};

}  // namespace

int main() {
  tvx::sim::RadioConfig config;
  config.fast_setup = true;
  tvx::sim::PtyRadio radio(config);
  if (const std::string error = radio.Start(); !error.empty()) {
    std::fprintf(stderr, "simulated radio: %s\n", error.c_str());
    return 1;
  }
  const std::string device = radio.DevicePath();
  auto port = tvx::serial::MakePosixSerialPort();
  tvx::serial::NoPriority priority;
  RealClock clock;
  tvx::terminal::TerminalLink link;

  {  // A long text with carriage returns, as fast as it comes.
    HeadlessConsole console("TEXT " + std::to_string(kLines) + "\r");
    tvx::job::RunContext ctx(console, *port, priority, clock);
    ctx.link.devices[0] = device;
    ctx.link.baud_rate = 115200;
    const auto start = Steady::now();
    const double cpu_start = tvx::bench::CpuSeconds(RUSAGE_THREAD);
    tvx::terminal::RunRadioSetup(ctx, link);
    const double seconds = std::chrono::duration<double>(console.quit_at - start).count();
    const double cpu = console.quit_cpu - cpu_start;
    const double bytes = static_cast<double>(radio.Counters().bytes_sent);
    std::printf(
        "terminal: %.0f bytes from the radio shown in %.3f s: %.0f bytes/s, %.1f x the "
        "%.0f bytes/s of a line at 115200 bit/s\n",
        bytes, seconds, bytes / seconds, bytes / seconds / kLineBytesPerSecond,
        kLineBytesPerSecond);
    std::printf(
        "terminal: %.3f CPU s on the terminal's thread (%.1f ms per second of a full "
        "115200 bit/s line), %ld screen refreshes asked for\n",
        cpu, cpu / (bytes / kLineBytesPerSecond) * 1000.0, console.presents);
  }

  radio.Stop();
  tvx::sim::PtyRadio paced_radio(tvx::sim::RadioConfig{});  // stays for the idle wait
  {  // The same text at the pace of a 115200 bit/s line: what keeping up costs.
    if (const std::string error = paced_radio.Start(); !error.empty()) return 1;
    const std::string device = paced_radio.DevicePath();
    HeadlessConsole console("TEXT " + std::to_string(kPacedLines) + "\r");
    tvx::job::RunContext ctx(console, *port, priority, clock);
    ctx.link.devices[0] = device;
    ctx.link.baud_rate = 115200;
    const auto start = Steady::now();
    const double cpu_start = tvx::bench::CpuSeconds(RUSAGE_THREAD);
    tvx::terminal::RunRadioSetup(ctx, link);
    const double seconds = std::chrono::duration<double>(console.quit_at - start).count();
    const double cpu = console.quit_cpu - cpu_start;
    const double bytes = static_cast<double>(paced_radio.Counters().bytes_sent);
    std::printf(
        "terminal at the line's pace: %.0f bytes in %.3f s (%.0f bytes/s), %.4f CPU s on "
        "the terminal's thread (%.2f %% of a core)\n",
        bytes, seconds, bytes / seconds, cpu, cpu / seconds * 100.0);
  }

  {  // Nothing to do, the port open and silent: the terminal sleeps in its wait.
    HeadlessConsole console("");
    tvx::job::RunContext ctx(console, *port, priority, clock);
    ctx.link.devices[0] = paced_radio.DevicePath();
    std::thread timer([&console] {
      std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
      console.Quit();
    });
    const double cpu_start = tvx::bench::CpuSeconds(RUSAGE_SELF);
    tvx::terminal::RunRadioSetup(ctx, link);
    const double cpu = tvx::bench::CpuSeconds(RUSAGE_SELF) - cpu_start;
    timer.join();
    std::printf(
        "terminal idle: %.4f CPU s over %d s (%.3f %% of a core; writer thread "
        "included)\n",
        cpu, kIdleSeconds, cpu / kIdleSeconds * 100.0);
  }
  paced_radio.Stop();
  return 0;
}
