#include "console/console.h"

#include "console/stop_request.h"

namespace tvx::console {
namespace {

constexpr std::size_t kMaxLineLength = 128;

// Blanks the last echoed character of a line being typed and puts the cursor on it.
void EraseLastEcho(ScreenModel& screen) {
  int row = screen.CursorRow();
  int column = screen.CursorColumn();
  if (!screen.ScrollPending()) {
    // The cursor stands after the character; step back, across a row end if need be.
    if (column > 1) {
      --column;
    } else if (row > 1) {
      --row;
      column = kColumns;
    } else {
      return;
    }
  }
  screen.Locate(row, column);
  screen.PrintText(" ");
  screen.Locate(row, column);
}

}  // namespace

bool Console::StopRequested() const {
  return ProcessStopRequest().Requested();
}

std::string WaitForKey(Console& console) {
  for (;;) {
    if (console.StopRequested()) return {};
    std::string key = console.ReadKey();
    if (!key.empty()) return key;
    console.AwaitKey(-1);
  }
}

std::string ReadLine(Console& console) {
  ScreenModel& screen = console.Screen();
  std::string line;
  for (;;) {
    const std::string key = WaitForKey(console);
    if (key.empty()) return line;   // a stop request
    if (key.size() != 1) continue;  // extended keys
    const auto c = static_cast<unsigned char>(key[0]);
    if (c == '\r') {
      screen.NewLine();
      return line;
    }
    if (c == '\b') {
      if (!line.empty()) {
        line.pop_back();
        EraseLastEcho(screen);
      }
    } else if (c >= 32 && line.size() < kMaxLineLength) {
      line += static_cast<char>(c);
      screen.PrintText(key);
    }
  }
}

}  // namespace tvx::console
