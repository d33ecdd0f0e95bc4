// The interactive set-up session in the user's own terminal: what the radio sends is written
// as the Radio Setup Screen shows it (radio_text.h: glyphs as UTF-8, a carriage return as a new
// line, every other control byte dropped), so no byte of the radio acts on the user's terminal;
// keys go to the radio as on the screen (Enter 13, Backspace 8, Esc 27, F1 255, other extended
// keys 0 and the scan code) and are not shown; Q or q leaves and is never sent.
#pragma once

#include <functional>

#include "console/plain_terminal.h"
#include "terminal/reconnect.h"
#include "terminal/session_log.h"
#include "terminal/setup_link.h"

namespace tvx::terminal {

struct PlainSessionParts {
  SetupLink& link;  ///< open
  console::PlainTerminal& terminal;
  SessionLog* session_log = nullptr;  ///< null: none
  std::function<bool()> stop;         ///< the stop request, looked at every kStopCheckMs
  /// After a dead line: waits for the device to come back and opens it again with this
  /// (Reconnect::OpenAgain). Null: the session stays without a line until Q.
  Reconnect* replug = nullptr;
  Reconnect::OpenAgain open_again;
};

enum class PlainSessionEnd { kQuit, kStopped };

/// Runs until Q or q (the keys typed behind it are dropped) or a stop request. A dead line is
/// said once on the terminal; with `replug` the link is closed, the device looked for until it
/// opens again (keys typed meanwhile are dropped), and its return said; Q leaves at once
/// throughout. Sleeps while neither a byte nor a key is waiting.
PlainSessionEnd RunPlainSession(const PlainSessionParts& parts);

}  // namespace tvx::terminal
