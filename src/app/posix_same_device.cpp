// Whether two device names are one device, on POSIX.
#include <sys/stat.h>

#include <cstdlib>
#include <memory>

#include "app/cli_platform.h"
#include "serial/network_port_name.h"

namespace tvx::app {
namespace {

std::string RealPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr),
                                                         &std::free);
  return real ? std::string(real.get()) : path;
}

}  // namespace

bool SameDevice(const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (serial::IsNetworkPortName(a) || serial::IsNetworkPortName(b)) {
    return serial::SameNetworkPort(a, b);
  }
  struct stat first {};
  struct stat second {};
  if (stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0) {
    if (first.st_dev == second.st_dev && first.st_ino == second.st_ino) return true;
    // Two nodes of one device (a copy made with mknod): the same port.
    return (S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode) && first.st_rdev == second.st_rdev);
  }
  return RealPath(a) == RealPath(b);
}

}  // namespace tvx::app
