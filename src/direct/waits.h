// The polling waits of the direct upload: the receive-queue count first, then the keyboard,
// sleeping in job::Idle between two checks instead of spinning.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "job/run_context.h"

namespace tvx::direct {

inline constexpr std::string_view kEscapeKey = "\x1b";

inline bool IsEscape(const std::string& key) {
  return key == kEscapeKey;
}

enum class WaitEvent {
  kBytes,  ///< at least the asked count is in the receive queue
  kKey,    ///< fewer bytes, and a key is waiting (not taken)
};

/// Checks, in this order and until one holds: `count` or more bytes waiting; a key waiting.
/// No time-out. A line error met by the count query counts 0 bytes and stays latched.
WaitEvent AwaitBytesOrKey(job::RunContext& ctx, std::size_t count);

}  // namespace tvx::direct
