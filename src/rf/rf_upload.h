// Menu key "4": the RF upload. The image goes out as the download file (a header frame and one
// data frame per record) through the local radio on the port to the radios of its network: each
// data frame until the asked number of copies came back intact, pass after pass with a six-second
// wait for the network in between. Returns with the port closed; the caller draws the menu again.
#pragma once

#include <functional>

#include "job/run_context.h"
#include "rf/outcome.h"

namespace tvx::rf {

/// Asks the operator's questions on the screen, then runs the broadcast on the LinkSettings
/// port with the screen operator. `on_end` (may be empty) runs once with the outcome when it is
/// known: before the end prompt, or as the job leaves at a question or a failed open. Returns
/// how the job ended.
Outcome RunRfUpload(job::RunContext& ctx, const std::function<void(const Outcome&)>& on_end = {});

}  // namespace tvx::rf
