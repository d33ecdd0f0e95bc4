// The Radio Setup Screen (menu key "2"): a plain terminal to the radio's own set-up interface at
// the LinkSettings baud rate. Typed keys go to the radio through the transmit ring and are not
// shown; what the radio sends is shown in rows 2 to 50, and Q or q returns to the menu.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "console/screen_model.h"
#include "job/run_context.h"
#include "terminal/session_log.h"
#include "terminal/terminal_link.h"

namespace tvx::terminal {

/// What the front end gives the screen beyond the run's context.
struct RadioSetupOptions {
  /// The name the device opened as `device` comes back under when it is plugged in again (its
  /// /dev/serial/by-id link, say); unset: `device` itself. Asked once, when the port first opens.
  std::function<std::string(const std::string& device)> stable_name;
  /// Where the record of the session goes (SessionLog's lines, each whole, as they are made);
  /// unset: no record. It must not fail nor write to the user's terminal.
  SessionLog::LineSink session_log;
  /// The time of day the record stamps; unset: the system's.
  std::function<SessionLog::Time()> now;
};

/// Draws the screen, opens the port and runs the terminal until Q or q (or a stop request), then
/// stops the writer, closes the port, throws away the keys typed behind the Q and returns (the
/// caller draws the menu again, which sees only keys pressed after that). Never fails: a port that
/// does not open and a line error are shown on row 51 and the screen stays usable. A dead line is
/// reported there too, and the screen says the radio is gone (on row 51 before column 65, and a
/// line in the text area), tries the same device again every Reconnect::kRecheckMs with the same
/// profile and says when it is back; Q or q leaves at once meanwhile, other keys are dropped. No
/// typed key is lost while the line is up: while the ring lacks room for a key, no key is taken
/// (the user's terminal holds them, in order) and the radio's bytes are still shown. Sleeps while
/// neither a byte nor a key is waiting, and while waiting for room (on the port's input, looking at
/// the ring every few milliseconds).
/// Every byte typed and received goes to `options.session_log` when set (typed ones as they are
/// queued for the radio); a line the radio leaves open (its prompt) is written once it has been
/// quiet a moment, and the rest when the screen closes.
void RunRadioSetup(job::RunContext& ctx, TerminalLink& link, const RadioSetupOptions& options = {});

/// Shows one byte from the radio at the cursor: 21 to 255 as the console's character (scrolling
/// rows 2 to 50 when it filled column 80 of row 50), 13 as a new row (scrolling on row 50),
/// every other byte from 0 to 20 not at all. No byte is acted on as a control code.
void ShowReceivedByte(console::ScreenModel& screen, std::uint8_t byte);

/// What a key sends to the radio: F1 the single byte 255, any other key its own key text (one
/// character, or 0 and the scan code of an extended key).
std::string KeyBytes(const std::string& key);

}  // namespace tvx::terminal
