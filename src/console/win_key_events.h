// The Windows console's key events turned into the console's key texts (see console.h): one
// character for an ordinary key, a 0 byte and the PC scan code for an extended key. Shared by
// the full screen (win_console) and the plain terminal (win_plain_terminal).
#pragma once

#include <windows.h>

#include <deque>
#include <string>

namespace tvx::console::win {

/// The key text of one key event, "" for none (a key released, a modifier alone, a character
/// outside the console's 8-bit set). Ctrl-C is "\x03" when the console hands it over as a key.
std::string KeyText(const KEY_EVENT_RECORD& key);

/// Takes every input record waiting on `input` without blocking and appends the key texts of
/// its key events to `keys` (a repeated key once per repeat). Other records are dropped: one left
/// in the queue would keep the handle signalled and every wait on it would return at once.
void ReadConsoleKeys(HANDLE input, std::deque<std::string>& keys);

}  // namespace tvx::console::win
