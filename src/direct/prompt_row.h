// The operator prompts of the direct upload on row 30: how they are asked and blanked, and the
// texts of the word exchange's prompts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "job/run_context.h"

namespace tvx::direct {

inline constexpr int kPromptRow = 30;

/// Pads `line` with blanks to the next 14-column print zone, as the console's zone step does
/// for a line that starts in column 1: 14 - (length mod 14) blanks, a full 14 at a zone start.
void ZoneStep(std::string& line);

/// Lowers the priority class to normal, beeps if asked, writes `text` at row 30, column 1 in
/// yellow on blue (ending the line if asked), waits without a time-out for a key, then blanks
/// row 30 (BlankPromptRow). Returns true when the key was Escape or a stop was requested (the
/// caller gives up either way).
bool AskOnPromptRow(job::RunContext& ctx, std::string_view text, bool beep, bool end_line);

/// Writes blanks over row 30 in white on black and ends the line, so nothing of a prompt or a
/// read-back line is left there.
void BlankPromptRow(job::RunContext& ctx);

// The prompt texts of the word exchange.
/// A key was pressed while the address echo was awaited.
std::string AddressWaitPrompt();
/// The echo differs from the address sent; `got` is the echo read first byte high.
std::string AddressEchoPrompt(std::uint16_t sent, std::uint16_t got);
/// The data frame was not written whole.
std::string DataTransmitPrompt();
/// A key was pressed while the data reply was awaited.
std::string DataWaitPrompt(std::uint16_t address);
/// The data reply differs from the one expected for the masked byte `sent_d1`.
std::string BadDataPrompt(std::uint8_t sent_d1, std::uint8_t got, std::uint16_t address);

}  // namespace tvx::direct
