// A port that opens local devices with this platform's backend and serial servers' ports
// ("rfc2217://HOST:PORT") with the network backend: the program's one port, whatever it names.
// Every call goes to the backend the last Open chose (the local one before any Open).
#pragma once

#include <memory>

#include "serial/serial_port.h"

namespace tvx::serial {

/// `local` opens device names; `network` opens network port names.
std::unique_ptr<SerialPort> MakeRoutedSerialPort(std::unique_ptr<SerialPort> local,
                                                 std::unique_ptr<SerialPort> network);

}  // namespace tvx::serial
