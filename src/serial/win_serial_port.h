// The Windows serial backend (Win32 communications functions).
//
// Open takes the device's name (e.g. \\.\COM12, or COM3); an empty one is a bad name (64). The port
// is opened without sharing (another program holding it gives 70, a missing port 53) and for
// overlapped transfers, so that the activity wait can sleep on the port's receive event and the
// keyboard at once; reads and writes still block until done, as the time-outs say. Opening
// sets the time-outs to 0 and leaves the line as the driver has it until the profile is applied.
#pragma once

#include <memory>
#include <string>

#include "serial/serial_port.h"
#include "serial/win_priority.h"

namespace tvx::serial {

std::unique_ptr<SerialPort> MakeWinSerialPort();

/// The device "Com<number>" (1..9) stands for when nothing binds it: \\.\COM<number>.
std::string DefaultDevicePath(int number);

}  // namespace tvx::serial
