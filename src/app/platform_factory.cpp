// The one factory that picks the backends of this platform.
#include "app/platform.h"

#ifdef _WIN32
#include "console/win_console.h"
#include "serial/win_priority.h"
#include "serial/win_serial_port.h"
#else
#include "console/posix_console.h"
#include "serial/posix_priority.h"
#include "serial/posix_serial_port.h"
#endif
#include "serial/network_serial_port.h"
#include "serial/routed_serial_port.h"
#include "serial/tcp_link.h"

namespace tvx::app {
namespace {

// The program's one port: this platform's backend for devices, the network one for serial
// servers' ports ("rfc2217://HOST:PORT"), chosen by the name each Open gets.
std::unique_ptr<serial::SerialPort> MakePort(std::unique_ptr<serial::SerialPort> local) {
  return serial::MakeRoutedSerialPort(std::move(local),
                                      serial::MakeNetworkSerialPort(serial::MakeTcpLink()));
}

}  // namespace

Platform MakePlatform(std::string& error, bool& error_is_usage) {
  Platform platform;
  error_is_usage = false;
#ifdef _WIN32
  if (!console::win::StdioIsConsole()) {
    error = "standard input and output must be a console (run it in a console window)";
    error_is_usage = true;
    return platform;
  }
  platform.console = console::win::OpenWindowsConsole(error);
  if (!platform.console) return platform;
  platform.port = MakePort(serial::MakeWinSerialPort());
  platform.priority = std::make_unique<serial::WinPriority>();
#else
  if (!console::posix::StdioIsTerminal()) {
    error = "standard input and output must be a terminal (run it in a terminal window)";
    error_is_usage = true;
    return platform;
  }
  platform.console = console::posix::OpenTerminalConsole(error);
  if (!platform.console) return platform;
  platform.port = MakePort(serial::MakePosixSerialPort());
  platform.priority = std::make_unique<serial::PosixPriority>();
#endif
  return platform;
}

Platform MakePortPlatform() {
  Platform platform;
#ifdef _WIN32
  platform.port = MakePort(serial::MakeWinSerialPort());
  platform.priority = std::make_unique<serial::WinPriority>();
#else
  platform.port = MakePort(serial::MakePosixSerialPort());
  platform.priority = std::make_unique<serial::PosixPriority>();
#endif
  return platform;
}

}  // namespace tvx::app
