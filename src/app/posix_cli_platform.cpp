// The command-line forms' operating-system side on POSIX.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/cli_platform.h"
#include "serial/port_name.h"
#include "serial/posix_serial_port.h"

namespace tvx::app {
namespace fs = std::filesystem;

namespace {

constexpr const char* kByIdFolder = "/dev/serial/by-id";
constexpr const char* kTtyClassFolder = "/sys/class/tty";

std::string ReadFirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string Canonical(const std::string& path) {
  std::error_code error;
  const fs::path resolved = fs::canonical(path, error);
  return error ? path : resolved.string();
}

// What the kernel knows of a tty: the USB product and maker, else the driver's name. Empty for
// a device the kernel has no hardware behind (a serial8250 slot without a UART).
std::string DescribeTty(const std::string& name) {
  const fs::path device = fs::path(kTtyClassFolder) / name / "device";
  std::error_code error;
  if (!fs::exists(device, error)) return {};
  // A USB serial adapter: the interface's parent holds the product strings.
  for (fs::path up = fs::canonical(device, error);
       !error && up.has_parent_path() && up != up.root_path(); up = up.parent_path()) {
    const std::string product = ReadFirstLine(up / "product");
    if (!product.empty()) {
      const std::string maker = ReadFirstLine(up / "manufacturer");
      return maker.empty() ? product : product + " (" + maker + ")";
    }
  }
  const std::string driver = fs::canonical(device / "driver", error).filename().string();
  if (error) return {};
  if (driver == "serial8250" && ReadFirstLine(fs::path(kTtyClassFolder) / name / "type") == "0") {
    return {};  // a legacy port slot with no UART behind it
  }
  return driver;
}

}  // namespace

HelpWording PlatformHelpWording() {
  return {"terminal window", "/dev/ttyUSB0", "/dev/ttyS(N-1)",
          "$XDG_STATE_HOME/torvandrix-upload/uploads.jsonl\n"
          "(~/.local/state/torvandrix-upload/uploads.jsonl without XDG_STATE_HOME)"};
}

bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

void BindComPort(int number, const std::string& device) {
  const std::string variable = "TORVANDRIX_COM" + std::to_string(number);
  setenv(variable.c_str(), device.c_str(), 1);
}

std::string DeviceOfPort(std::string_view port_name) {
  const int number = serial::ComPortNumber(port_name);
  return number == 0 ? std::string(port_name) : serial::DevicePathFor(number);
}

std::vector<SerialDevice> ListSerialDevices() {
  std::map<std::string, SerialDevice> devices;  // by resolved device path
  std::error_code error;
  for (int n = 1; n <= 9; ++n) {
    const std::string variable = "TORVANDRIX_COM" + std::to_string(n);
    const char* bound = std::getenv(variable.c_str());
    if (bound == nullptr || bound[0] == '\0' || !fs::exists(bound, error)) continue;
    const std::string device = Canonical(bound);
    SerialDevice& entry = devices[device];
    entry.device = device;
    const std::string binding = "Com" + std::to_string(n) + "=" + bound;
    entry.stable_name += entry.stable_name.empty() ? binding : " " + binding;
  }
  for (fs::directory_iterator it(kByIdFolder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string device = Canonical(it->path().string());
    SerialDevice& entry = devices[device];
    entry.device = device;
    const std::string name = it->path().string();
    entry.stable_name += entry.stable_name.empty() ? name : " " + name;
  }
  for (fs::directory_iterator it(kTtyClassFolder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    const std::string description = DescribeTty(name);
    const std::string device = "/dev/" + name;
    if (description.empty() && !devices.contains(device)) continue;
    SerialDevice& entry = devices[device];
    entry.device = device;
    entry.description = description;
  }
  for (auto& [device, entry] : devices) {
    if (entry.description.empty() && device.starts_with("/dev/pts/")) {
      entry.description = "pseudo-terminal";
    }
  }
  std::vector<SerialDevice> list;
  for (auto& [device, entry] : devices) list.push_back(std::move(entry));
  return list;
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

std::string AppendLine(const std::string& path, std::string_view line, bool make_directories) {
  if (make_directories) {
    std::error_code error;
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty()) fs::create_directories(folder, error);
  }
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return std::strerror(errno);
  // One write in append mode: the kernel places the whole line at the end in one step.
  const ssize_t written = write(fd, line.data(), line.size());
  const int write_error = errno;
  const bool closed = close(fd) == 0;
  if (written < 0) return std::strerror(write_error);
  if (static_cast<std::size_t>(written) != line.size()) return "short write";
  if (!closed) return std::strerror(errno);
  return {};
}

}  // namespace tvx::app
