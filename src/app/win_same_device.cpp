// Whether two device names are one device, on Windows: "COM3", "com3" and "\\.\COM3" are.
#include <algorithm>
#include <cctype>
#include <string_view>

#include "app/cli_platform.h"
#include "serial/network_port_name.h"

namespace tvx::app {
namespace {

std::string Plain(std::string_view name) {
  constexpr std::string_view kPrefix = "\\\\.\\";
  if (name.starts_with(kPrefix)) name.remove_prefix(kPrefix.size());
  std::string text(name);
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

}  // namespace

bool SameDevice(const std::string& a, const std::string& b) {
  if (serial::IsNetworkPortName(a) || serial::IsNetworkPortName(b)) {
    return serial::SameNetworkPort(a, b);
  }
  return Plain(a) == Plain(b);
}

}  // namespace tvx::app
