// How fast the direct upload moves words through the Windows serial backend, next to a bare
// Win32 word exchange in the same run. Under wine both talk to native programs on
// pseudo-terminals that wine maps to COM ports (tools/run-bench-windows.sh sets this up): the
// uploader to the simulated radio answering at once, the bare loop to echo-peer. Figures
// under wine are a floor for Windows, not a target: wine's serial layer is slower.
//
// Usage: bench-direct-upload-win <radio device, e.g. COM5> <echo device, e.g. \\.\COM7>
#include <windows.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <thread>

#include "console/console.h"
#include "direct/direct_upload.h"
#include "direct_bench_doubles.h"
#include "job/clock.h"
#include "job/run_context.h"
#include "serial/win_priority.h"
#include "serial/win_serial_port.h"

namespace {

using tvx::bench::BenchClock;
using tvx::bench::HeadlessConsole;
using TimingPriority = tvx::bench::TimingPriority<tvx::serial::WinPriority>;

constexpr std::int64_t kReleaseWords = 33097;
constexpr std::int64_t kBareWords = 10000;
using Steady = std::chrono::steady_clock;

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

// The bare exchange: a blocking port, three one-byte writes, a busy ClearCommError loop until
// the 2-byte echo is in, one 3-byte write, the same loop for the 1-byte reply.
bool BareExchange(const char* device, std::int64_t words, double& seconds, double& cpu) {
  HANDLE port =
      CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return false;
  DCB line{};
  line.DCBlength = sizeof line;
  GetCommState(port, &line);
  line.BaudRate = 115200;
  line.ByteSize = 8;
  line.Parity = NOPARITY;
  line.StopBits = ONESTOPBIT;
  line.fBinary = TRUE;
  SetCommState(port, &line);
  COMMTIMEOUTS zero{};
  SetCommTimeouts(port, &zero);
  auto await = [port](DWORD count) {
    for (;;) {
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(port, &errors, &status)) return false;
      if (status.cbInQue >= count) return true;
    }
  };
  bool ok = true;
  const double cpu_start = ProcessCpuSeconds();
  const auto start = Steady::now();
  for (std::int64_t i = 0; i < words && ok; ++i) {
    const auto address = static_cast<std::uint16_t>(i * 2);
    const std::array<std::uint8_t, 3> address_frame = {1, static_cast<std::uint8_t>(address >> 8),
                                                       static_cast<std::uint8_t>(address & 0xFF)};
    DWORD n = 0;
    for (const std::uint8_t b : address_frame) ok = ok && WriteFile(port, &b, 1, &n, nullptr);
    std::array<std::uint8_t, 2> echo{};
    ok = ok && await(2) && ReadFile(port, echo.data(), 2, &n, nullptr) && n == 2;
    ok = ok && echo[0] == address_frame[1] && echo[1] == address_frame[2];
    const std::array<std::uint8_t, 3> data = {0x12, static_cast<std::uint8_t>(i), 0x5A};
    ok = ok && WriteFile(port, data.data(), 3, &n, nullptr);
    std::uint8_t reply = 0;
    ok = ok && await(1) && ReadFile(port, &reply, 1, &n, nullptr) && n == 1;
    ok = ok && reply == data[1];
  }
  seconds = std::chrono::duration<double>(Steady::now() - start).count();
  cpu = ProcessCpuSeconds() - cpu_start;
  CloseHandle(port);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench-direct-upload-win <radio port> <echo device>\n");
    return 2;
  }
  HeadlessConsole console("N\rY\rY\r");  // data port, in set-up, high speed
  auto port = tvx::serial::MakeWinSerialPort();
  TimingPriority priority;
  BenchClock clock;
  tvx::job::RunContext ctx(console, *port, priority, clock);
  ctx.link.devices[0] = argv[1];
  const double cpu_start = ProcessCpuSeconds();
  tvx::direct::RunDirectUpload(ctx);
  const double upload_cpu = ProcessCpuSeconds() - cpu_start;
  const double upload_seconds =
      std::chrono::duration<double>(priority.last_record_end - priority.first_record).count();
  const bool upload_ok =
      console.Shows("Upload complete: the radio accepted the checksum.") && console.beeps == 0;

  double bare_seconds = 0.0;
  double bare_cpu = 0.0;
  const bool bare_ok = BareExchange(argv[2], kBareWords, bare_seconds, bare_cpu);

  std::printf("Direct upload under wine, release image (%lld words), radio answering at once\n",
              static_cast<long long>(kReleaseWords));
  if (!upload_ok) {
    std::printf("  uploader: FAILED\n");
  } else {
    std::printf("  uploader (Windows backend): %8.0f words/s  %6.2f s  CPU %5.2f s\n",
                kReleaseWords / upload_seconds, upload_seconds, upload_cpu);
  }
  if (!bare_ok) {
    std::printf("  bare Win32 exchange: FAILED\n");
  } else {
    std::printf("  bare Win32 exchange:        %8.0f words/s  %6.2f s  CPU %5.2f s (%lld words)\n",
                kBareWords / bare_seconds, bare_seconds, bare_cpu,
                static_cast<long long>(kBareWords));
  }
  if (upload_ok && bare_ok) {
    std::printf("  uploader / bare: %.2f\n",
                (kReleaseWords / upload_seconds) / (kBareWords / bare_seconds));
  }
  return upload_ok && bare_ok ? 0 : 1;
}
