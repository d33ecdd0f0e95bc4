#include "app/open_failure.h"

namespace tvx::app {
namespace {

// The open's codes that have no name in serial/error_codes.h.
constexpr serial::ErrorNumber kErrAccessRefused = 75;  // the system refused (permissions)
constexpr serial::ErrorNumber kErrPathNotFound = 76;
constexpr serial::ErrorNumber kErrTooManyFiles = 67;

}  // namespace

std::string_view OpenCodeText(serial::ErrorNumber code) {
  switch (code) {
    case serial::kErrNoSuchPort:
      return "no such port";
    case serial::kErrAccessDenied:
      return "the port is in use by another program";
    case kErrAccessRefused:
      return "the system refused access";
    case serial::kErrPortAlreadyOpen:
      return "the port is already open";
    case serial::kErrBadPortName:
      return "not a port name";
    case serial::kErrDeviceControl:
      return "a line setting was refused";
    case kErrPathNotFound:
      return "no such path";
    case serial::kErrOutOfMemory:
      return "out of memory";
    case kErrTooManyFiles:
      return "too many files open";
    default:
      break;
  }
  return "the port could not be opened";
}

std::string_view OpenFailureMeaning(serial::ErrorNumber code, bool settings_refused) {
  if (code == serial::kErrDeviceControl && !settings_refused) return "not a serial port";
  return OpenCodeText(code);
}

std::string PortOpenFailure(std::string_view device, serial::ErrorNumber code,
                            bool settings_refused, std::string_view system_text,
                            std::string_view permission_hint) {
  if (settings_refused) {
    return std::string(device) + " opened, but refused its line settings (code " +
           std::to_string(code) + (system_text.empty() ? "" : ": " + std::string(system_text)) +
           "): it may not be a serial port.";
  }
  const bool not_a_port = code == serial::kErrDeviceControl;  // a refused setting is above
  std::string line = "Cannot open " + std::string(device) + ": code " + std::to_string(code) +
                     ", " + std::string(OpenFailureMeaning(code, false));
  if (!system_text.empty()) line += " (" + std::string(system_text) + ")";
  line += ".";
  if (code == kErrAccessRefused && !permission_hint.empty()) {
    line += " " + std::string(permission_hint);
  } else if (code == serial::kErrAccessDenied) {
    line += " Close the program that holds it, or choose another port.";
  } else if (code == serial::kErrNoSuchPort || not_a_port) {
    line += " 'torvandrix-upload ports' lists the serial devices.";
  }
  return line;
}

}  // namespace tvx::app
