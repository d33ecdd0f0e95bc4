// The serial devices of a Windows machine: the present devices of the Ports class from the
// SetupAPI (their COM name, device instance, USB vendor, product and serial number, and the
// driver's description and maker), the ports the drivers announced in the registry (which
// also holds ports without a Plug and Play device, as virtual port drivers and wine make), and
// the ports TORVANDRIX_COM<n> binds. Narrow texts are in the ANSI code page.
#include <windows.h>
// After windows.h, which it needs.
#include <setupapi.h>

#include <map>

#include "app/serial_devices.h"
#include "serial/network_port_name.h"

namespace tvx::app {

namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";
// The device setup class "Ports" (COM and LPT ports).
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string Environment(const std::string& variable) {
  char value[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA(variable.c_str(), value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(value, length) : std::string();
}

// Whether a DOS device name (COM3, or \\.\COM3) is defined on this machine.
bool DeviceExists(const std::string& device) {
  std::string name = device;
  if (name.starts_with(kDevicePrefix)) name.erase(0, std::string(kDevicePrefix).size());
  char target[1024];
  return !name.empty() && QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

// Devices in natural order: \\.\COM2 before \\.\COM10.
struct NaturalOrder {
  static std::pair<std::string, unsigned long> Split(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    const std::string number = name.substr(digits, 9);
    return {name.substr(0, digits), number.empty() ? 0UL : std::stoul(number)};
  }
  bool operator()(const std::string& a, const std::string& b) const {
    const auto split_a = Split(a);
    const auto split_b = Split(b);
    return split_a != split_b ? split_a < split_b : a < b;
  }
};
using DeviceMap = std::map<std::string, SerialDevice, NaturalOrder>;

std::string RegistryText(HKEY key, const char* name) {
  char value[256];
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  value[size] = '\0';
  return std::string(value);
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
  char value[512];
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(
          set, &info, property, &type, reinterpret_cast<BYTE*>(value), sizeof value - 1, nullptr) ||
      type != REG_SZ) {
    return {};
  }
  value[sizeof value - 1] = '\0';
  return std::string(value);
}

// The four hex digits after `key` ("VID_") in a device instance, upper case as Windows writes
// them, lower case as USB ids are read; empty when absent.
std::string HexAfter(const std::string& instance, const std::string& key) {
  const std::size_t at = instance.find(key);
  if (at == std::string::npos || at + key.size() + 4 > instance.size()) return {};
  std::string digits = instance.substr(at + key.size(), 4);
  for (char& c : digits) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return {};
  }
  return digits;
}

// A USB device instance is USB\VID_0403&PID_6001\A10K3ZQ2: the last part is the adapter's
// serial number, unless Windows made one up (it then holds '&', as in 6&2C3A0B&0&1).
void AddUsbFacts(const std::string& instance, SerialDevice& device) {
  const std::string vendor = HexAfter(instance, "VID_");
  const std::string product = HexAfter(instance, "PID_");
  if (vendor.empty() || product.empty()) return;
  device.usb_id = vendor + ":" + product;
  const std::size_t last = instance.rfind('\\');
  if (last != std::string::npos && instance.find('&', last) == std::string::npos) {
    device.serial_number = instance.substr(last + 1);
  }
}

void AddPlugAndPlayPorts(DeviceMap& devices) {
  HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); ++index) {
    HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    const std::string port = RegistryText(key, "PortName");
    RegCloseKey(key);
    if (!port.starts_with("COM")) continue;  // a printer port
    SerialDevice& device = devices[kDevicePrefix + port];
    device.device = kDevicePrefix + port;
    char instance[512];
    if (SetupDiGetDeviceInstanceIdA(set, &info, instance, sizeof instance, nullptr)) {
      device.stable_name = instance;
      AddUsbFacts(device.stable_name, device);
    }
    device.product = DeviceProperty(set, info, SPDRP_DEVICEDESC);
    device.manufacturer = DeviceProperty(set, info, SPDRP_MFG);
  }
  SetupDiDestroyDeviceInfoList(set);
}

// The serial ports the drivers have announced: each value of HARDWARE\DEVICEMAP\SERIALCOMM names
// the kernel device (e.g. \Device\Serial0) and holds the port's DOS name (e.g. COM1).
void AddAnnouncedPorts(DeviceMap& devices) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return;
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD name_length = sizeof name;
    BYTE data[256];
    DWORD data_length = sizeof data - 1;
    DWORD type = 0;
    const LONG result =
        RegEnumValueA(key, index, name, &name_length, nullptr, &type, data, &data_length);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    if (type != REG_SZ || data_length == 0) continue;
    data[data_length] = '\0';
    const std::string port(reinterpret_cast<const char*>(data));
    if (port.empty()) continue;
    SerialDevice& entry = devices[kDevicePrefix + port];
    entry.device = kDevicePrefix + port;
    if (entry.driver.empty()) entry.driver = std::string(name, name_length);
  }
  RegCloseKey(key);
}

void AddBindings(DeviceMap& devices) {
  for (int n = 1; n <= 9; ++n) {
    const std::string bound = Environment("TORVANDRIX_COM" + std::to_string(n));
    // A serial server's port is no device of this machine: `ports` cannot know it.
    if (bound.empty() || serial::IsNetworkPortName(bound) || !DeviceExists(bound)) continue;
    const std::string device = bound.starts_with(kDevicePrefix) ? bound : kDevicePrefix + bound;
    SerialDevice& entry = devices[device];
    entry.device = device;
    entry.com.push_back(n);
  }
}

// Windows keeps no table of who holds a port: a port another program has open refuses to open
// for want of access (serial ports are never shared). A free port is opened and closed at once.
bool InUse(const std::string& device) {
  HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED;
  CloseHandle(port);
  return false;
}

}  // namespace

std::vector<SerialDevice> ListSerialDevices() {
  DeviceMap devices;
  AddPlugAndPlayPorts(devices);
  AddAnnouncedPorts(devices);
  AddBindings(devices);
  std::vector<SerialDevice> list;
  for (auto& [device, entry] : devices) {
    // Opening a Bluetooth serial port dials the remote device, which can take many seconds:
    // such a port is not probed.
    if (!entry.stable_name.starts_with("BTHENUM\\")) entry.in_use = InUse(device);
    list.push_back(std::move(entry));
  }
  return list;
}

// A COM port keeps its name when its adapter is plugged in again.
std::string StableDeviceName(const std::string& device) {
  return device;
}

}  // namespace tvx::app
