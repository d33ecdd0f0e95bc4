// The serial devices of a Linux machine, from libudev: every tty with hardware behind it, its
// by-id links and, for a USB adapter, what the adapter says of itself. Whether a program holds
// one is read from the kernel's table of file locks, without opening the device (an open
// raises the modem lines, which some radios and boards take as a reset).
#include <libudev.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "app/serial_devices.h"
#include "serial/network_port_name.h"

namespace tvx::app {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kByIdFolder = "/dev/serial/by-id/";

// A file's identity as the lock table names it: the file system's device and the inode.
using FileId = std::tuple<unsigned, unsigned, unsigned long long>;

std::optional<FileId> IdOf(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileId{major(info.st_dev), minor(info.st_dev), info.st_ino};
}

// The files some process holds a lock on, from /proc/locks. A line reads
// "1: FLOCK  ADVISORY  WRITE 4711 00:05:1234 0 EOF" (the device's numbers in hexadecimal, the
// inode in decimal); a waiter for a lock is marked "->" and holds nothing.
std::set<FileId> LockedFiles() {
  std::set<FileId> locked;
  std::ifstream table("/proc/locks");
  for (std::string line; std::getline(table, line);) {
    std::istringstream words(line);
    std::string number, kind, mode, access, pid, id;
    words >> number >> kind;
    if (kind == "->") continue;
    words >> mode >> access >> pid >> id;
    unsigned dev_major = 0, dev_minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(id.c_str(), "%x:%x:%llu", &dev_major, &dev_minor, &inode) == 3) {
      locked.insert({dev_major, dev_minor, inode});
    }
  }
  return locked;
}

std::string Canonical(const std::string& path) {
  std::error_code error;
  const fs::path resolved = fs::canonical(path, error);
  return error ? path : resolved.string();
}

std::string Text(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

struct UdevDeleter {
  void operator()(udev* handle) const { udev_unref(handle); }
  void operator()(udev_enumerate* handle) const { udev_enumerate_unref(handle); }
  void operator()(udev_device* handle) const { udev_device_unref(handle); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

// The driver of the hardware behind a tty: the first one up its parents, past the serial
// core's own port and controller devices (bus serial-base), which every UART has.
std::string DriverOf(udev_device* tty) {
  for (udev_device* up = udev_device_get_parent(tty); up != nullptr;
       up = udev_device_get_parent(up)) {
    if (Text(udev_device_get_subsystem(up)) == "serial-base") continue;
    if (const std::string driver = Text(udev_device_get_driver(up)); !driver.empty()) {
      return driver;
    }
  }
  return {};
}

// Every tty of the "tty" class with a device behind it (a UART, a USB interface); not the
// virtual consoles and pseudo-terminals, nor a legacy port slot with no UART behind it.
void AddHardwareTtys(std::map<std::string, SerialDevice>& devices) {
  const UdevPtr<udev> context(udev_new());
  if (!context) return;
  const UdevPtr<udev_enumerate> scan(udev_enumerate_new(context.get()));
  if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 ||
      udev_enumerate_scan_devices(scan.get()) < 0) {
    return;
  }
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
    const UdevPtr<udev_device> tty(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!tty) continue;
    const std::string node = Text(udev_device_get_devnode(tty.get()));
    if (node.empty() || udev_device_get_parent(tty.get()) == nullptr) continue;
    // A serial core port whose type is 0 is a slot with no UART behind it.
    if (Text(udev_device_get_sysattr_value(tty.get(), "type")) == "0") continue;
    SerialDevice& device = devices[node];
    device.device = node;
    device.driver = DriverOf(tty.get());
    for (udev_list_entry* link = udev_device_get_devlinks_list_entry(tty.get()); link != nullptr;
         link = udev_list_entry_get_next(link)) {
      const std::string name = udev_list_entry_get_name(link);
      if (name.starts_with(kByIdFolder) && device.stable_name.empty()) device.stable_name = name;
    }
    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device");
    if (usb == nullptr) continue;
    const std::string vendor = Text(udev_device_get_sysattr_value(usb, "idVendor"));
    const std::string product = Text(udev_device_get_sysattr_value(usb, "idProduct"));
    if (!vendor.empty() && !product.empty()) device.usb_id = vendor + ":" + product;
    device.serial_number = Text(udev_device_get_sysattr_value(usb, "serial"));
    device.product = Text(udev_device_get_sysattr_value(usb, "product"));
    device.manufacturer = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
  }
}

// The by-id links udev made, for a system whose udev database libudev cannot read.
void AddByIdLinks(std::map<std::string, SerialDevice>& devices) {
  std::error_code error;
  for (fs::directory_iterator it(fs::path(kByIdFolder), error), end; !error && it != end;
       it.increment(error)) {
    const std::string device = Canonical(it->path().string());
    SerialDevice& entry = devices[device];
    entry.device = device;
    if (entry.stable_name.empty()) entry.stable_name = it->path().string();
  }
}

// The devices TORVANDRIX_COM<n> binds that exist; a binding by a link names it stably.
void AddBindings(std::map<std::string, SerialDevice>& devices) {
  std::error_code error;
  for (int n = 1; n <= 9; ++n) {
    const char* bound = std::getenv(("TORVANDRIX_COM" + std::to_string(n)).c_str());
    // A serial server's port is no device of this machine: `ports` cannot know it.
    if (bound == nullptr || bound[0] == '\0' || serial::IsNetworkPortName(bound) ||
        !fs::exists(bound, error)) {
      continue;
    }
    const std::string device = Canonical(bound);
    SerialDevice& entry = devices[device];
    entry.device = device;
    entry.com.push_back(n);
    if (entry.stable_name.empty() && device != bound) entry.stable_name = bound;
  }
}

}  // namespace

std::vector<SerialDevice> ListSerialDevices() {
  std::map<std::string, SerialDevice> devices;  // by device path
  AddHardwareTtys(devices);
  AddByIdLinks(devices);
  AddBindings(devices);
  const std::set<FileId> locked = LockedFiles();
  std::vector<SerialDevice> list;
  for (auto& [path, device] : devices) {
    if (device.driver.empty() && path.starts_with("/dev/pts/")) device.driver = "pseudo-terminal";
    const std::optional<FileId> id = IdOf(path);
    device.in_use = id && locked.contains(*id);
    list.push_back(std::move(device));
  }
  return list;
}

std::string StableDeviceName(const std::string& device) {
  // A serial server's port comes back under its address.
  if (serial::IsNetworkPortName(device)) return device;
  std::error_code error;
  // A link (by-id, or one a binding names) already follows the device wherever it comes back.
  if (fs::is_symlink(device, error)) return device;
  const std::string target = Canonical(device);
  for (fs::directory_iterator it(fs::path(kByIdFolder), error), end; !error && it != end;
       it.increment(error)) {
    if (Canonical(it->path().string()) == target) return it->path().string();
  }
  return device;
}

}  // namespace tvx::app
