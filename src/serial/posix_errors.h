// How operating-system failures (errno values) become the program's error numbers.
#pragma once

#include "serial/error_codes.h"

namespace tvx::serial {

/// The error number for a failed open or other port request that left `errno_value`.
/// The whole mapping is the table in posix_errors.cpp.
ErrorNumber ErrorFromErrno(int errno_value);

}  // namespace tvx::serial
