// How close a whole direct upload against the simulated radio on a pseudo-terminal, answering at
// line time, comes to what the line itself takes. Three figures per rate (19200 and 115200
// bit/s):
//   wire      the line's share: every byte of the upload at ten bits, plus the protocol's fixed
//             pauses (300 ms after "4", 10 ms after each access-code byte, the divisor and the
//             challenge's high byte, 5 ms after its low byte, 10 ms after 0xAA, 1 s before the
//             first record); the radio's erase takes no time here;
//   bare      a minimal exchange written here: the same bytes and pauses, word by word, with
//             poll() waits on the raw descriptor;
//   uploader  the real direct job (questions answered at once, the real clock and priority).
// bare / wire shows what the simulated line adds, uploader / bare what the job adds. The bare
// exchange's median word, next to the wire's nine bytes, shows the line itself without the
// stalls a busy machine puts into a few words (the pseudo-terminal hands bytes over through a
// kernel worker that runs at normal priority).
//
// Usage: bench-line-time [--words N]   (N > 0: only the first N words, for a quick look)
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "direct/direct_upload.h"
#include "direct/protocol.h"
#include "direct_bench_doubles.h"
#include "image/firmware_image.h"
#include "job/clock.h"
#include "job/run_context.h"
#include "radio_sim/posix_pty_radio.h"
#include "serial/posix_priority.h"
#include "serial/posix_serial_port.h"

namespace {

using Steady = std::chrono::steady_clock;
using tvx::bench::HeadlessConsole;

constexpr double kHandshakeRate = 19200;
constexpr int kHandshakeBytes = 8;  // "4", four access-code bytes, divisor, challenge
constexpr double kFixedPauses = 0.300 + 4 * 0.010 + 0.010 + 0.010 + 0.005 + 0.010 + 1.0;

double Since(Steady::time_point start) {
  return std::chrono::duration<double>(Steady::now() - start).count();
}

// Words of the release image, or the first `limit` of them.
std::int64_t ImageWords(std::int64_t limit) {
  tvx::image::RecordBuffer buffer{};
  tvx::image::ImageWalk walk(tvx::image::FirmwareImage(), buffer);
  std::int64_t words = 0;
  while (walk.NextRecord()) {
    for (tvx::image::Word w; walk.NextWord(w);) ++words;
  }
  return limit > 0 && limit < words ? limit : words;
}

// The line's time for the whole upload at `rate`: the handshake at 19200 bit/s, then at `rate`
// the identity (4), 0xAA, the erase byte, nine bytes a word, the checksum (2) and the verdict.
double WireSeconds(double rate, std::int64_t words) {
  const double after_switch = 4 + 1 + 1 + 9.0 * static_cast<double>(words) + 2 + 1;
  return kHandshakeBytes * 10 / kHandshakeRate + after_switch * 10 / rate + kFixedPauses;
}

tvx::sim::RadioConfig LineTimeRadio() {
  tvx::sim::RadioConfig config;
  config.mode = tvx::sim::RadioMode::kDirect;
  config.erase_seconds = 0.0;
  config.line_time = true;
  return config;
}

// --- The bare exchange -------------------------------------------------------------------------

class BareLine {
 public:
  explicit BareLine(int fd) : fd_(fd) {}
  bool Put(std::uint8_t b) { return Put(&b, 1); }
  bool Put(const std::uint8_t* bytes, std::size_t n) {
    return ::write(fd_, bytes, n) == static_cast<ssize_t>(n);
  }
  // Waits until `n` bytes are waiting, then reads them.
  bool Take(std::uint8_t* into, std::size_t n) {
    for (;;) {
      int waiting = 0;
      if (::ioctl(fd_, FIONREAD, &waiting) != 0) return false;
      if (waiting >= static_cast<int>(n)) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) return false;
    }
    return ::read(fd_, into, n) == static_cast<ssize_t>(n);
  }
  bool SetRate(speed_t speed) {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
  }

 private:
  int fd_;
};

void PauseMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct BareResult {
  double seconds = 0.0;      ///< from the open to the verdict; 0 on failure
  double median_word = 0.0;  ///< seconds from an address frame to its word's reply
};

// One whole upload by the protocol alone.
BareResult RunBare(std::uint32_t rate, std::int64_t limit) {
  tvx::sim::PtyRadio radio(LineTimeRadio());
  if (!radio.Start().empty()) return {};
  const auto start = Steady::now();
  const int fd = ::open(radio.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  termios t{};
  ::tcgetattr(fd, &t);
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(fd, TCSANOW, &t);
  BareLine line(fd);
  bool ok = line.SetRate(B19200);

  namespace d = tvx::direct;
  const bool high = rate == 115200;
  const std::uint8_t divisor = high ? d::kHighSpeedDivisor : d::kNormalDivisor;
  ok = ok && line.Put(d::kProgramCommand);
  PauseMs(300);
  for (std::uint8_t b : d::kAccessCode) {
    ok = ok && line.Put(b);
    PauseMs(10);
  }
  ok = ok && line.Put(divisor);
  PauseMs(10);
  ok = ok && line.Put(0x12);
  PauseMs(10);
  ok = ok && line.Put(0x34);
  PauseMs(5);
  ok = ok && line.SetRate(high ? B115200 : B19200);
  std::array<std::uint8_t, 4> identity{};
  ok = ok && line.Take(identity.data(), 4) && identity[0] == d::kIdentityMarker;
  ok = ok && line.Put(d::kStartErase);
  PauseMs(10);
  std::uint8_t erased = 0;
  ok = ok && line.Take(&erased, 1) && erased == d::kEraseDone;
  PauseMs(1000);

  tvx::image::RecordBuffer buffer{};
  tvx::image::ImageWalk walk(tvx::image::FirmwareImage(), buffer);
  tvx::image::PairChecksum sum;
  std::vector<double> word_seconds;
  word_seconds.reserve(40000);
  std::int64_t words = 0;
  while (ok && (limit <= 0 || words < limit) && walk.NextRecord()) {
    const std::uint8_t space = walk.SpaceByte();
    for (tvx::image::Word w; ok && (limit <= 0 || words < limit) && walk.NextWord(w); ++words) {
      const auto word_start = Steady::now();
      ok = line.Put(space) && line.Put(d::HighByte(w.address)) && line.Put(d::LowByte(w.address));
      std::array<std::uint8_t, 2> echo{};
      ok = ok && line.Take(echo.data(), 2) && echo[0] == d::HighByte(w.address) &&
           echo[1] == d::LowByte(w.address);
      const d::DataFrame f = d::MakeDataFrame(w.address, w.b0, w.b1);
      const std::array<std::uint8_t, 3> frame = {f.d0, f.d1, f.check};
      std::uint8_t reply = 0;
      ok = ok && line.Put(frame.data(), 3) && line.Take(&reply, 1) && reply == f.expected_reply;
      sum.Add(w.b0, w.b1);
      word_seconds.push_back(Since(word_start));
    }
  }
  if (limit <= 0) {
    std::array<std::uint8_t, 2> checksum{};
    ok = ok && line.Take(checksum.data(), 2) && checksum == sum.Value();
    ok = ok && line.Put(d::kChecksumAccepted);
  }
  const double seconds = Since(start);
  if (limit <= 0) {
    ok = ok && radio.WaitFor([](const auto& c) { return c.direct.verdicts_accepted == 1; },
                             std::chrono::seconds(2));
  }
  ::close(fd);
  radio.Stop();
  if (!ok || word_seconds.empty()) return {};
  std::nth_element(word_seconds.begin(), word_seconds.begin() + word_seconds.size() / 2,
                   word_seconds.end());
  return {seconds, word_seconds[word_seconds.size() / 2]};
}

// --- The uploader ------------------------------------------------------------------------------

// The real job, from the first question to the verdict; 0 on failure.
double RunUploader(std::uint32_t rate, std::int64_t limit) {
  tvx::sim::PtyRadio radio(LineTimeRadio());
  if (!radio.Start().empty()) return 0.0;
  HeadlessConsole console(rate == 115200 ? "N\rY\rY\r" : "N\rY\rN\r");
  auto port = tvx::serial::MakePosixSerialPort();
  tvx::bench::TimingPriority<tvx::serial::PosixPriority> priority;
  std::int64_t words = 0;
  Steady::time_point stopped{};
  if (limit > 0) {
    priority.after_record = [&] {
      words = radio.Counters().direct.words_checked_ok;
      if (words >= limit && stopped == Steady::time_point{}) {
        stopped = Steady::now();
        console.Push("\x1b");  // leave between records
      }
    };
  }
  tvx::job::RunContext ctx(console, *port, priority, tvx::job::SystemClock());
  ctx.link.devices[0] = radio.DevicePath();
  const auto start = Steady::now();
  Steady::time_point ended{};
  tvx::direct::RunDirectUpload(ctx, [&](const tvx::direct::Result&) { ended = Steady::now(); });
  const auto end = limit > 0 ? stopped : ended;
  bool ok = end != Steady::time_point{};
  if (limit <= 0) {
    ok = ok && radio.WaitFor([](const auto& c) { return c.direct.verdicts_accepted == 1; },
                             std::chrono::seconds(2));
  }
  radio.Stop();
  return ok ? std::chrono::duration<double>(end - start).count() : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t limit = 0;
  if (argc == 3 && std::string(argv[1]) == "--words") limit = std::atoll(argv[2]);
  const std::int64_t words = ImageWords(limit);
  // On a busy machine the neighbours would set the figures: where allowed, this thread and the
  // radio's (started later, so they inherit it) run at real-time priority, as the uploader
  // raises itself around its records.
  sched_param realtime{};
  realtime.sched_priority = 10;
  const bool raised = sched_setscheduler(0, SCHED_FIFO, &realtime) == 0;
  std::printf("Direct upload of %s (%lld words), the simulated radio on a pty at line time\n",
              limit > 0 ? "the first words of the release image" : "the release image",
              static_cast<long long>(words));
  std::printf("(wire: bytes at 10 bits each plus the fixed pauses of %.3f s; %s)\n\n", kFixedPauses,
              raised ? "real-time priority" : "normal priority");
  std::printf("%8s %9s %9s %11s %10s %14s %19s\n", "bit/s", "wire s", "bare s", "uploader s",
              "bare/wire", "uploader/bare", "median word/wire's");
  bool within = true;
  for (const std::uint32_t rate : {19200u, 115200u}) {
    const double wire = WireSeconds(rate, words);
    const BareResult bare = RunBare(rate, limit);
    const double uploader = RunUploader(rate, limit);
    if (bare.seconds <= 0.0 || uploader <= 0.0) {
      std::printf("%8u: the %s did not complete\n", rate,
                  bare.seconds <= 0.0 ? "bare exchange" : "upload");
      return 1;
    }
    const double wire_word = 9 * 10.0 / rate;
    std::printf("%8u %9.2f %9.2f %11.2f %+9.1f%% %+13.1f%% %8.0f/%.0f us %+.1f%%\n", rate, wire,
                bare.seconds, uploader, 100.0 * (bare.seconds / wire - 1.0),
                100.0 * (uploader / bare.seconds - 1.0), bare.median_word * 1e6, wire_word * 1e6,
                100.0 * (bare.median_word / wire_word - 1.0));
    within = within && bare.seconds <= wire * 1.03 && uploader <= bare.seconds * 1.03;
  }
  std::printf("\ntarget: bare within 3 %% of wire, uploader within 3 %% of bare: %s\n",
              within ? "met" : "missed");
  return within ? 0 : 2;
}
