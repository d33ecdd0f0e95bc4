// The Radio Setup Screen (menu key "2"): a plain terminal to the radio's own set-up interface at
// the LinkSettings baud rate. Typed keys go to the radio through the transmit ring and are not
// shown; what the radio sends is shown in rows 2 to 50, and Q or q returns to the menu.
#pragma once

#include <cstdint>
#include <string>

#include "console/screen_model.h"
#include "job/run_context.h"
#include "terminal/terminal_link.h"

namespace tvx::terminal {

/// Draws the screen, opens the port and runs the terminal until Q or q (or a stop request), then
/// stops the writer, closes the port, throws away the keys typed behind the Q and returns (the
/// caller draws the menu again, which sees only keys pressed after that). Never fails: a port that
/// does not open, a line error and a dead line are shown on row 51 and the screen stays usable. No
/// typed key is lost while the line is up: while the ring lacks room for a key, no key is taken
/// (the user's terminal holds them, in order) and the radio's bytes are still shown. Sleeps while
/// neither a byte nor a key is waiting, and while waiting for room (on the port's input, looking at
/// the ring every few milliseconds).
void RunRadioSetup(job::RunContext& ctx, TerminalLink& link);

/// Shows one byte from the radio at the cursor: 21 to 255 as the console's character (scrolling
/// rows 2 to 50 when it filled column 80 of row 50), 13 as a new row (scrolling on row 50),
/// every other byte from 0 to 20 not at all. No byte is acted on as a control code.
void ShowReceivedByte(console::ScreenModel& screen, std::uint8_t byte);

/// What a key sends to the radio: F1 the single byte 255, any other key its own key text (one
/// character, or 0 and the scan code of an extended key).
std::string KeyBytes(const std::string& key);

}  // namespace tvx::terminal
