#include "serial/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#include <sys/sysmacros.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "serial/deadline.h"
#include "serial/failure_note.h"
#include "serial/port_name.h"
#include "serial/posix_errors.h"
#include "serial/posix_low_latency.h"
#include "serial/posix_termios.h"

namespace tvx::serial {
namespace {

constexpr short kHangUpEvents = POLLHUP | POLLERR | POLLNVAL;
// What poll reports for a line whose other side hung up or whose device went away.
constexpr short kDeadLineEvents = POLLHUP | POLLERR;
// What is kept for failures the system gives no errno for.
constexpr const char* kHungUp = "the other side hung up";
constexpr const char* kWriteTimedOut = "the line took nothing more within the write time-out";

// The errors of a read, write or query on a line that is gone: a pseudo-terminal whose master
// closed (EIO), a USB adapter pulled out (EIO, ENODEV, ENXIO).
bool IsDeadLineErrno(int error) {
  return error == EIO || error == ENXIO || error == ENODEV;
}

bool IsPseudoTerminal(int fd) {
#ifdef __linux__
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned int device_major = major(info.st_rdev);
  return device_major >= 136 && device_major <= 143;  // pty slaves
#else
  const char* name = ttyname(fd);
  return name != nullptr && std::string_view(name).starts_with("/dev/pts/");
#endif
}

// What a path that is there is, when that rules out a serial port: a port is a character
// device (and, once open, a terminal). Null for a character device.
const char* NotADeviceKind(const struct stat& info) {
  if (S_ISCHR(info.st_mode)) return nullptr;
  if (S_ISREG(info.st_mode)) return "a regular file";
  if (S_ISDIR(info.st_mode)) return "a directory";
  if (S_ISFIFO(info.st_mode)) return "a FIFO";
  if (S_ISSOCK(info.st_mode)) return "a socket";
  if (S_ISBLK(info.st_mode)) return "a block device";
  return "not a device";
}

struct LineErrorCounts {
  long long overrun = 0;
  long long framing = 0;
  long long overflow = 0;
  bool operator==(const LineErrorCounts&) const = default;
};

// The driver's error counters; false where the driver keeps none (pseudo-terminals).
bool ReadLineErrorCounts(int fd, LineErrorCounts& counts) {
#if defined(__linux__) && defined(TIOCGICOUNT)
  serial_icounter_struct icount{};
  if (ioctl(fd, TIOCGICOUNT, &icount) != 0) return false;
  counts.overrun = icount.overrun;
  counts.framing = icount.frame;
  counts.overflow = icount.buf_overrun;
  return true;
#else
  (void)fd;
  (void)counts;
  return false;
#endif
}

class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort() = default;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;
  ~PosixSerialPort() override { Close(); }

  ErrorNumber Open(std::string_view name) override;
  std::string OpenFailureText() const override { return open_failure_; }
  std::string FailureText() const override { return failure_.Text(); }
  bool IsOpen() const override { return fd_ >= 0; }
  ErrorNumber Close() override;

  ErrorNumber Apply(LineSetting setting, std::uint32_t value) override;
  ErrorNumber GetTimeouts(Timeouts& out) override;
  ErrorNumber SetTimeouts(const Timeouts& timeouts) override;
  ErrorNumber GetControlState(ControlState& out) override;
  ErrorNumber SetControlState(const ControlState& state) override;

  WaitingCount BytesWaiting() override;
  std::size_t Read(std::span<std::uint8_t> into) override;
  std::size_t Write(std::span<const std::uint8_t> bytes) override;
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override;
  bool LineDead() const override { return dead_; }

 private:
  // Writes `line` now (no drain, no flush) and confirms it by reading it back.
  ErrorNumber WriteLine(const termios& line);
  ErrorNumber SetDtr(bool on);
  // A refused setting: the system's words for `error` kept, 5 returned.
  ErrorNumber Refused(int error);
  // A line found dead: the words kept, the flag set.
  void Died(std::string words);

  // Open's failure in the system's words, kept from the moment it failed.
  ErrorNumber Failed(int error, const char* what = nullptr);
  // Open's refusal of what is there but is no serial port (5), `kind` saying what it is.
  ErrorNumber NotASerialPort(const char* kind);

  int fd_ = -1;
  std::string open_failure_;
  FailureNote failure_;            // any other operation's, until Close
  LowLatencyState low_latency_{};  // given back on close
  bool pseudo_terminal_ = false;
  bool dtr_on_ = true;  // what was asked last; a pseudo-terminal has no line to read it from
  Timeouts timeouts_{};
  bool has_error_counts_ = false;
  LineErrorCounts reported_errors_{};
  // A hang-up or a vanished device was seen since Open. The one value the terminal's writer
  // thread (Write) and the main thread (BytesWaiting, Read, LineDead) both change; fd_ and
  // timeouts_, which Write reads, change only in Open, Close and SetTimeouts.
  std::atomic<bool> dead_{false};
};

ErrorNumber PosixSerialPort::Open(std::string_view name) {
  if (fd_ >= 0) return kErrPortAlreadyOpen;
  open_failure_.clear();
  if (name.empty() || name.find('\0') != std::string_view::npos) {
    open_failure_ = "no device named";
    return kErrBadPortName;
  }
  const std::string path(name);

  // What is plainly no serial port is said to be none before it is opened: a file the user may
  // not write would otherwise read as a permission problem.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    if (const char* kind = NotADeviceKind(info)) return NotASerialPort(kind);
  }
  // O_NONBLOCK keeps the open from waiting for a carrier (or a FIFO's other end, should one
  // take the name's place in the meantime); reads and writes wait in poll.
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == EISDIR ? NotASerialPort("a directory") : Failed(errno);
  if (fstat(fd, &info) == 0) {
    if (const char* kind = NotADeviceKind(info)) {
      ::close(fd);
      return NotASerialPort(kind);
    }
  }

  const auto fail = [this, fd](int error) {
    ioctl(fd, TIOCNXCL);
    ::close(fd);
    // A device without terminal settings (/dev/null, /dev/urandom) is no serial port.
    if (error == ENOTTY || error == EINVAL)
      return NotASerialPort("a device that is not a terminal");
    return Failed(error);
  };
  // TIOCEXCL does not stop root, the lock does; a file system without locks leaves TIOCEXCL.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
    ::close(fd);
    open_failure_ = "the device is locked";
    return kErrAccessDenied;
  }
  ioctl(fd, TIOCEXCL);

  termios line{};
  if (tcgetattr(fd, &line) != 0) return fail(errno);
  MakeRawLine(line);
  if (tcsetattr(fd, TCSANOW, &line) != 0) return fail(errno);

  fd_ = fd;
  low_latency_ = EnableLowLatency(fd);
  pseudo_terminal_ = IsPseudoTerminal(fd);
  dtr_on_ = true;
  timeouts_ = Timeouts{};
  has_error_counts_ = ReadLineErrorCounts(fd, reported_errors_);
  dead_ = false;
  return kNoError;
}

ErrorNumber PosixSerialPort::NotASerialPort(const char* kind) {
  open_failure_ = kind;
  return kErrDeviceControl;
}

ErrorNumber PosixSerialPort::Failed(int error, const char* what) {
  open_failure_ = what != nullptr ? what : std::strerror(error);
  return ErrorFromErrno(error);
}

ErrorNumber PosixSerialPort::Close() {
  if (fd_ < 0) return kNoError;
  // A pseudo-terminal keeps TIOCEXCL while any other descriptor of it is open.
  RestoreLowLatency(fd_, low_latency_);
  low_latency_ = {};
  ioctl(fd_, TIOCNXCL);
  flock(fd_, LOCK_UN);
  ::close(fd_);  // the descriptor is gone even when close reports an error
  fd_ = -1;
  dead_ = false;
  failure_.Clear();
  return kNoError;
}

ErrorNumber PosixSerialPort::Refused(int error) {
  failure_.Keep(ErrnoText(error));
  return kErrDeviceControl;
}

void PosixSerialPort::Died(std::string words) {
  failure_.Keep(std::move(words));
  dead_ = true;
}

ErrorNumber PosixSerialPort::WriteLine(const termios& line) {
  if (tcsetattr(fd_, TCSANOW, &line) != 0) return Refused(errno);
  termios now{};
  if (tcgetattr(fd_, &now) != 0) return Refused(errno);
  if (!SameLine(now, line)) {
    failure_.Keep("the driver kept a setting other than the one asked for");
    return kErrDeviceControl;
  }
  return kNoError;
}

ErrorNumber PosixSerialPort::SetDtr(bool on) {
  int bits = TIOCM_DTR;
  if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) != 0) {
    // A pseudo-terminal has no modem lines: the request is accepted without effect.
    if (!(pseudo_terminal_ && (errno == ENOTTY || errno == EINVAL))) return Refused(errno);
  }
  dtr_on_ = on;
  return kNoError;
}

ErrorNumber PosixSerialPort::Apply(LineSetting setting, std::uint32_t value) {
  if (fd_ < 0) return kErrPortNotOpen;
  if (setting == LineSetting::kDtrLine) return SetDtr(value != 0);
  termios line{};
  if (tcgetattr(fd_, &line) != 0) return Refused(errno);
  if (!ApplyToLine(line, setting, value)) return Refused(EINVAL);
  return WriteLine(line);
}

ErrorNumber PosixSerialPort::GetTimeouts(Timeouts& out) {
  if (fd_ < 0) return kErrPortNotOpen;
  out = timeouts_;
  return kNoError;
}

ErrorNumber PosixSerialPort::SetTimeouts(const Timeouts& timeouts) {
  if (fd_ < 0) return kErrPortNotOpen;
  timeouts_ = timeouts;
  return kNoError;
}

ErrorNumber PosixSerialPort::GetControlState(ControlState& out) {
  if (fd_ < 0) return kErrPortNotOpen;
  termios line{};
  if (tcgetattr(fd_, &line) != 0) return Refused(errno);
  ReadControlState(line, out);
  int bits = 0;
  out.dtr_on = ioctl(fd_, TIOCMGET, &bits) == 0 ? (bits & TIOCM_DTR) != 0 : dtr_on_;
  return kNoError;
}

ErrorNumber PosixSerialPort::SetControlState(const ControlState& state) {
  if (fd_ < 0) return kErrPortNotOpen;
  termios line{};
  if (tcgetattr(fd_, &line) != 0) return Refused(errno);
  if (!WriteControlState(line, state)) return Refused(EINVAL);
  const ErrorNumber line_result = WriteLine(line);
  const ErrorNumber dtr_result = SetDtr(state.dtr_on);
  return line_result != kNoError ? line_result : dtr_result;
}

WaitingCount PosixSerialPort::BytesWaiting() {
  if (fd_ < 0) return {0, kErrPortNotOpen};
  bool line_error = false;

  if (has_error_counts_) {
    LineErrorCounts counts;
    if (ReadLineErrorCounts(fd_, counts)) {
      // Each new overrun, framing error or overflow is reported once, as the driver counts it.
      if (!(counts == reported_errors_)) {
        line_error = true;
        failure_.Keep("the driver counted an overrun, a framing error or an overflow");
      }
      reported_errors_ = counts;
    } else if (IsDeadLineErrno(errno)) {
      Died(ErrnoText(errno));
    }
  }

  int waiting = 0;
  if (ioctl(fd_, FIONREAD, &waiting) != 0) {
    if (IsDeadLineErrno(errno)) {
      Died(ErrnoText(errno));
    } else {
      line_error = true;
      failure_.Keep(ErrnoText(errno));
    }
    waiting = 0;
  }
  // Bytes that arrived before the line died are still handed out. A hang-up only matters once
  // nothing is left to read; asking then keeps the common case (an answer waiting) to one call.
  if (waiting > 0 && !line_error) return {static_cast<std::size_t>(waiting), kNoError};
  if (!dead_ && !line_error) {
    pollfd probe{fd_, 0, 0};
    if (poll(&probe, 1, 0) > 0) {
      if ((probe.revents & kDeadLineEvents) != 0) {
        Died(kHungUp);
      } else if ((probe.revents & POLLNVAL) != 0) {
        line_error = true;
        failure_.Keep(ErrnoText(EBADF));
      }
    }
  }
  if (dead_) return {0, kErrLineDead};
  if (line_error) return {0, kErrLineError};
  return {0, kNoError};
}

std::size_t PosixSerialPort::Read(std::span<std::uint8_t> into) {
  if (fd_ < 0 || into.empty()) return 0;
  const Timeouts t = timeouts_;
  ReadTimer timer(t.read_interval, t.read_total_per_byte, t.read_total_constant, into.size());
  std::size_t got = 0;
  while (got < into.size()) {
    const ssize_t n = ::read(fd_, into.data() + got, into.size() - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      if (timer.EndsWithBytes()) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      if (n == 0) {
        Died(kHungUp);  // end of file
      } else if (IsDeadLineErrno(errno)) {
        Died(ErrnoText(errno));
      } else {
        failure_.Keep(ErrnoText(errno));
      }
      break;
    }
    if (timer.AtOnce()) break;

    const int wait = timer.MsLeft();
    if (wait == 0) break;
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, wait);
    if (ready < 0 && errno != EINTR) {
      failure_.Keep(ErrnoText(errno));
      break;
    }
    if (ready > 0 && (p.revents & POLLIN) == 0 && (p.revents & kHangUpEvents) != 0) {
      if ((p.revents & kDeadLineEvents) != 0) Died(kHungUp);
      break;
    }
  }
  return got;
}

std::size_t PosixSerialPort::Write(std::span<const std::uint8_t> bytes) {
  if (fd_ < 0) return 0;
  const Deadline deadline = Deadline::ForTransfer(timeouts_.write_total_per_byte,
                                                  timeouts_.write_total_constant, bytes.size());
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      if (n < 0 && IsDeadLineErrno(errno)) {
        Died(ErrnoText(errno));
      } else {
        failure_.Keep(n < 0 ? ErrnoText(errno) : kWriteTimedOut);
      }
      break;
    }

    const int wait = deadline.MsLeft();
    if (wait == 0) {
      failure_.Keep(kWriteTimedOut);
      break;
    }
    pollfd p{fd_, POLLOUT, 0};
    const int ready = poll(&p, 1, wait);
    if (ready < 0 && errno != EINTR) {
      failure_.Keep(ErrnoText(errno));
      break;
    }
    if (ready > 0 && (p.revents & POLLOUT) == 0 && (p.revents & kHangUpEvents) != 0) {
      if ((p.revents & kDeadLineEvents) != 0) Died(kHungUp);
      break;
    }
  }
  return sent;
}

void PosixSerialPort::AwaitActivity(console::NativeWaitHandle also, int timeout_ms) {
  pollfd fds[2];
  nfds_t count = 0;
  if (fd_ >= 0) fds[count++] = pollfd{fd_, POLLIN, 0};
  if (also != console::kNoWaitHandle) fds[count++] = pollfd{static_cast<int>(also), POLLIN, 0};

  Deadline deadline = Deadline::InMs(timeout_ms);
  for (;;) {
    const int ready = poll(fds, count, deadline.MsLeft());
    // A signal (the terminal resized, the program continued after a stop) ends the wait, so
    // the caller's loop shows the screen again at once instead of at the next byte or key.
    if (ready < 0) {
      if (errno != EINTR) failure_.Keep(ErrnoText(errno));
      return;
    }
    if (ready == 0) return;
    // A hung-up descriptor (readable too: it reads end-of-file) would report itself at once on
    // every call: watch the others for a short while, so the caller's loop re-checks at a calm
    // pace instead of spinning.
    bool ready_to_read = false;
    for (nfds_t i = 0; i < count; ++i) {
      if ((fds[i].revents & kHangUpEvents) != 0) {
        fds[i].fd = -1;  // poll skips negative descriptors
      } else if ((fds[i].revents & POLLIN) != 0) {
        ready_to_read = true;
      }
    }
    if (ready_to_read) return;
    deadline = deadline.Earlier(Deadline::InMs(kHungUpWaitMs));
  }
}

}  // namespace

std::string DefaultDevicePath(int number) {
  return "/dev/ttyS" + std::to_string(number - 1);
}

std::unique_ptr<SerialPort> MakePosixSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

}  // namespace tvx::serial
