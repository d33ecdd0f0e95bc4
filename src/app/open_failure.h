// What a sub-command says when its port would not open: the status line's code, what it means,
// the system's own words and what to do. Pure.
#pragma once

#include <string>
#include <string_view>

#include "serial/error_codes.h"

namespace tvx::app {

/// What an open's failure code means, e.g. 53 "no such port", 70 "the port is in use by
/// another program".
std::string_view OpenCodeText(serial::ErrorNumber code);

/// What an open's failure means: OpenCodeText, but "not a serial port" for an open's own 5 (what
/// is there is no serial port), as against a setting refused after it opened.
std::string_view OpenFailureMeaning(serial::ErrorNumber code, bool settings_refused);

/// E.g. "Cannot open /dev/ttyUSB0: code 75, the system refused access (Permission denied).
/// Join the dialout group ..." (`permission_hint` follows a code 75); for what is there but is
/// no serial port (an open's own 5) "Cannot open /dev/null: code 5, not a serial port (a device
/// that is not a terminal). ..."; for a device that opened but refused a setting "/dev/ptmx
/// opened, but refused its line settings (code 5: Invalid argument): it may not be a serial
/// port." `device` is printed as it is given (make it printable first); `system_text` may be
/// empty.
std::string PortOpenFailure(std::string_view device, serial::ErrorNumber code,
                            bool settings_refused, std::string_view system_text,
                            std::string_view permission_hint);

}  // namespace tvx::app
