// Menu key "1": the direct upload of the firmware image into a radio wired to the port, from
// the set-up questions through the word-by-word transfer to the checksum verdict, read-back,
// program time, the outcome line on row 32 and "Hit any key to return to main menu". Codes the
// job latched are reported before it ends. Returns with the port closed; the
// caller draws the menu again.
#pragma once

#include "job/run_context.h"

namespace tvx::direct {

void RunDirectUpload(job::RunContext& ctx);

}  // namespace tvx::direct
