// The one place that knows which backends this build runs on.
#pragma once

#include <memory>
#include <string>

#include "console/console.h"
#include "serial/priority.h"
#include "serial/serial_port.h"

namespace tvx::app {

struct Platform {
  std::unique_ptr<console::Console> console;  ///< owns the user's terminal until destroyed
  std::unique_ptr<serial::SerialPort> port;
  std::unique_ptr<serial::Priority> priority;
};

/// Sets up the terminal and the serial backend. On failure returns a Platform with no console
/// and puts a one-line reason into `error` (nothing has been drawn then). `error_is_usage` is
/// set when the reason is that standard input or output is not a terminal.
Platform MakePlatform(std::string& error, bool& error_is_usage);

/// The serial backend alone, for the scripted commands: no console (they bring their own).
Platform MakePortPlatform();

}  // namespace tvx::app
