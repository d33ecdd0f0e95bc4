// The command-line forms' operating-system side on POSIX.
#include <fcntl.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/cli_platform.h"
#include "serial/port_name.h"
#include "serial/posix_serial_port.h"

namespace tvx::app {
namespace fs = std::filesystem;

namespace {

// Takes the log's lock, so that the look at its last byte and the append are one step among
// uploaders. Waits at most about a second: a lock held for ever must not hang an upload, and
// without it the append is still one write.
void LockBriefly(int fd) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) return;
    usleep(10'000);
  }
}

// Whether a file size limit forbids a file of `size` bytes (writing past it would fail part
// way and leave half a line).
bool PastSizeLimit(off_t size) {
  rlimit limit{};
  return getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
         static_cast<rlim_t>(size) > limit.rlim_cur;
}

// What a path that is no regular file is, for a person.
const char* WhatItIs(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a folder";
  if (S_ISFIFO(mode)) return "it is a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device";
  if (S_ISSOCK(mode)) return "it is a socket";
  return kNotRegularFile;
}

}  // namespace

void PrepareProcess() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor, which is `fd`: the ones below it are open by now. Inherited
    // on purpose, as a standard descriptor is.
    const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

HelpWording PlatformHelpWording() {
  return {"terminal window", "/dev/ttyUSB0", "/dev/ttyS(N-1)",
          "$XDG_STATE_HOME/torvandrix-upload/uploads.jsonl\n"
          "(~/.local/state/torvandrix-upload/uploads.jsonl without XDG_STATE_HOME)",
          "$XDG_CONFIG_HOME/torvandrix-upload/config (~/.config/torvandrix-upload/config "
          "without XDG_CONFIG_HOME)"};
}

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

int StderrColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

std::string_view PortPermissionHint() {
#ifdef __linux__
  return "Join the dialout group (sudo usermod -aG dialout $USER, then log in again), or run as "
         "a user who may open the port.";
#else
  return "Run as a user who may open the port.";
#endif
}

std::array<std::string, 9> PortBindings(const std::vector<std::pair<int, std::string>>& bindings) {
  std::array<std::string, 9> devices;
  for (int n = 1; n <= 9; ++n) {
    const std::string variable = "TORVANDRIX_COM" + std::to_string(n);
    const char* bound = std::getenv(variable.c_str());
    devices[n - 1] = bound != nullptr && bound[0] != '\0' ? bound : serial::DefaultDevicePath(n);
  }
  for (const auto& [number, device] : bindings) {
    if (number >= 1 && number <= 9 && !device.empty()) devices[number - 1] = device;
  }
  return devices;
}

bool PortBound(int n) {
  const char* bound = std::getenv(("TORVANDRIX_COM" + std::to_string(n)).c_str());
  return bound != nullptr && bound[0] != '\0';
}

std::string DefaultLogPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  fs::path base;
  if (state != nullptr && state[0] == '/') {
    base = state;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    base = fs::path(home) / ".local" / "state";
  } else {
    return {};
  }
  return (base / "torvandrix-upload" / "uploads.jsonl").string();
}

std::string DefaultConfigPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  fs::path base;
  if (config != nullptr && config[0] == '/') {
    base = config;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    base = fs::path(home) / ".config";
  } else {
    return {};
  }
  return (base / "torvandrix-upload" / "config").string();
}

std::string ReadSettingsFile(const std::string& path, std::string& text, bool& absent) {
  text.clear();
  // Looked at before opening: opening a device can do something (a serial port raises its
  // lines), and a FIFO without a writer would wait.
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    absent = errno == ENOENT || errno == ENOTDIR;
    return std::strerror(errno);
  }
  if (!S_ISREG(info.st_mode)) return WhatItIs(info.st_mode);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::strerror(errno);
  std::string error;
  if (fstat(fd, &info) != 0) {
    error = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    error = WhatItIs(info.st_mode);  // replaced since the look above
  } else {
    // One byte more than the limit tells a file that grew past it since fstat.
    text.resize(kSettingsFileLimit + 1);
    std::size_t size = 0;
    ssize_t got = 0;
    while (size < text.size() && (got = read(fd, text.data() + size, text.size() - size)) != 0) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      size += static_cast<std::size_t>(got);
    }
    if (got < 0)
      error = std::strerror(errno);
    else if (size > kSettingsFileLimit)
      error = "it is larger than 1 MiB";
    text.resize(error.empty() ? size : 0);
  }
  close(fd);
  return error;
}

void ForbidCoreDumps() {
  rlimit limit{};
  if (getrlimit(RLIMIT_CORE, &limit) == 0) {
    limit.rlim_cur = 0;
    setrlimit(RLIMIT_CORE, &limit);
  }
#ifdef __linux__
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

std::string AppendLine(const std::string& path, std::string_view line, bool make_directories) {
  if (make_directories) {
    std::error_code error;
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty()) fs::create_directories(folder, error);
    if (error) {
      return "cannot make " + folder.string() + ": " + error.message();
    }
  }
  // Looked at before opening: opening a device can do something (a serial port raises its
  // lines), and a FIFO without a reader would wait.
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return kNotRegularFile;
  // Read access for the look at the last byte; a file we may only write to is still appended to.
  constexpr int kFlags = O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = open(path.c_str(), O_RDWR | kFlags, 0644);
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_WRONLY | kFlags, 0644);
  if (fd < 0) return errno == ENXIO ? kNotRegularFile : std::strerror(errno);  // a new FIFO
  std::string error;
  LockBriefly(fd);
  if (fstat(fd, &info) != 0) {
    error = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    error = kNotRegularFile;  // replaced since the look above
  } else {
    char last = '\n';
    // The last line was left without its end: ours starts a line of its own.
    const bool open_line =
        info.st_size > 0 && pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n';
    static char kLineEnd[] = "\n";
    iovec parts[2] = {{kLineEnd, open_line ? 1u : 0u},
                      {const_cast<char*>(line.data()), line.size()}};
    const std::size_t size = parts[0].iov_len + parts[1].iov_len;
    if (PastSizeLimit(info.st_size + static_cast<off_t>(size))) {
      error = std::strerror(EFBIG);
    } else {
      // One write in append mode: the kernel places the whole line at the end in one step.
      const ssize_t written = writev(fd, parts, 2);
      if (written < 0) {
        error = std::strerror(errno);
      } else if (static_cast<std::size_t>(written) != size) {
        error = "short write";
        // Half a line would spoil the next; under the lock the end is still ours to take back.
        if (ftruncate(fd, info.st_size) != 0) error += " (left in the file)";
      }
    }
  }
  if (close(fd) != 0 && error.empty()) error = std::strerror(errno);
  return error;
}

}  // namespace tvx::app
