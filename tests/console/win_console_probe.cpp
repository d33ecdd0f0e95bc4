// Drives the Windows console for the tmux test under wine: shows a row of glyphs and a status
// row, then writes every key it reads as hexadecimal bytes, one key per row, until a plain "q".
#include <windows.h>

#include <cstdio>
#include <string>

#include "console/format.h"
#include "console/win_console.h"

int main() {
  using namespace tvx::console;
  std::string error;
  auto console = win::OpenWindowsConsole(error);
  if (!console) {
    std::fprintf(stderr, "win_console_probe: %s\n", error.c_str());
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
  screen.PrintText("Z");
  screen.SetColours(kBrightWhite, kBlack, 0);
  screen.Locate(3, 1);
  for (;;) {
    // Waits the way the jobs' polling loops do: on the key handle, after asking for a key.
    console->Present(true);
    if (!console->KeyWaiting()) {
      WaitForSingleObject(reinterpret_cast<HANDLE>(console->KeyWaitHandle()), INFINITE);
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
