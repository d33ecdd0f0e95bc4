// The Windows serial backend (Win32 communications functions).
//
// Port names: "Com<N>" (N = 1..9) is the device in the environment variable TORVANDRIX_COM<N>
// when that is set and not empty (e.g. TORVANDRIX_COM1=\\.\COM12), else \\.\COM<N>. The port is
// opened without sharing (another program holding it gives 70, a missing port 53) and for
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

/// The device "Com<number>" (1..9) opens on this machine, as described above.
std::string DevicePathFor(int number);

}  // namespace tvx::serial
