// The console on a Windows console window: the screen model written as Unicode cells (the
// glyphs of the console's 8-bit character set) with the 16 console colours as cell attributes,
// keys read as console input records and turned into the console's key texts.
//
// Opening switches to a screen buffer of its own, sized 80 x 51 with a window to match where the
// screen has room for it (else a lower window that the console moves with the cursor), and puts
// the keyboard into raw mode (Ctrl-C is a key). The user's screen buffer, window size,
// colours, cursor and input and output modes come back when the console is destroyed. A closing
// window or a Ctrl-Break from outside is a stop request (see stop_request.h): the jobs end at
// their next safe point; a second one restores the console before the program ends.
#pragma once

#include <memory>
#include <string>

#include "console/console.h"

namespace tvx::console::win {

/// Whether standard input and standard output are both a console. The console needs both.
bool StdioIsConsole();

/// Takes over the console. Returns null and a one-line reason in `error` when it cannot be used
/// (nothing has been changed then). Only one may exist at a time.
std::unique_ptr<Console> OpenWindowsConsole(std::string& error);

}  // namespace tvx::console::win
