// What a direct upload is to do: which device, which of the radio's ports, which speed, which
// access code. The menu's questions produce it; the sub-command's options fill it in.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "direct/protocol.h"

namespace tvx::direct {

struct Plan {
  /// The name the port goes by for a person and the log ("Com3" in the menu, the device itself
  /// for a sub-command).
  std::string port_name;
  /// What is opened (a device path).
  std::string device;
  /// The radio's diagnostic port (woken with "U" before anything else) rather than its data
  /// port.
  bool diag_port = false;
  /// 115200 bit/s for the transfer rather than 19200.
  bool high_speed = false;
  /// The bytes the radio's programming mode requires after "4".
  std::array<std::uint8_t, 4> access_code = kAccessCode;
};

}  // namespace tvx::direct
