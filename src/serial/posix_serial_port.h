// The POSIX serial backend (termios) and the POSIX priority.
//
// Open takes the device's path (e.g. /dev/ttyUSB0); an empty one is a bad name (64).
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

/// The device "Com<number>" (1..9) stands for when nothing binds it: /dev/ttyS<number - 1>.
std::string DefaultDevicePath(int number);

}  // namespace tvx::serial
