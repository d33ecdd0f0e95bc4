// How operating-system failures (errno values) become the program's error numbers.
#pragma once

#include <string>

#include "serial/error_codes.h"

namespace tvx::serial {

/// The error number for a failed open or other port request that left `errno_value`.
/// The whole mapping is the table in posix_errors.cpp.
ErrorNumber ErrorFromErrno(int errno_value);

/// The system's own text for `errno_value` ("Input/output error"); safe on any thread.
std::string ErrnoText(int errno_value);

}  // namespace tvx::serial
