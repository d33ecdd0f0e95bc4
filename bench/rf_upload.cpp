// How fast the RF upload gets one pass of the release image (one copy per frame) through a local
// radio that echoes at once, next to a bare loop doing the same frame-and-echo exchange. Both run
// over pseudo-terminals: the uploader against the simulated radio (in this process, on its own
// thread) with the real POSIX serial backend and priority, the bare loop against a minimal echo
// peer. The uploader draws on the real terminal console, whose terminal is one more
// pseudo-terminal drained by this program, so what a pass costs on screen is counted too.
//
// Usage: bench-rf-upload [--uploader-only]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/posix_console.h"
#include "cpu_time.h"
#include "image/firmware_image.h"
#include "job/clock.h"
#include "job/random.h"
#include "job/run_context.h"
#include "posix_fd_io.h"
#include "radio_sim/posix_pty_radio.h"
#include "rf/frames.h"
#include "rf/rf_upload.h"
#include "serial/posix_priority.h"
#include "serial/posix_serial_port.h"

using tvx::bench::ReadExactly;

namespace {

constexpr int kRecords = 4144;
constexpr int kRounds = 5;
constexpr double kBitsPerByte = 10.0;
constexpr std::string_view kEndPrompt = "Hit any key to return to main menu";

using Steady = std::chrono::steady_clock;

void MakeRaw(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

// The data frames of one pass, built as the uploader builds them.
std::vector<std::vector<std::uint8_t>> PassFrames() {
  std::vector<std::vector<std::uint8_t>> frames;
  tvx::job::Random random;
  tvx::image::RecordBuffer record{};
  tvx::rf::RfFrameBuffer frame{};
  for (int r = 0; r < kRecords; ++r) {
    tvx::image::FetchRecord(r, record);
    const std::size_t n =
        tvx::rf::RfDataFrame(frame, record, r, tvx::rf::RandomByte(random.Next()));
    frames.emplace_back(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n));
  }
  return frames;
}

// Standard input and output become a pseudo-terminal of 80 x 51 for the console; a thread counts
// what the console writes and answers the end prompt. The bench's own output goes to `report`.
class CapturedTerminal {
 public:
  bool Open() {
    winsize size{};
    size.ws_row = 51;
    size.ws_col = 80;
    if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) return false;
    saved_in_ = dup(STDIN_FILENO);
    saved_out_ = dup(STDOUT_FILENO);
    std::fflush(stdout);
    dup2(slave_, STDIN_FILENO);
    dup2(slave_, STDOUT_FILENO);
    drain_ = std::thread([this] { Drain(); });
    return true;
  }
  void Close() {
    stop_ = true;
    if (drain_.joinable()) drain_.join();
    std::fflush(stdout);
    dup2(saved_in_, STDIN_FILENO);
    dup2(saved_out_, STDOUT_FILENO);
    for (int fd : {saved_in_, saved_out_, slave_, master_}) close(fd);
  }
  void Type(std::string_view keys) {
    [[maybe_unused]] const ssize_t n = write(master_, keys.data(), keys.size());
  }
  std::uint64_t Bytes() const { return bytes_.load(); }

 private:
  void Drain() {
    std::string tail;
    char buffer[4096];
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) continue;
      bytes_ += static_cast<std::uint64_t>(n);
      tail.append(buffer, static_cast<std::size_t>(n));
      if (tail.find(kEndPrompt) != std::string::npos) {
        Type("x");
        tail.clear();
      }
      if (tail.size() > 256) tail.erase(0, tail.size() - 128);
    }
  }

  int master_ = -1;
  int slave_ = -1;
  int saved_in_ = -1;
  int saved_out_ = -1;
  std::thread drain_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> bytes_{0};
};

// The real priority, timing the broadcast: from the first copy raised to the last one lowered,
// with the terminal's byte count at both ends.
class TimingPriority final : public tvx::serial::Priority {
 public:
  explicit TimingPriority(const CapturedTerminal& terminal) : terminal_(terminal) {}
  void RaiseRealtime() override {
    if (raises++ == 0) {
      first = Steady::now();
      bytes_at_first = terminal_.Bytes();
    }
    real_.RaiseRealtime();
  }
  void Normal() override {
    real_.Normal();
    last = Steady::now();
    bytes_at_last = terminal_.Bytes();
  }
  int raises = 0;
  Steady::time_point first{};
  Steady::time_point last{};
  std::uint64_t bytes_at_first = 0;
  std::uint64_t bytes_at_last = 0;

 private:
  const CapturedTerminal& terminal_;
  tvx::serial::PosixPriority real_;
};

// No pauses of a second or more (there are none in one pass); shorter ones are real.
class BenchClock final : public tvx::job::Clock {
 public:
  double Seconds() override {
    return std::chrono::duration<double>(Steady::now().time_since_epoch()).count();
  }
  double TimeOfDaySeconds() override { return tvx::job::SystemClock().TimeOfDaySeconds(); }
  void SleepMs(int ms) override {
    if (ms < 1000) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

struct Result {
  bool ok = false;
  double seconds = 0.0;
  double cpu_seconds = 0.0;
  double terminal_bytes_per_frame = 0.0;
  std::uint64_t frames = 0;
};

Result RunUploader() {
  Result result;
  tvx::sim::RadioConfig config;
  config.mode = tvx::sim::RadioMode::kRf;  // answers at once: no line time
  tvx::sim::PtyRadio radio(config);
  if (const std::string error = radio.Start(); !error.empty()) {
    std::fprintf(stderr, "cannot start the simulated radio: %s\n", error.c_str());
    return result;
  }
  const std::string device = radio.DevicePath();

  CapturedTerminal terminal;
  if (!terminal.Open()) {
    std::fprintf(stderr, "cannot make a terminal for the console\n");
    return result;
  }
  std::string error;
  auto console = tvx::console::posix::OpenTerminalConsole(error);
  if (!console) {
    terminal.Close();
    std::fprintf(stderr, "cannot open the console: %s\n", error.c_str());
    return result;
  }
  terminal.Type("y\r1\r0\r1\r");  // radio on the diagnostic port, N = 1, S = 0, R = 1
  auto port = tvx::serial::MakePosixSerialPort();
  TimingPriority priority(terminal);
  BenchClock clock;
  tvx::job::RunContext ctx(*console, *port, priority, clock);
  ctx.link.devices[0] = device;

  const double cpu_start = tvx::bench::CpuSeconds();
  tvx::rf::RunRfUpload(ctx);
  result.cpu_seconds = tvx::bench::CpuSeconds() - cpu_start;
  console.reset();
  terminal.Close();

  result.seconds = std::chrono::duration<double>(priority.last - priority.first).count();
  result.terminal_bytes_per_frame =
      static_cast<double>(priority.bytes_at_last - priority.bytes_at_first) / kRecords;
  radio.WaitFor([](const tvx::sim::RadioCounters& c) { return c.rf.data_frames_good >= kRecords; },
                std::chrono::seconds(2));
  const tvx::sim::RadioCounters counters = radio.Counters();
  result.frames = counters.rf.data_frames_good;
  result.ok = result.frames == kRecords && counters.rf.data_frames_bad == 0 &&
              counters.rf.header_frames_good == 1 && priority.raises == kRecords &&
              ctx.rf_mismatch_count == 0;
  radio.Stop();
  return result;
}

// The local radio at its simplest: read a frame by its length byte and send it straight back.
void EchoPeer(int fd, int frames) {
  std::uint8_t frame[tvx::rf::kFrameBufferSize];
  for (int i = 0; i < frames; ++i) {
    if (!ReadExactly(fd, frame, 2)) return;
    const std::size_t length = std::size_t{frame[1]} + 8;
    if (!ReadExactly(fd, frame + 2, length - 2)) return;
    if (write(fd, frame, length) != static_cast<ssize_t>(length)) return;
  }
}

// Write a frame, sleep in poll() until its whole echo is waiting, read and compare it; under
// the same priority as the uploader's copies, so both meet the same load on the machine.
Result RunBareExchange(const std::vector<std::vector<std::uint8_t>>& frames) {
  Result result;
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return result;
  MakeRaw(slave);
  MakeRaw(master);
  std::thread peer(EchoPeer, master, static_cast<int>(frames.size()));
  const double cpu_start = tvx::bench::CpuSeconds();
  const auto start = Steady::now();
  bool ok = true;
  std::uint8_t echo[tvx::rf::kFrameBufferSize];
  tvx::serial::PosixPriority priority;
  for (const auto& frame : frames) {
    priority.RaiseRealtime();
    ok = write(slave, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
    for (int waiting = 0; ok;) {
      if (ioctl(slave, FIONREAD, &waiting) != 0) ok = false;
      if (waiting >= static_cast<int>(frame.size())) break;
      pollfd p{slave, POLLIN, 0};
      if (waiting > 0) {
        // Part of the echo is in and keeps the descriptor readable: wait for the rest.
        std::this_thread::yield();
        continue;
      }
      if (poll(&p, 1, 500) < 0) ok = false;
    }
    ok = ok && ReadExactly(slave, echo, frame.size()) &&
         std::equal(frame.begin(), frame.end(), echo);
    priority.Normal();
    if (!ok) break;
    ++result.frames;
  }
  result.seconds = std::chrono::duration<double>(Steady::now() - start).count();
  result.cpu_seconds = tvx::bench::CpuSeconds() - cpu_start;
  result.ok = ok;
  close(slave);
  peer.join();
  close(master);
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const bool uploader_only = argc > 1 && std::string(argv[1]) == "--uploader-only";
  if (std::getenv("TERM") == nullptr) setenv("TERM", "xterm", 1);
  const auto frames = PassFrames();
  std::uint64_t frame_bytes = 0;
  for (const auto& f : frames) frame_bytes += f.size();

  std::printf("RF upload, one pass of the release image (%d data frames, one copy each),\n",
              kRecords);
  std::printf("local radio echoing at once. Figures are the medians of %d rounds.\n\n", kRounds);

  std::vector<double> up_rate, up_cpu, up_bytes, bare_rate, bare_cpu, ratios;
  for (int round = 0; round < (uploader_only ? 1 : kRounds); ++round) {
    const Result up = RunUploader();
    if (!up.ok) {
      std::printf("uploader: the pass did not complete (%llu frames verified)\n",
                  static_cast<unsigned long long>(up.frames));
      return 1;
    }
    up_rate.push_back(kRecords / up.seconds);
    up_cpu.push_back(up.cpu_seconds);
    up_bytes.push_back(up.terminal_bytes_per_frame);
    if (uploader_only) break;
    const Result bare = RunBareExchange(frames);
    if (!bare.ok) {
      std::printf("bare exchange: an echo did not come back intact\n");
      return 1;
    }
    bare_rate.push_back(static_cast<double>(bare.frames) / bare.seconds);
    bare_cpu.push_back(bare.cpu_seconds);
    ratios.push_back(up_rate.back() / bare_rate.back());
    std::printf("round %d: uploader %7.0f frames/s, bare %7.0f frames/s\n", round + 1,
                up_rate.back(), bare_rate.back());
  }
  if (uploader_only) {
    std::printf("uploader %.0f frames/s, cpu %.3f s, %.1f terminal bytes per frame\n", up_rate[0],
                up_cpu[0], up_bytes[0]);
    return 0;
  }

  // Each round's two runs meet about the same load on the machine: compare within rounds.
  const double ratio = Median(ratios);
  std::printf("\n");
  std::printf("uploader (job, simulated radio)  %7.0f frames/s  cpu %6.3f s (whole job)\n",
              Median(up_rate), Median(up_cpu));
  std::printf("  terminal output                %7.1f bytes per frame\n", Median(up_bytes));
  std::printf("bare poll() exchange, echo peer  %7.0f frames/s  cpu %6.3f s\n", Median(bare_rate),
              Median(bare_cpu));
  std::printf("uploader / bare poll()           %7.1f %%  (median of the rounds' ratios; target:\n",
              100.0 * ratio);
  std::printf("                                            at least 70 %%)\n");
  const double wire_seconds = 2.0 * static_cast<double>(frame_bytes) * kBitsPerByte / 115200.0;
  std::printf("\nThe same pass on the wire at 115200 bit/s (each frame out and its echo back,\n");
  std::printf("%llu bytes each way, 10 bits a byte): %.1f s (%.0f frames/s)\n",
              static_cast<unsigned long long>(frame_bytes), wire_seconds, kRecords / wire_seconds);
  return ratio >= 0.7 ? 0 : 2;
}
