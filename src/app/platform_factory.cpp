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

namespace tvx::app {

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
  platform.port = serial::MakeWinSerialPort();
  platform.priority = std::make_unique<serial::WinPriority>();
#else
  if (!console::posix::StdioIsTerminal()) {
    error = "standard input and output must be a terminal (run it in a terminal window)";
    error_is_usage = true;
    return platform;
  }
  platform.console = console::posix::OpenTerminalConsole(error);
  if (!platform.console) return platform;
  platform.port = serial::MakePosixSerialPort();
  platform.priority = std::make_unique<serial::PosixPriority>();
#endif
  return platform;
}

Platform MakePortPlatform() {
  Platform platform;
#ifdef _WIN32
  platform.port = serial::MakeWinSerialPort();
  platform.priority = std::make_unique<serial::WinPriority>();
#else
  platform.port = serial::MakePosixSerialPort();
  platform.priority = std::make_unique<serial::PosixPriority>();
#endif
  return platform;
}

}  // namespace tvx::app
