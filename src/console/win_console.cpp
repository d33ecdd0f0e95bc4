#include "console/win_console.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <vector>

#include "console/cp437.h"
#include "console/stop_request.h"
#include "console/win_key_events.h"

namespace tvx::console::win {
namespace {

// Shortest time between two draws that were not forced (about 30 per second).
constexpr auto kFrameInterval = std::chrono::milliseconds(33);

// What the console looked like before it was taken over, put back on every way out.
struct SavedConsole {
  HANDLE input = INVALID_HANDLE_VALUE;
  HANDLE user_output = INVALID_HANDLE_VALUE;  // the user's screen buffer
  HANDLE own_output = INVALID_HANDLE_VALUE;   // ours, while active
  DWORD input_mode = 0;
  DWORD output_mode = 0;
  CONSOLE_SCREEN_BUFFER_INFO buffer{};
  CONSOLE_CURSOR_INFO cursor{};
  std::atomic<bool> armed{false};
};
SavedConsole g_saved;
std::atomic<bool> g_console_open{false};

void RestoreConsole() {
  if (!g_saved.armed.exchange(false)) return;
  const CONSOLE_SCREEN_BUFFER_INFO& b = g_saved.buffer;
  if (g_saved.own_output != g_saved.user_output) {
    // Our buffer is blanked in the user's colours before the user's comes back: a console on a
    // terminal (wine's) does not draw the user's buffer again, and would leave ours on view.
    const DWORD cells = static_cast<DWORD>(kColumns) * kRows;
    DWORD done = 0;
    FillConsoleOutputCharacterW(g_saved.own_output, L' ', cells, COORD{0, 0}, &done);
    FillConsoleOutputAttribute(g_saved.own_output, b.wAttributes, cells, COORD{0, 0}, &done);
    SetConsoleCursorPosition(g_saved.own_output, COORD{0, 0});
  }
  SetConsoleActiveScreenBuffer(g_saved.user_output);
  // The window and buffer go back to the user's size: grow the buffer to hold the window,
  // set the window, then the buffer exactly.
  CONSOLE_SCREEN_BUFFER_INFO now{};
  if (GetConsoleScreenBufferInfo(g_saved.user_output, &now)) {
    const COORD grown{std::max(now.dwSize.X, b.dwSize.X), std::max(now.dwSize.Y, b.dwSize.Y)};
    SetConsoleScreenBufferSize(g_saved.user_output, grown);
    SetConsoleWindowInfo(g_saved.user_output, TRUE, &b.srWindow);
    SetConsoleScreenBufferSize(g_saved.user_output, b.dwSize);
  }
  SetConsoleTextAttribute(g_saved.user_output, b.wAttributes);
  SetConsoleCursorPosition(g_saved.user_output, b.dwCursorPosition);
  SetConsoleCursorInfo(g_saved.user_output, &g_saved.cursor);
  SetConsoleMode(g_saved.user_output, g_saved.output_mode);
  SetConsoleMode(g_saved.input, g_saved.input_mode);
}

// Makes the buffer exactly `size` and the window as much of it as the screen can show: first
// the buffer at least as large, then the window, then the buffer exactly (a buffer may never be
// smaller than its window). Where the screen cannot show 51 rows the window is as high as it
// can be; the console then moves it to keep the cursor in view, and the user scrolls it to see
// the rest of the buffer. Nothing here fails the console: every call's failure leaves a usable
// buffer of at least `size`.
void SetSize(HANDLE output, COORD size) {
  SHORT width = size.X;
  SHORT height = size.Y;
  const COORD largest = GetLargestConsoleWindowSize(output);  // 0 x 0 when unknown
  if (largest.X > 0 && largest.Y > 0) {
    width = std::min(width, largest.X);
    height = std::min(height, largest.Y);
  }
  CONSOLE_SCREEN_BUFFER_INFO now{};
  if (GetConsoleScreenBufferInfo(output, &now)) {
    SetConsoleScreenBufferSize(
        output, COORD{std::max(now.dwSize.X, size.X), std::max(now.dwSize.Y, size.Y)});
  }
  const SMALL_RECT window{0, 0, static_cast<SHORT>(width - 1), static_cast<SHORT>(height - 1)};
  SetConsoleWindowInfo(output, TRUE, &window);
  SetConsoleScreenBufferSize(output, size);
}

class WindowsConsole final : public Console {
 public:
  WindowsConsole() = default;
  ~WindowsConsole() override {
    RestoreConsole();
    SetStopHooks(nullptr, nullptr);
    if (g_saved.own_output != INVALID_HANDLE_VALUE && g_saved.own_output != g_saved.user_output) {
      CloseHandle(g_saved.own_output);
    }
    g_saved.own_output = INVALID_HANDLE_VALUE;
    g_console_open = false;
  }
  WindowsConsole(const WindowsConsole&) = delete;
  WindowsConsole& operator=(const WindowsConsole&) = delete;

  bool Start(std::string& error);

  std::string ReadKey() override {
    Pump();
    if (keys_.empty()) return {};
    std::string key = std::move(keys_.front());
    keys_.pop_front();
    return key;
  }
  bool KeyWaiting() override {
    Pump();
    return !keys_.empty();
  }
  void Beep() override { MessageBeep(0xFFFFFFFF); }
  bool Present(bool force) override;
  void AwaitKey(int timeout_ms) override;
  NativeWaitHandle KeyWaitHandle() const override {
    return reinterpret_cast<NativeWaitHandle>(g_saved.input);
  }
  // The decoded keys and the console's input records not yet read.
  void DiscardTypeAhead() override {
    keys_.clear();
    FlushConsoleInputBuffer(g_saved.input);
  }

 private:
  void Pump();
  void Draw();

  HANDLE output_ = INVALID_HANDLE_VALUE;
  std::deque<std::string> keys_;
  std::array<WCHAR, 256> glyphs_{};
  std::array<Cell, kColumns * kRows> drawn_{};
  bool drawn_valid_ = false;
  std::uint64_t drawn_generation_ = 0;
  int drawn_row_ = 0;
  int drawn_column_ = 0;
  std::chrono::steady_clock::time_point last_draw_{};
};

bool WindowsConsole::Start(std::string& error) {
  g_saved.input = GetStdHandle(STD_INPUT_HANDLE);
  g_saved.user_output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!GetConsoleMode(g_saved.input, &g_saved.input_mode) ||
      !GetConsoleMode(g_saved.user_output, &g_saved.output_mode) ||
      !GetConsoleScreenBufferInfo(g_saved.user_output, &g_saved.buffer)) {
    error = "standard input and output must be a console";
    return false;
  }
  if (!GetConsoleCursorInfo(g_saved.user_output, &g_saved.cursor)) {
    g_saved.cursor = CONSOLE_CURSOR_INFO{25, TRUE};
  }
  // A buffer of our own, as a terminal's alternate screen: the user's text stays untouched.
  output_ =
      CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (output_ == INVALID_HANDLE_VALUE) output_ = g_saved.user_output;
  g_saved.own_output = output_;
  g_saved.armed = true;
  // Ctrl-C is a key here; a closing window or a Ctrl-Break ends the jobs at their next safe
  // point, and a second one restores the console before the program ends.
  InstallStopHandlers();
  SetStopHooks(nullptr, RestoreConsole);

  SetConsoleMode(g_saved.input, ENABLE_EXTENDED_FLAGS);  // raw keys: no echo, no line, no Ctrl-C
  if (output_ != g_saved.user_output) SetConsoleActiveScreenBuffer(output_);
  SetSize(output_, COORD{kColumns, kRows});
  SetConsoleMode(output_, 0);  // no wrapping, no processed output: cells are written directly
  const CONSOLE_CURSOR_INFO visible{25, TRUE};
  SetConsoleCursorInfo(output_, &visible);
  SetConsoleTextAttribute(output_, MakeAttr(kBrightWhite, kBlack));

  for (int b = 0; b < 256; ++b) {
    glyphs_[b] = static_cast<WCHAR>(Cp437Glyph(static_cast<std::uint8_t>(b)));
  }
  return true;
}

void WindowsConsole::Pump() {
  ReadConsoleKeys(g_saved.input, keys_);
}

void WindowsConsole::Draw() {
  const bool full = !drawn_valid_;
  std::vector<CHAR_INFO> row_cells(kColumns);
  for (int row = 1; row <= kRows; ++row) {
    // Only rows with a changed cell are written, each from its first to its last change.
    int first = 0;
    int last = -1;
    for (int column = 1; column <= kColumns; ++column) {
      const Cell& cell = screen_.At(row, column);
      Cell& shown = drawn_[(row - 1) * kColumns + (column - 1)];
      if (!full && shown == cell) continue;
      if (first == 0) first = column;
      last = column;
      shown = cell;
    }
    if (first == 0) continue;
    for (int column = first; column <= last; ++column) {
      const Cell& cell = screen_.At(row, column);
      CHAR_INFO& out = row_cells[column - first];
      out.Char.UnicodeChar = glyphs_[cell.ch];
      out.Attributes = cell.attr;  // the console's own attribute layout: fg bits 0-3, bg 4-7
    }
    SMALL_RECT region{static_cast<SHORT>(first - 1), static_cast<SHORT>(row - 1),
                      static_cast<SHORT>(last - 1), static_cast<SHORT>(row - 1)};
    WriteConsoleOutputW(output_, row_cells.data(), COORD{static_cast<SHORT>(last - first + 1), 1},
                        COORD{0, 0}, &region);
  }
  drawn_valid_ = true;
  SetConsoleCursorPosition(output_, COORD{static_cast<SHORT>(screen_.CursorColumn() - 1),
                                          static_cast<SHORT>(screen_.CursorRow() - 1)});
  drawn_generation_ = screen_.Generation();
  drawn_row_ = screen_.CursorRow();
  drawn_column_ = screen_.CursorColumn();
  last_draw_ = std::chrono::steady_clock::now();
}

bool WindowsConsole::Present(bool force) {
  const bool changed = !drawn_valid_ || screen_.Generation() != drawn_generation_ ||
                       screen_.CursorRow() != drawn_row_ || screen_.CursorColumn() != drawn_column_;
  if (!changed) return true;
  if (!force && std::chrono::steady_clock::now() - last_draw_ < kFrameInterval) return false;
  Draw();
  return true;
}

void WindowsConsole::AwaitKey(int timeout_ms) {
  const bool shown = Present(false);
  Pump();
  if (!keys_.empty()) return;
  int wait = timeout_ms;
  if (!shown) {
    const auto since = std::chrono::steady_clock::now() - last_draw_;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(kFrameInterval - since);
    const int bound = static_cast<int>(std::max<std::int64_t>(left.count(), 0)) + 1;
    wait = wait < 0 ? bound : std::min(wait, bound);
  }
  // A stop event comes on a thread of its own and cannot signal the input handle: look again
  // at least every kStopCheckMs.
  if (StopRequested()) return;
  wait = wait < 0 ? kStopCheckMs : std::min(wait, kStopCheckMs);
  WaitForSingleObject(g_saved.input, static_cast<DWORD>(wait));
}

}  // namespace

bool StdioIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

std::unique_ptr<Console> OpenWindowsConsole(std::string& error) {
  bool expected = false;
  if (!g_console_open.compare_exchange_strong(expected, true)) {
    error = "the console is already in use by this program";
    return nullptr;
  }
  auto console = std::make_unique<WindowsConsole>();
  if (!console->Start(error)) return nullptr;  // nothing was changed; the open flag is dropped
  console->Present(true);
  return console;
}

}  // namespace tvx::console::win
