// The stop signals on POSIX: the first one is recorded (and wakes the console's wait), a second
// one restores the terminal and ends the program at once.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "console/stop_request.h"

namespace tvx::console {
namespace {

std::atomic<void (*)()> g_wake{nullptr};
std::atomic<void (*)()> g_restore{nullptr};
std::atomic<bool> g_at_once{false};
std::atomic<int> g_signals_received{0};
static_assert(std::atomic<void (*)()>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler uses them");

// Every signal whose default action ends the process, but SIGPIPE and SIGXFSZ (ignored: a
// failed write to a closed pipe or past a file size limit must not end an upload) and the
// faults (SIGSEGV and its kind end the program at once; the console restores the terminal).
std::vector<int> StopSignals() {
  std::vector<int> signals = {SIGTERM, SIGHUP,  SIGINT,    SIGQUIT, SIGUSR1,
                              SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};
#ifdef SIGPOLL
  signals.push_back(SIGPOLL);
#endif
#ifdef SIGPWR
  signals.push_back(SIGPWR);
#endif
#ifdef SIGSTKFLT
  signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGRTMIN
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) signals.push_back(s);
#endif
  return signals;
}

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : StopSignals()) sigaddset(&set, s);
  return set;
}

void OnStopSignal(int signal_number) {
  const int saved_errno = errno;
  if (g_signals_received.fetch_add(1) > 0 || g_at_once.load()) {
    if (void (*restore)() = g_restore.load()) restore();
    _exit(StopExitStatus(signal_number));
  }
  ProcessStopRequest().Request(signal_number);
  if (void (*wake)() = g_wake.load()) wake();
  errno = saved_errno;
}

}  // namespace

void InstallStopHandlers() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  // All of them held off while one is handled. SA_RESTART keeps reads and writes going; poll()
  // and sleeps still return early, which is what ends a wait at once.
  action.sa_mask = StopSignalSet();
  action.sa_flags = SA_RESTART;
  for (const int s : StopSignals()) sigaction(s, &action, nullptr);
}

void SetStopAtOnce(bool at_once) {
  g_at_once.store(at_once);
}

void SetStopHooks(void (*wake)(), void (*restore)()) {
  g_wake.store(wake);
  g_restore.store(restore);
}

}  // namespace tvx::console
