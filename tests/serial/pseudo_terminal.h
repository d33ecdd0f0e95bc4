// A pseudo-terminal standing in for the radio: the port under test opens the slave side by its
// "Com<n>" name, the test talks through the master side. A second slave descriptor stays open
// all the time, so the master never sees a hang-up when the port closes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tvx::testing {

class PseudoTerminal {
 public:
  /// Creates the pair; the port under test opens SlavePath().
  PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_path_ = ptsname(master_);
    slave_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  }
  ~PseudoTerminal() {
    if (slave_ >= 0) ::close(slave_);
    CloseMaster();
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool Ready() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& SlavePath() const { return slave_path_; }

  /// The line as the port left it (read through the test's own slave descriptor).
  termios Line() const {
    termios line{};
    tcgetattr(slave_, &line);
    return line;
  }

  /// The radio sends.
  void Send(const std::vector<std::uint8_t>& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  /// What the radio received: up to `count` bytes, waiting at most `timeout_ms` for each.
  std::vector<std::uint8_t> Receive(std::size_t count, int timeout_ms = 2000) const {
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[4096];
    pollfd p{master_, POLLIN, 0};
    while (bytes.size() < count && poll(&p, 1, timeout_ms) > 0) {
      const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
      if (n <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }

  /// Fills the line towards the radio (through the test's own slave descriptor) until it takes
  /// no more: the radio has stopped reading, and a port's write of one more byte must wait.
  /// Returns how many filler bytes ('.') the radio will read first once it reads again.
  std::size_t FillTowardsRadio() const {
    const std::vector<std::uint8_t> filler(1024, '.');
    std::size_t total = 0;
    // The pty moves its bytes on a moment after a write: only refusals for a while say full.
    for (int refused = 0; refused < 10;) {
      ssize_t n = ::write(slave_, filler.data(), filler.size());
      if (n <= 0) n = ::write(slave_, filler.data(), 1);
      if (n > 0) {
        total += static_cast<std::size_t>(n);
        refused = 0;
      } else {
        ++refused;
        ::usleep(10000);
      }
    }
    return total;
  }

  /// Bytes sent to the port that nobody has read yet (the slave's input queue, shared by both
  /// slave descriptors).
  int Unread() const {
    int count = 0;
    return ::ioctl(slave_, FIONREAD, &count) == 0 ? count : -1;
  }

  /// The radio goes away: the port sees a hang-up.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  std::string slave_path_;
  int master_ = -1;
  int slave_ = -1;
};

}  // namespace tvx::testing
