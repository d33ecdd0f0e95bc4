// The POSIX serial backend (termios) and the POSIX priority.
//
// Port names: "Com<N>" (N = 1..9) is the device in the environment variable TORVANDRIX_COM<N>
// when that is set and not empty (e.g. TORVANDRIX_COM1=/dev/ttyUSB0), else /dev/ttyS<N-1>.
// The port is opened exclusively: TIOCEXCL against other non-root programs and an flock on the
// device against everyone (root included); both are released by Close. Opening puts the line
// into raw mode (no echo, no line editing, no XON/XOFF, CLOCAL|CREAD) and the time-outs to 0,
// and asks the driver for low-latency mode where it offers one (given back on close).
// On a pseudo-terminal, which has no modem lines, DTR requests succeed without effect.
#pragma once

#include <memory>
#include <string>

#include "serial/posix_priority.h"
#include "serial/serial_port.h"

namespace tvx::serial {

std::unique_ptr<SerialPort> MakePosixSerialPort();

/// The device "Com<number>" (1..9) opens on this machine, as described above.
std::string DevicePathFor(int number);

}  // namespace tvx::serial
