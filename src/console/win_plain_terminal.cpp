// The plain terminal on a Windows console: the console's input without echo, line input or
// processed input, keys taken as input records and decoded as the full screen decodes them
// (win_key_events.h); text written as UTF-16 (WriteConsoleW) when standard output is the
// console, so no code page is changed, and as the UTF-8 bytes themselves when it is a file or
// a pipe. Output keeps the console's own processing of a new line but never interprets escape
// sequences: what is written is shown.
//
// Ctrl-C comes as a key and is the stop request a POSIX terminal's interrupt is: the first ends
// the session at its next look at the request, a second one while the program still runs gives
// the console back and ends the program at once. Ctrl-Break and the window closing reach the
// program's console handler (win_stop_signals.cpp), which wakes the session's wait and, before
// it ends the program, gives the console back the same way. Only one exists at a time.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <string>

#include "console/plain_terminal.h"
#include "console/stop_request.h"
#include "console/win_key_events.h"

namespace tvx::console {
namespace {

constexpr int kSigInt = 2;

// The modes to give back, shared with the console handler's thread.
struct SavedModes {
  HANDLE input = INVALID_HANDLE_VALUE;
  HANDLE output = INVALID_HANDLE_VALUE;  // INVALID_HANDLE_VALUE when standard output is no console
  DWORD input_mode = 0;
  DWORD output_mode = 0;
  std::atomic<bool> armed{false};
};
SavedModes g_modes;

void RestoreModes() {
  if (!g_modes.armed.exchange(false)) return;
  if (g_modes.output != INVALID_HANDLE_VALUE) SetConsoleMode(g_modes.output, g_modes.output_mode);
  SetConsoleMode(g_modes.input, g_modes.input_mode);
}

// Ends a wait on the input handle from the console handler's thread: a focus record, which the
// key reading drops, makes the handle ready.
void WakeInput() {
  INPUT_RECORD record{};
  record.EventType = FOCUS_EVENT;
  record.Event.FocusEvent.bSetFocus = TRUE;
  DWORD written = 0;
  WriteConsoleInputW(g_modes.input, &record, 1, &written);
}

class WinPlainTerminal final : public PlainTerminal {
 public:
  WinPlainTerminal() = default;
  ~WinPlainTerminal() override {
    SetStopHooks(nullptr, nullptr);
    RestoreModes();
  }
  WinPlainTerminal(const WinPlainTerminal&) = delete;
  WinPlainTerminal& operator=(const WinPlainTerminal&) = delete;

  bool Start(std::string& error) {
    g_modes.input = GetStdHandle(STD_INPUT_HANDLE);
    if (!GetConsoleMode(g_modes.input, &g_modes.input_mode)) {
      error = "standard input is not a console";
      return false;
    }
    g_modes.output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!GetConsoleMode(g_modes.output, &g_modes.output_mode)) {
      g_modes.output = INVALID_HANDLE_VALUE;
    }
    raw_output_ = GetStdHandle(STD_OUTPUT_HANDLE);
    g_modes.armed = true;
    InstallStopHandlers();
    SetStopHooks(WakeInput, RestoreModes);
    // Raw keys: no echo, no line input, Ctrl-C a key; the user's quick edit (mouse selection)
    // stays as it was.
    SetConsoleMode(g_modes.input,
                   ENABLE_EXTENDED_FLAGS | (g_modes.input_mode & ENABLE_QUICK_EDIT_MODE));
    if (g_modes.output != INVALID_HANDLE_VALUE) {
      SetConsoleMode(g_modes.output, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
    }
    return true;
  }

  std::string ReadKey() override {
    win::ReadConsoleKeys(g_modes.input, keys_);
    while (!keys_.empty()) {
      std::string key = std::move(keys_.front());
      keys_.pop_front();
      if (key != "\x03") return key;
      // Ctrl-C: never a key for the radio; a stop request as on a terminal.
      if (ProcessStopRequest().Requested()) {
        RestoreModes();
        ExitProcess(static_cast<UINT>(StopExitStatus(ProcessStopRequest().Signal())));
      }
      ProcessStopRequest().Request(kSigInt);
      keys_.clear();
      WakeInput();  // the session's next wait returns at once and sees the request
    }
    return {};
  }
  int MsUntilKey() const override { return -1; }  // the console hands over whole keys
  void Write(std::string_view text) override {
    if (g_modes.output == INVALID_HANDLE_VALUE) {
      WriteAll(text);
      return;
    }
    std::wstring wide;
    wide.reserve(text.size() + 16);
    AppendWide(text, wide);
    for (std::size_t at = 0; at < wide.size();) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 8192));
      if (!WriteConsoleW(g_modes.output, wide.data() + at, chunk, &written, nullptr) ||
          written == 0) {
        return;  // a console gone: nothing more to show
      }
      at += written;
    }
  }
  NativeWaitHandle KeyWaitHandle() const override {
    return reinterpret_cast<NativeWaitHandle>(g_modes.input);
  }
  void DiscardTypeAhead() override {
    FlushConsoleInputBuffer(g_modes.input);
    keys_.clear();
  }

 private:
  // UTF-8 to UTF-16, each "\n" as "\r\n" (a console without automatic return shows it alike).
  static void AppendWide(std::string_view text, std::wstring& wide) {
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      const std::string_view part = text.substr(0, end);
      if (!part.empty()) {
        const int length =
            MultiByteToWideChar(CP_UTF8, 0, part.data(), static_cast<int>(part.size()), nullptr, 0);
        const std::size_t at = wide.size();
        wide.resize(at + static_cast<std::size_t>(length));
        MultiByteToWideChar(CP_UTF8, 0, part.data(), static_cast<int>(part.size()),
                            wide.data() + at, length);
      }
      if (end == std::string_view::npos) return;
      wide += L"\r\n";
      text.remove_prefix(end + 1);
    }
  }
  void WriteAll(std::string_view text) {
    while (!text.empty()) {
      DWORD written = 0;
      if (!WriteFile(raw_output_, text.data(), static_cast<DWORD>(text.size()), &written,
                     nullptr) ||
          written == 0) {
        return;
      }
      text.remove_prefix(written);
    }
  }

  HANDLE raw_output_ = INVALID_HANDLE_VALUE;
  std::deque<std::string> keys_;
};

}  // namespace

std::unique_ptr<PlainTerminal> OpenPlainTerminal(std::string& error) {
  if (g_modes.armed) {
    error = "the console is already in use by this program";
    return nullptr;
  }
  auto terminal = std::make_unique<WinPlainTerminal>();
  if (!terminal->Start(error)) return nullptr;
  return terminal;
}

}  // namespace tvx::console
