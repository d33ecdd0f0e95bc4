#include "direct_upload_posix_baseline.h"
#include "cpu_time.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <thread>

#include "posix_fd_io.h"

namespace tvx::bench {

namespace {

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  return write(fd, bytes, count) == static_cast<ssize_t>(count);
}

// The radio's side at its simplest: echo the address, answer every data frame with one byte.
void EchoPeer(int fd, std::int64_t words) {
  std::array<std::uint8_t, 3> frame{};
  for (std::int64_t i = 0; i < words; ++i) {
    if (!ReadExactly(fd, frame.data(), 3)) return;
    if (!WriteAll(fd, frame.data() + 1, 2)) return;
    if (!ReadExactly(fd, frame.data(), 3)) return;
    const std::uint8_t reply = frame[1];
    if (!WriteAll(fd, &reply, 1)) return;
  }
}

int Waiting(int fd) {
  int n = 0;
  if (ioctl(fd, FIONREAD, &n) != 0) return -1;
  return n;
}

bool AwaitCount(int fd, int count, int spin_checks) {
  for (int i = 0; i < spin_checks; ++i) {
    if (Waiting(fd) >= count) return true;
  }
  for (;;) {
    const int n = Waiting(fd);
    if (n < 0) return false;
    if (n >= count) return true;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, -1) < 0) return false;
  }
}

}  // namespace

BaselineResult RunBaseline(std::int64_t words, int spin_checks) {
  BaselineResult result;
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return result;
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);

  std::thread peer(EchoPeer, master, words);
  const double cpu_start = tvx::bench::CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  bool ok = true;
  for (std::int64_t i = 0; i < words && ok; ++i) {
    const auto address = static_cast<std::uint16_t>(i * 2);
    const std::array<std::uint8_t, 3> address_frame = {1, static_cast<std::uint8_t>(address >> 8),
                                                       static_cast<std::uint8_t>(address & 0xFF)};
    for (const std::uint8_t b : address_frame) ok = ok && WriteAll(slave, &b, 1);
    std::array<std::uint8_t, 2> echo{};
    ok = ok && AwaitCount(slave, 2, spin_checks) && ReadExactly(slave, echo.data(), 2);
    ok = ok && echo[0] == address_frame[1] && echo[1] == address_frame[2];
    const std::array<std::uint8_t, 3> data_frame = {0x12, static_cast<std::uint8_t>(i), 0x5A};
    ok = ok && WriteAll(slave, data_frame.data(), 3);
    std::uint8_t reply = 0;
    ok = ok && AwaitCount(slave, 1, spin_checks) && ReadExactly(slave, &reply, 1);
    ok = ok && reply == data_frame[1];
    if (ok) ++result.words;
  }
  result.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpu_seconds = tvx::bench::CpuSeconds() - cpu_start;
  result.ok = ok;
  close(slave);  // ends the peer's read if it is still waiting
  peer.join();
  close(master);
  return result;
}

}  // namespace tvx::bench
