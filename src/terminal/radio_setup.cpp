#include "terminal/radio_setup.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <span>
#include <string_view>

#include "job/error_state.h"
#include "job/line.h"
#include "job/status_line.h"
#include "job/wait.h"
#include "terminal/reconnect.h"

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
// A line of the session's record that stays open this long without a byte (the radio's prompt)
// is written as it stands.
constexpr auto kLogQuiet = std::chrono::milliseconds(250);
// What the screen says when the radio's line dies and when it is back: a line in the text area,
// and a word on row 51 between the quit hint and the error report (column 65).
constexpr std::string_view kGoneLine = "Radio disconnected: waiting for it to come back";
constexpr std::string_view kBackLine = "Radio reconnected";
constexpr std::string_view kGoneStatus = "  Disconnected";
constexpr int kErrorReportColumn = 65;

// The session's record, when one is kept, with its clock.
class Record {
 public:
  explicit Record(const RadioSetupOptions& options)
      : log_(options.session_log ? std::make_optional<SessionLog>(options.session_log)
                                 : std::nullopt),
        now_(options.now ? options.now : [] { return std::chrono::system_clock::now(); }) {}
  ~Record() {
    if (log_) log_->Flush();
  }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  void Sent(std::string_view bytes) {
    if (log_) log_->Sent(AsBytes(bytes), now_());
  }
  void Received(std::span<const std::uint8_t> bytes) {
    if (log_) log_->Received(bytes, now_());
  }
  void Flush() {
    if (log_) log_->Flush();
  }
  /// Writes a line left open for a while.
  void FlushQuiet() {
    if (log_ && log_->LineOpen() && now_() - log_->OpenSince() >= kLogQuiet) log_->Flush();
  }

 private:
  static std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
  }
  std::optional<SessionLog> log_;
  std::function<SessionLog::Time()> now_;
};

void ScrollTextArea(ScreenModel& screen) {
  screen.ScrollRectUp(kTextTop, 1, kTextBottom, console::kColumns);
  screen.Locate(kTextBottom, 1);
}

// Returns the column after the status line's text.
int DrawScreen(job::RunContext& ctx) {
  ScreenModel& screen = ctx.console.Screen();
  screen.Clear();
  screen.Locate(1, 1);
  screen.SetColours(console::kYellow, console::kBlue, console::kColumns);
  screen.PrintText(kTitleRow);
  job::DrawStatusLine(ctx, kQuitHint);
  const int status_end = screen.CursorColumn();
  screen.Locate(kTextTop, 1);
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
  return status_end;
}

// `text` on row 51 from `column` up to the error report (blanks clear what stood there); the
// cursor and the text area's colours are put back.
void ShowStatusNote(ScreenModel& screen, int column, std::string_view text) {
  if (column >= kErrorReportColumn) return;
  const int row = screen.CursorRow();
  const int at = screen.CursorColumn();
  std::string shown(text.substr(0, static_cast<std::size_t>(kErrorReportColumn - column)));
  shown.resize(static_cast<std::size_t>(kErrorReportColumn - column), ' ');
  screen.Locate(console::kRows, column);
  screen.SetColours(console::kYellow, console::kBlue, 0);
  screen.PrintText(shown);
  screen.Locate(row, at);
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
}

// The screen's own word in the text area, on a row of its own in yellow, set apart from what
// the radio says.
void ShowNote(ScreenModel& screen, std::string_view text) {
  if (screen.CursorColumn() != 1) ShowReceivedByte(screen, kCarriageReturn);
  screen.SetColours(console::kYellow, console::kBlack, 0);
  screen.PrintText(text);
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
  ShowReceivedByte(screen, kCarriageReturn);
}

// Reads and shows every byte the query reports. Returns whether any was read; sets `line_dead`
// (after reporting it once) when the port says the line is gone.
bool ReceiveStep(job::RunContext& ctx, job::Line& line, bool& line_dead, Record& record) {
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
    record.Received(std::span(bytes.data(), got));
    waiting -= got;
    received = true;
  }
  return received;
}

// Nothing to show and no key: sleep until the port or the keyboard may have something, a frame
// while the console holds changes it has not shown yet, or at most `most_ms` (-1: no limit).
void Idle(job::RunContext& ctx, job::Line& line, int most_ms = -1) {
  job::Waiter waiter(
      line, ctx.clock, [&ctx] { return job::StopRequested(ctx); }, ctx.console.KeyWaitHandle());
  int within = ctx.console.Present(false) ? -1 : kFrameWaitMs;
  if (most_ms >= 0 && (within < 0 || most_ms < within)) within = most_ms;
  waiter.Sleep({.within_ms = within});
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

void RunRadioSetup(job::RunContext& ctx, TerminalLink& link, const RadioSetupOptions& options) {
  const int status_end = DrawScreen(ctx);
  TerminalOpen(ctx, link);
  job::Line line(ctx.port, ctx.errors);
  ScreenModel& screen = ctx.console.Screen();
  Record record(options);
  // A port that never opened has no device to wait for.
  std::string device;
  if (line.IsOpen()) {
    device = ctx.link.DeviceOf(ctx.link.port_name);
    if (options.stable_name) device = options.stable_name(device);
  }
  Reconnect replug(ctx.clock, device);
  const Reconnect::OpenAgain open_again = [&ctx, &link](const std::string& again) {
    return TerminalReopen(ctx, link, again);
  };

  bool line_dead = false;
  for (;;) {
    // A stop request closes the terminal as Q does: the writer ends, the port is closed.
    if (job::StopRequested(ctx)) {
      TerminalClose(ctx, link);
      return;
    }
    if (replug.TryNow(open_again)) {
      line_dead = false;
      ShowNote(screen, kBackLine);
      ShowStatusNote(screen, status_end, "");
    }
    const bool was_dead = line_dead;
    const bool received = !line_dead && ReceiveStep(ctx, line, line_dead, record);
    if (line_dead && !was_dead) {
      record.Flush();
      // Nothing more will pass: the writer stops (unsent keys dropped) and the port closes (the
      // close of a dead port says nothing new); then the device is looked for.
      StopWriter(link);
      job::Line(ctx.port, ctx.errors).Close();
      replug.Lose();
      if (replug.Waiting()) {
        ShowNote(screen, kGoneLine);
        ShowStatusNote(screen, status_end, kGoneStatus);
      }
    }

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
      if (!line_dead) {
        const std::string bytes = KeyBytes(key);
        TxEnqueue(link, bytes);
        record.Sent(bytes);
      }
      continue;
    }

    if (received) {
      ctx.console.Present(false);  // a frame now and then while the radio keeps talking
      continue;
    }
    record.FlushQuiet();
    if (replug.Waiting()) {
      Idle(ctx, line, replug.MsToNextTry());  // the port is closed: on the keys alone
    } else if (line_dead) {
      ctx.console.AwaitKey(-1);
    } else {
      Idle(ctx, line);  // within kStopCheckMs, so a quiet line of the record is written in time
    }
  }
}

}  // namespace tvx::terminal
