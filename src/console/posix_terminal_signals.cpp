#include "console/posix_terminal_signals.h"

#include <unistd.h>

#include <cerrno>

namespace tvx::console::posix {

RestoreState g_restore;
volatile sig_atomic_t g_resized = 0;
volatile sig_atomic_t g_continued = 0;

void RestoreTerminalFromSignal() {
  if (!g_restore.armed) return;
  g_restore.armed = 0;
  const char* p = g_restore.sequence.data();
  std::size_t left = g_restore.sequence_length;
  while (left > 0) {
    const ssize_t n = write(STDOUT_FILENO, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &g_restore.saved);
}

void Wake() {
  if (g_restore.wake_write >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_restore.wake_write, &byte, 1);
  }
}

namespace {

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer reports through its own handlers of the fault signals.
constexpr std::array<int, 1> kFatalSignals = {SIGABRT};
#else
constexpr std::array<int, 5> kFatalSignals = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};
#endif

void OnFatalSignal(int signal_number) {
  RestoreTerminalFromSignal();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
  raise(signal_number);
}

void OnWindowChange(int) {
  const int saved_errno = errno;
  g_resized = 1;
  Wake();
  errno = saved_errno;
}

// Back from a stop (SIGSTOP or SIGTSTP, then fg): whoever had the terminal meanwhile set its own
// modes. Raw keys come back at once; the screen is drawn again by the main loop.
void OnContinue(int) {
  const int saved_errno = errno;
  if (g_restore.armed) tcsetattr(STDIN_FILENO, TCSANOW, &g_restore.program);
  g_continued = 1;
  Wake();
  errno = saved_errno;
}

}  // namespace

void TerminalSignalHandlers::Install() {
  auto install = [this](int signal_number, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigfillset(&action.sa_mask);
    struct sigaction previous {};
    if (sigaction(signal_number, &action, &previous) == 0) previous_[signal_number] = previous;
  };
  for (int s : kFatalSignals) install(s, OnFatalSignal, SA_RESETHAND | SA_NODEFER);
  install(SIGWINCH, OnWindowChange, SA_RESTART);
  install(SIGCONT, OnContinue, SA_RESTART);
}

void TerminalSignalHandlers::Uninstall() {
  for (const auto& [signal_number, action] : previous_) {
    sigaction(signal_number, &action, nullptr);
  }
  previous_.clear();
}

}  // namespace tvx::console::posix
