#include "console/posix_console.h"

#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <curses.h>

#include "console/cp437.h"
#include "console/key_decoder.h"
#include "console/page_view.h"
#include "console/posix_painter.h"
#include "console/posix_terminal_signals.h"
#include "console/posix_terminfo.h"
#include "console/stop_request.h"

namespace tvx::console::posix {
namespace {

std::atomic<bool> g_console_open{false};

// How long the byte after an Esc may lag behind it: a lone Esc is the Esc key after this long.
// ncurses does not decode keys (keypad mode is off), so the key decoder sees every byte.
constexpr int kEscapeDelayMs = 25;
// Shortest time between two draws that were not forced (about 30 per second).
constexpr auto kFrameInterval = std::chrono::milliseconds(33);
// Page rows one turn of the mouse wheel scrolls the view by.
constexpr int kWheelRows = 3;
// Mouse reports on (button presses, the wheel's among them, in the SGR form) and off again. The
// terminal has no mode for the wheel alone; clicks are decoded and dropped.
constexpr char kMouseOn[] = "\x1b[?1000h\x1b[?1006h";
constexpr char kMouseOff[] = "\x1b[?1006l\x1b[?1000l";

// A terminfo string capability, or "" when the terminal has none.
std::string Capability(const char* name) {
  char* value = tigetstr(const_cast<char*>(name));
  if (value == nullptr || value == reinterpret_cast<char*>(-1)) return {};
  return value;
}

// A capability as bytes to write without tputs(): its "$<..>" padding delays left out.
void AppendCapability(std::string& out, const char* name) {
  const std::string value = Capability(name);
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '$' && i + 1 < value.size() && value[i + 1] == '<') {
      const std::size_t close = value.find('>', i);
      if (close != std::string::npos) {
        i = close;
        continue;
      }
    }
    out += value[i];
  }
}

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool LocaleIsUnnamed() {
  const char* name = std::setlocale(LC_CTYPE, nullptr);
  return name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

bool CodesetIsUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr &&
         (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

// The user's locale; where none is chosen (or the chosen one is not installed) C.UTF-8 if the
// system has it. Numbers are always read and written the C way.
void ChooseLocale() {
  std::setlocale(LC_ALL, "");
  if (!CodesetIsUtf8() && LocaleIsUnnamed()) {
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "C.utf8");
  }
  std::setlocale(LC_NUMERIC, "C");
}

void WriteAll(const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t n = write(STDOUT_FILENO, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
}

}  // namespace

bool StdioIsTerminal() {
  return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
}

// ---------------------------------------------------------------------------------------------

struct TerminalConsole::Impl {
  explicit Impl(const ScreenModel& m) : model(m) {}

  bool Start(std::string& error);
  void Stop();

  void Pump();
  void Drain();
  void HandleSignals();
  void HandleResize();
  void TakeWindowSize();
  bool Present(bool force);
  void SetMouseReports(bool on);

  const ScreenModel& model;
  SCREEN* screen = nullptr;
  KeyDecoder decoder{kEscapeDelayMs};
  TerminalPainter painter;
  PageView view;

  bool too_small = false;
  bool mouse_capable = false;  // the terminal reports the mouse (terminfo knows its reports)
  int mouse_reports = -1;      // 1 on, 0 off, -1 unknown (back from a stop)
  std::string clear_on_exit;   // where there is no alternate screen: clears the screen

  TerminalSignalHandlers handlers;
};

bool TerminalConsole::Impl::Start(std::string& error) {
  ChooseLocale();
  if (tcgetattr(STDIN_FILENO, &g_restore.saved) != 0) {
    error = "cannot read the terminal settings: " + std::string(std::strerror(errno));
    return false;
  }
  if (!TerminalIsUsable(error)) return false;
  int wake[2];
  if (pipe2(wake, O_CLOEXEC) != 0) {
    error = "cannot create a pipe: " + std::string(std::strerror(errno));
    return false;
  }
  for (int fd : wake) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  g_restore.wake_read = wake[0];
  g_restore.wake_write = wake[1];
  // Installed before ncurses starts, so that it leaves these signals to us. A stop signal ends
  // the console's wait at once; a second one gives the terminal back before the program ends.
  InstallStopHandlers();
  SetStopHooks(Wake, RestoreTerminalFromSignal);
  handlers.Install();

  screen = newterm(nullptr, stdout, stdin);
  if (screen == nullptr) {
    const char* term = std::getenv("TERM");
    error = "cannot use this terminal (TERM=" + std::string(term ? term : "") + ")";
    SetStopHooks(nullptr, nullptr);
    handlers.Uninstall();
    close(g_restore.wake_read);
    close(g_restore.wake_write);
    g_restore.wake_read = g_restore.wake_write = -1;
    return false;
  }
  set_term(screen);

  std::string restore = "\x18";  // cancels an escape sequence cut off by the signal
  // The wheel scrolls a window smaller than the page; it is reported as the mouse's.
  mouse_capable = !Capability("kmous").empty();
  if (mouse_capable) restore += kMouseOff;
  AppendCapability(restore, "sgr0");
  AppendCapability(restore, "op");
  AppendCapability(restore, "cnorm");
  if (Capability("rmcup").empty()) {
    // Without an alternate screen the menu would stay, and the shell's prompt overprint it.
    AppendCapability(clear_on_exit, "clear");
    restore += clear_on_exit;
  } else {
    AppendCapability(restore, "rmcup");
  }
  g_restore.sequence_length = std::min(restore.size(), g_restore.sequence.size());
  std::memcpy(g_restore.sequence.data(), restore.data(), g_restore.sequence_length);

  raw();  // Ctrl-C is a key
  noecho();
  nonl();                 // Enter arrives as 13
  keypad(stdscr, FALSE);  // key sequences reach the key decoder as bytes
  nodelay(stdscr, TRUE);
  intrflush(stdscr, FALSE);
  leaveok(stdscr, FALSE);
  curs_set(1);
  if (tcgetattr(STDIN_FILENO, &g_restore.program) != 0) g_restore.program = g_restore.saved;
  g_restore.armed = 1;

  painter.Start();

  // Ask an xterm-like terminal to grow to 80 x 51 (never to shrink); others ignore it.
  int lines = 0;
  int columns = 0;
  getmaxyx(stdscr, lines, columns);
  if (lines < kRows || columns < kColumns) {
    std::fflush(stdout);
    char request[32];
    const int n = std::snprintf(request, sizeof request, "\x1b[8;%d;%dt", std::max(lines, kRows),
                                std::max(columns, kColumns));
    [[maybe_unused]] const ssize_t written =
        write(STDOUT_FILENO, request, static_cast<std::size_t>(n));
  }
  TakeWindowSize();
  erase();
  return true;
}

void TerminalConsole::Impl::Stop() {
  // Stays armed until the terminal is back: a signal in between restores it once more.
  if (screen != nullptr) {
    SetMouseReports(false);
    endwin();
    if (!clear_on_exit.empty()) {
      std::fflush(stdout);
      [[maybe_unused]] const ssize_t n =
          write(STDOUT_FILENO, clear_on_exit.data(), clear_on_exit.size());
    }
    delscreen(screen);
    screen = nullptr;
  }
  tcsetattr(STDIN_FILENO, TCSADRAIN, &g_restore.saved);
  g_restore.armed = 0;
  SetStopHooks(nullptr, nullptr);
  handlers.Uninstall();
  close(g_restore.wake_read);
  close(g_restore.wake_write);
  g_restore.wake_read = g_restore.wake_write = -1;
}

void TerminalConsole::Impl::HandleSignals() {
  char drain[64];
  while (read(g_restore.wake_read, drain, sizeof drain) > 0) {
  }
  if (g_continued) {
    g_continued = 0;
    // Leaving and re-entering makes ncurses put its modes back and repaint the whole screen;
    // the window may have changed size meanwhile, and whoever had the terminal may have left
    // mouse reports on or off.
    endwin();
    mouse_reports = -1;
    HandleResize();
  } else if (g_resized) {
    HandleResize();
  }
}

void TerminalConsole::Impl::HandleResize() {
  g_resized = 0;
  if (too_small) {
    // Keys typed while the notice was shown were typed blind: none of them is acted on.
    Drain();
    decoder.Clear();
  }
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
    resize_term(size.ws_row, size.ws_col);
  }
  TakeWindowSize();
  painter.Invalidate();
  erase();
  clearok(curscr, TRUE);
  Present(true);
}

void TerminalConsole::Impl::TakeWindowSize() {
  int lines = 0;
  int columns = 0;
  getmaxyx(stdscr, lines, columns);
  too_small = lines < kMinWindowRows || columns < kColumns;
  if (!too_small) view.SetWindowRows(lines);
}

void TerminalConsole::Impl::SetMouseReports(bool on) {
  if (!mouse_capable || mouse_reports == static_cast<int>(on)) return;
  // ncurses has written all it holds: this runs after a refresh, or before endwin().
  std::fflush(stdout);
  if (on) {
    WriteAll(kMouseOn, sizeof kMouseOn - 1);
  } else {
    WriteAll(kMouseOff, sizeof kMouseOff - 1);
  }
  mouse_reports = on ? 1 : 0;
}

bool TerminalConsole::Impl::Present(bool force) {
  if (g_resized || g_continued) HandleSignals();
  if (too_small) {
    if (!painter.NoticeShown()) {
      painter.DrawNotice();
      SetMouseReports(false);
    }
    return true;  // nothing more can be shown until the window grows
  }
  view.Follow(model.CursorRow());
  if (!painter.Stale(model, view)) return true;
  if (!force && std::chrono::steady_clock::now() - painter.LastDraw() < kFrameInterval) {
    return false;
  }
  painter.Draw(model, view);
  // Only a window smaller than the page has anything to scroll to; a whole page leaves the
  // mouse to the terminal (selecting text).
  SetMouseReports(!view.WholePage());
  return true;
}

void TerminalConsole::Impl::Drain() {
  // Bounded, so that a flood of input cannot hold the caller here.
  for (int taken = 0; taken < 4096; ++taken) {
    wint_t ch = 0;
    const int kind = get_wch(&ch);
    if (kind == ERR) break;
    const std::int64_t now = NowMs();
    if (kind == KEY_CODE_YES) {
      if (ch == KEY_RESIZE) g_resized = 1;  // handled by the caller, after the keys
      continue;
    }
    const int byte = Cp437FromUnicode(static_cast<char32_t>(ch));
    if (byte >= 0) decoder.FeedByte(static_cast<std::uint8_t>(byte), now);
  }
}

void TerminalConsole::Impl::Pump() {
  if (g_resized || g_continued) HandleSignals();
  Drain();
  if (too_small) {
    decoder.Clear();  // the notice hides what a key would start
    return;
  }
  if (const int turns = decoder.TakeWheelTurns(); turns != 0) {
    view.Scroll(turns * kWheelRows, model.CursorRow());
    Present(true);  // the caller may go on to sleep on standard input
  }
  // An Esc is settled here, not left open: callers go on to sleep on standard input, which
  // stays quiet when the Esc was all there was.
  for (int round = 0; round < 8; ++round) {
    const int left = decoder.MsUntilTimeout(NowMs());
    if (left < 0) break;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (left > 0 && poll(&input, 1, left) > 0) {
      Drain();
      continue;
    }
    decoder.HasKey(NowMs() + left);  // the delay has run out
    break;
  }
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<TerminalConsole> TerminalConsole::Open(std::string& error) {
  if (!StdioIsTerminal()) {
    error = "standard input and output must be a terminal";
    return nullptr;
  }
  bool expected = false;
  if (!g_console_open.compare_exchange_strong(expected, true)) {
    error = "the terminal is already in use by this program";
    return nullptr;
  }
  std::unique_ptr<TerminalConsole> console(new TerminalConsole(nullptr));
  console->impl_ = std::make_unique<Impl>(console->screen_);
  if (!console->impl_->Start(error)) {
    console->impl_.reset();
    g_console_open = false;
    return nullptr;
  }
  console->impl_->Present(true);
  return console;
}

TerminalConsole::TerminalConsole(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TerminalConsole::~TerminalConsole() {
  if (impl_) {
    impl_->Stop();
    g_console_open = false;
  }
}

std::string TerminalConsole::ReadKey() {
  impl_->Pump();
  std::string key = impl_->decoder.Take(NowMs());
  // The key goes to the job, whose cursor is where the user should look.
  if (!key.empty()) impl_->view.Attach(impl_->model.CursorRow());
  return key;
}

bool TerminalConsole::KeyWaiting() {
  impl_->Pump();
  return impl_->decoder.HasKey(NowMs());
}

void TerminalConsole::Beep() {
  beep();
}

bool TerminalConsole::Present(bool force) {
  return impl_->Present(force);
}

void TerminalConsole::AwaitKey(int timeout_ms) {
  const bool shown = impl_->Present(false);
  impl_->Pump();
  const std::int64_t now = NowMs();
  if (impl_->decoder.HasKey(now)) return;

  auto limit = [](int wait, int bound) { return wait < 0 ? bound : std::min(wait, bound); };
  int wait = timeout_ms;
  const int escape_left = impl_->decoder.MsUntilTimeout(now);
  if (escape_left >= 0) wait = limit(wait, escape_left + 1);
  if (!shown) {
    const auto since = std::chrono::steady_clock::now() - impl_->painter.LastDraw();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(kFrameInterval - since);
    wait = limit(wait, static_cast<int>(std::max<std::int64_t>(left.count(), 0)) + 1);
  }
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_restore.wake_read, POLLIN, 0}};
  const int ready = poll(fds, 2, wait);
  if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
      (fds[0].revents & POLLIN) == 0) {
    // The terminal is gone: nobody can answer a prompt any more. End as on a hang-up (the
    // kernel's SIGHUP, should it follow, is then the first signal, not a second one).
    ProcessStopRequest().Request(SIGHUP);
  }
  if (ready > 0 && (fds[1].revents & POLLIN) != 0) impl_->HandleSignals();
}

NativeWaitHandle TerminalConsole::KeyWaitHandle() const {
  return STDIN_FILENO;
}

void TerminalConsole::DiscardTypeAhead() {
  impl_->decoder.Clear();
  flushinp();  // ncurses' own buffer and the driver's (tcflush TCIFLUSH)
  tcflush(STDIN_FILENO, TCIFLUSH);
}

std::unique_ptr<Console> OpenTerminalConsole(std::string& error) {
  return TerminalConsole::Open(error);
}

}  // namespace tvx::console::posix
