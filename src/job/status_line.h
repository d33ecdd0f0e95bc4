// The left part of the StatusLine on row 51, drawn by the screens that own the row (the main
// menu and the Radio Setup Screen); its right part from column 65 belongs to the ErrorReport.
#pragma once

#include <string_view>

#include "job/run_context.h"

namespace tvx::job {

/// Row 51, yellow on blue across all 80 columns: "  ", the port name, the next print zone,
/// "Baudrate = " and the baud rate as a plain number, then `suffix`. Leaves the cursor after
/// the text, in yellow on blue.
void DrawStatusLine(RunContext& ctx, std::string_view suffix = {});

}  // namespace tvx::job
