// The stop events on Windows: Ctrl-C and Ctrl-Break (recorded as SIGINT), the console window
// closing, the user logging off and the system shutting down (recorded as SIGHUP). The first is
// recorded; a second Ctrl-C restores the console and ends the program at once. After a close,
// log-off or shut-down Windows ends the process when the handler returns, so the handler gives
// the main thread a few seconds to finish first.
#include <windows.h>

#include <atomic>
#include <csignal>

#include "console/stop_request.h"

namespace tvx::console {
namespace {

constexpr int kSigHup = 1;
constexpr int kSigInt = 2;
// What Windows allows a close handler before it ends the process (5 s), less a margin.
constexpr DWORD kCloseGraceMs = 4500;

std::atomic<void (*)()> g_wake{nullptr};
std::atomic<void (*)()> g_restore{nullptr};
std::atomic<bool> g_at_once{false};
std::atomic<int> g_events_received{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  int signal_number = 0;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      signal_number = kSigInt;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      signal_number = kSigHup;
      break;
    default:
      return FALSE;
  }
  if (g_events_received.fetch_add(1) > 0 || g_at_once.load()) {
    if (void (*restore)() = g_restore.load()) restore();
    ExitProcess(static_cast<UINT>(StopExitStatus(signal_number)));
  }
  ProcessStopRequest().Request(signal_number);
  if (void (*wake)() = g_wake.load()) wake();
  if (signal_number == kSigHup) {
    // Returning would end the process now: wait for the main thread to end it.
    Sleep(kCloseGraceMs);
    if (void (*restore)() = g_restore.load()) restore();
    ExitProcess(static_cast<UINT>(StopExitStatus(signal_number)));
  }
  return TRUE;
}

}  // namespace

void InstallStopHandlers() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void SetStopAtOnce(bool at_once) {
  g_at_once.store(at_once);
}

void SetStopHooks(void (*wake)(), void (*restore)()) {
  g_wake.store(wake);
  g_restore.store(restore);
}

}  // namespace tvx::console
