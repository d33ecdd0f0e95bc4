// Menu key "1": the direct upload of the firmware image into a radio wired to the port, from
// the set-up questions through the word-by-word transfer to the checksum verdict, read-back,
// program time, the outcome line on row 32 and "Hit any key to return to main menu". Codes the
// job latched are reported before it ends. Returns with the port closed; the caller draws the
// menu again.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "direct/protocol.h"
#include "direct/result.h"
#include "job/run_context.h"

namespace tvx::direct {

/// The questions on screen give the plan, the engine runs it with the screen operator. `on_end`
/// (may be empty) is called once with the result as soon as the outcome is known: before the
/// closing key is waited for. The radio's programming mode is opened with `access_code`.
Result RunDirectUpload(job::RunContext& ctx, const std::function<void(const Result&)>& on_end = {},
                       const std::array<std::uint8_t, 4>& access_code = kAccessCode);

}  // namespace tvx::direct
