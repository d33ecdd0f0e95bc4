#include "terminal/radio_setup.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

#include "job/error_state.h"
#include "job/line.h"
#include "job/status_line.h"
#include "job/wait.h"

namespace tvx::terminal {
namespace {

using console::ScreenModel;

constexpr std::string_view kTitleRow = "                       Radio Setup Screen";
constexpr std::string_view kQuitHint = "  Q or q to quit";
constexpr int kTextTop = 2;
constexpr int kTextBottom = 50;
constexpr std::uint8_t kCarriageReturn = 13;
constexpr std::uint8_t kFirstShownByte = 21;
constexpr std::uint8_t kF1ScanCode = 59;
constexpr char kF1Byte = '\xFF';
// One read takes at most the receive queue's size; a bigger backlog takes several reads.
constexpr std::size_t kReadChunk = 1024;
// The most bytes one key sends (an extended key: 0 and its scan code).
constexpr std::size_t kMaxKeyBytes = 2;
// While the ring has no room for a key, the screen waits on the port's input for at most this
// long before it looks at the ring again (the writer frees room without a word).
constexpr int kRoomWaitMs = 5;
// While the console still holds changes back, a wait is cut to about one frame so they appear.
constexpr int kFrameWaitMs = 35;

void ScrollTextArea(ScreenModel& screen) {
  screen.ScrollRectUp(kTextTop, 1, kTextBottom, console::kColumns);
  screen.Locate(kTextBottom, 1);
}

void DrawScreen(job::RunContext& ctx) {
  ScreenModel& screen = ctx.console.Screen();
  screen.Clear();
  screen.Locate(1, 1);
  screen.SetColours(console::kYellow, console::kBlue, console::kColumns);
  screen.PrintText(kTitleRow);
  job::DrawStatusLine(ctx, kQuitHint);
  screen.Locate(kTextTop, 1);
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
}

// Reads and shows every byte the query reports. Returns whether any was read; sets `line_dead`
// (after reporting it once) when the port says the line is gone.
bool ReceiveStep(job::RunContext& ctx, job::Line& line, bool& line_dead) {
  std::size_t waiting = line.Waiting().count;
  if (ctx.errors.code == serial::kErrLineDead) {
    // Nothing will come any more: say so once and stop asking; the keys still work.
    job::ErrorReport(ctx.errors, ctx.console);
    line_dead = true;
    return false;
  }
  bool received = false;
  std::array<std::uint8_t, kReadChunk> bytes;
  while (waiting > 0) {
    const std::size_t got =
        line.Receive(std::span(bytes.data(), std::min(waiting, kReadChunk))).count;
    // A code left by the query (a line error) shows now, before the bytes.
    if (ctx.errors.code != serial::kNoError) job::ErrorReport(ctx.errors, ctx.console);
    if (got == 0) break;
    for (std::size_t i = 0; i < got; ++i) ShowReceivedByte(ctx.console.Screen(), bytes[i]);
    waiting -= got;
    received = true;
  }
  return received;
}

// Nothing to show and no key: sleep until the port or the keyboard may have something, or a
// frame while the console holds changes it has not shown yet.
void Idle(job::RunContext& ctx, job::Line& line) {
  job::Waiter waiter(line, ctx.clock, [&ctx] { return job::StopRequested(ctx); },
                     ctx.console.KeyWaitHandle());
  waiter.Sleep({.within_ms = ctx.console.Present(false) ? -1 : kFrameWaitMs});
}

}  // namespace

void ShowReceivedByte(ScreenModel& screen, std::uint8_t byte) {
  if (byte >= kFirstShownByte) {
    const char c = static_cast<char>(byte);
    screen.PrintText(std::string_view(&c, 1));
    // Column 80 of row 50 filled: the console moved on to row 51, which is not the text area.
    if (screen.CursorRow() == console::kRows && screen.CursorColumn() == 1) ScrollTextArea(screen);
  } else if (byte == kCarriageReturn) {
    if (screen.CursorRow() >= kTextBottom) {
      ScrollTextArea(screen);
    } else {
      screen.Locate(screen.CursorRow() + 1, 1);
    }
  }
}

std::string KeyBytes(const std::string& key) {
  if (key.size() == 2 && key[0] == '\0' && static_cast<std::uint8_t>(key[1]) == kF1ScanCode) {
    return std::string(1, kF1Byte);
  }
  return key;
}

void RunRadioSetup(job::RunContext& ctx, TerminalLink& link) {
  DrawScreen(ctx);
  TerminalOpen(ctx, link);
  job::Line line(ctx.port, ctx.errors);

  bool line_dead = false;
  for (;;) {
    // A stop request closes the terminal as Q does: the writer ends, the port is closed.
    if (job::StopRequested(ctx)) {
      TerminalClose(ctx, link);
      return;
    }
    const bool received = !line_dead && ReceiveStep(ctx, line, line_dead);

    // The line is behind by a whole ring: leave the keys in the user's terminal until the writer
    // made room, and keep showing what the radio sends. Without a line that could take them (no
    // port, a dead line) keys are taken as ever and go nowhere, so Q still returns.
    if (line.Up() && TxRoom(link) < kMaxKeyBytes) {
      ctx.console.Present(false);
      if (!received) line.AwaitActivity(console::kNoWaitHandle, kRoomWaitMs);
      continue;
    }

    const std::string key = ctx.console.ReadKey();
    if (key == "Q" || key == "q") {
      TerminalClose(ctx, link);
      // Keys typed behind the Q were meant for the radio, not for the menu.
      ctx.console.DiscardTypeAhead();
      return;
    }
    if (!key.empty()) {
      TxEnqueue(link, KeyBytes(key));
      continue;
    }

    if (received) {
      ctx.console.Present(false);  // a frame now and then while the radio keeps talking
    } else if (line_dead) {
      ctx.console.AwaitKey(-1);
    } else {
      Idle(ctx, line);
    }
  }
}

}  // namespace tvx::terminal
