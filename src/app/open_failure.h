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

/// E.g. "Cannot open /dev/ttyUSB0: code 75, the system refused access (Permission denied).
/// Join the dialout group ..." (`permission_hint` follows a code 75), or for a device that
/// opened but refused a setting "/dev/zero opened, but refused its line settings (code 5: Invalid
/// argument): it may not be a serial port." `device` is printed as it is given (make it
/// printable first); `system_text` may be empty.
std::string PortOpenFailure(std::string_view device, serial::ErrorNumber code,
                            bool settings_refused, std::string_view system_text,
                            std::string_view permission_hint);

}  // namespace tvx::app
