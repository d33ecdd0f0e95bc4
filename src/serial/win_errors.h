// How Windows error numbers (GetLastError) become the program's error numbers.
#pragma once

#include <cstdint>
#include <string>

#include "serial/error_codes.h"

namespace tvx::serial {

/// The error number for a failed open or other port request that left `windows_error`. Numbers
/// 0 to 40 go through the fixed table in win_errors.cpp; anything above 40 counts as 40.
ErrorNumber ErrorFromWindowsError(std::uint32_t windows_error);

/// The system's own text for `windows_error` (FormatMessage), without its trailing full stop.
std::string WindowsErrorMessage(std::uint32_t windows_error);

}  // namespace tvx::serial
