// Drives the terminal console for the tmux smoke test: shows a row of glyphs, then writes every
// key it reads as hexadecimal bytes, one key per row, until a plain "q" or a stop signal (then it
// ends with 128 + the signal, the terminal given back first).
#include <poll.h>

#include <cstdio>
#include <string>

#include "console/format.h"
#include "console/posix_console.h"
#include "console/stop_request.h"

int main() {
  using namespace tvx::console;
  std::string error;
  auto console = posix::TerminalConsole::Open(error);
  if (!console) {
    std::fprintf(stderr, "terminal_probe: %s\n", error.c_str());
    return 2;
  }
  ScreenModel& screen = console->Screen();
  screen.PrintText("probe ready");
  screen.Locate(2, 1);
  screen.PrintText(std::string("\x01\xB0\xC4\x82\x7F\x00\x1B\xFF|", 9));
  screen.Locate(51, 1);
  screen.SetColours(kYellow, kBlue, 80);
  screen.PrintText("status");
  screen.Locate(51, 80);
  screen.PrintText("Z");  // the bottom right cell, the hardest one for a terminal
  screen.SetColours(kBrightWhite, kBlack, 0);
  screen.Locate(3, 1);
  for (;;) {
    if (console->StopRequested()) {
      console.reset();  // the terminal back before the status
      return StopExitStatus(ProcessStopRequest().Signal());
    }
    // Waits the way the jobs' polling loops do: on the key handle, after asking for a key.
    console->Present(true);
    if (!console->KeyWaiting()) {
      pollfd wait{static_cast<int>(console->KeyWaitHandle()), POLLIN, 0};
      poll(&wait, 1, -1);
      continue;
    }
    const std::string key = console->ReadKey();
    if (key == "q") break;
    std::string text = "key";
    for (char c : key) {
      text += ' ';
      text += Hex(static_cast<unsigned char>(c));
    }
    screen.PrintText(text);
    screen.NewLine();
  }
  return 0;
}
