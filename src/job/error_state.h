// ErrorCode, ErrorCount and the ErrorReport: how failures of port and system operations become
// visible. Operations never stop the program; they leave a code and the caller reports it.
#pragma once

#include <cstdint>

#include "console/console.h"
#include "serial/error_codes.h"

namespace tvx::job {

struct ErrorState {
  serial::ErrorNumber code = 0;  ///< last failure's number; 0 = none. Position field is always 0.
  std::int32_t count = 0;        ///< reports made during the run; never reset

  /// Keeps `number` when it is a failure (a success leaves an earlier code in place).
  void Latch(serial::ErrorNumber number) {
    if (number != 0) code = number;
  }
};

/// Counts the error, shows count, code and position (0) with the picture "### " each at row 51,
/// column 65 in yellow on blue, puts cursor and normal colours back, clears the code and beeps.
/// Callers run it only when errors.code is not 0.
void ErrorReport(ErrorState& errors, console::Console& console);

}  // namespace tvx::job
