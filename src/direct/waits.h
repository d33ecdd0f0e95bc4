// The polling waits of the direct upload: the receive-queue count first, then the keyboard,
// sleeping in job::Idle between two checks instead of spinning.
#pragma once

#include <cstddef>

#include "job/run_context.h"

namespace tvx::direct {

enum class WaitEvent {
  kBytes,     ///< at least the asked count is in the receive queue
  kKey,       ///< fewer bytes, and a key is waiting (not taken)
  kLineDead,  ///< the line is dead; 59 has been reported (the ErrorReport ran)
  kStop,      ///< fewer bytes, and a stop was requested
};

/// Checks, in this order and until one holds: `count` or more bytes waiting; a dead line (also
/// one a send noticed before the wait); a stop request; a key waiting. No time-out. A line error
/// met by the count query counts 0 bytes and stays latched.
WaitEvent AwaitBytesOrKey(job::RunContext& ctx, std::size_t count);

}  // namespace tvx::direct
