// The serial devices of the machine as `ports` lists them and as a sub-command without --port
// chooses among them. The platform side finds them (posix_serial_devices.cpp with libudev,
// win_serial_devices.cpp with the SetupAPI); the rest here is portable.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace tvx::app {

/// One serial device of the machine. Texts are empty where the system does not know them.
struct SerialDevice {
  std::string device;         ///< the device path, e.g. /dev/ttyUSB0 or \\.\COM3
  std::string stable_name;    ///< a name that survives re-plugging: /dev/serial/by-id/..., the
                              ///< Windows device instance, or the link a ComN binding names
  std::vector<int> com;       ///< the N of each TORVANDRIX_COM<N> that binds it, ascending
  std::string usb_id;         ///< USB vendor:product, four hex digits each, e.g. 0403:6001
  std::string serial_number;  ///< the USB serial number
  std::string product;        ///< the USB product text, e.g. "FT232R USB UART"
  std::string manufacturer;   ///< the USB maker's text
  std::string driver;         ///< what else is known: the driver, or "pseudo-terminal"
  bool in_use = false;        ///< another program holds it now (see ListSerialDevices)
};

/// The serial devices of this machine, sorted by device: the ports bound by TORVANDRIX_COM<n>
/// (never a serial server's port: it cannot be known), the devices with a stable name, and the
/// other serial devices the system has hardware for.
/// "In use" on Linux: a process holds a lock (flock or a record lock) on the device, as this
/// program does while it has a port open; the device itself is not opened. On Windows: the
/// port cannot be opened for want of access, as when another program has it open (a free port
/// is opened and closed at once; a Bluetooth port, whose open dials, is not tried). Blocks for
/// as long as the system takes to answer (milliseconds); never fails (a source the system
/// cannot read gives no devices).
std::vector<SerialDevice> ListSerialDevices();

/// The name `device` comes back under when its adapter is unplugged and plugged in again: on
/// Linux its /dev/serial/by-id link (found now, while the device is there), `device` itself
/// when it is a link already or has none; on Windows `device` (a COM port keeps its name); a
/// serial server's port ("rfc2217://HOST:PORT") is itself.
/// Blocks for a directory listing at most; never fails.
std::string StableDeviceName(const std::string& device);

/// Where the devices come from: ListSerialDevices, or a test's list.
using DeviceSource = std::function<std::vector<SerialDevice>()>;

/// Whether the device is a USB serial adapter (the system knows its USB vendor and product).
inline bool IsUsbAdapter(const SerialDevice& device) {
  return !device.usb_id.empty();
}

/// The devices as `ports` prints them: a header, then one line a device in aligned columns
/// (DEVICE, PORT, STABLE NAME, USB ID, SERIAL, IN USE, PRODUCT), "-" for what is not known.
/// Every line ends in a line end.
std::string PortsTable(const std::vector<SerialDevice>& devices);

/// The devices as `ports --json` prints them: one JSON array of objects with the keys device,
/// stable_name, com (an array of numbers), usb_id, serial_number, product, manufacturer,
/// driver (each a string, or null when not known) and in_use (true or false); one line.
std::string PortsJson(const std::vector<SerialDevice>& devices);

/// The `ports` sub-command: the table, or the JSON array with --json, on `out`. Returns 0, or
/// 1 when `out` cannot be written.
int ListPorts(const CommandLine& command, std::FILE* out, const DeviceSource& source);

/// The port of a sub-command given neither --port nor a binding of Com1 (`com1_bound`: by
/// TORVANDRIX_COM1 or a --com binding): the one USB serial adapter `source` gives, said on `err`,
/// is put into command.port, and nothing is returned. With none or several, it says so and lists
/// the devices on `err`, and returns the exit status (kExitUsage). With --port or a bound Com1 it
/// leaves the command as it is, and `source` is not asked.
std::optional<int> ChooseDefaultPort(CommandLine& command, bool com1_bound,
                                     const DeviceSource& source, std::FILE* err);

}  // namespace tvx::app
