// A request from outside the program to end it: a terminating signal on POSIX (SIGTERM, SIGINT,
// SIGHUP, SIGQUIT and the other signals whose default is to end a process, but SIGPIPE and
// SIGXFSZ, which the program ignores), Ctrl-C, Ctrl-Break or the console window closing on
// Windows, and the user's terminal hanging up.
//
// The first request ends nothing by itself: it is recorded, and every wait of the program
// returns within kStopCheckMs. The jobs look at it at their safe points (between two words or
// frames, at every prompt and pause), end there, close the port through its normal path, write
// their log line, and the program exits with status 128 + the signal number once the terminal
// is given back. A second signal while that runs exits at once, with the terminal restored.
#pragma once

#include <atomic>

namespace tvx::console {

/// How long a wait of the program sleeps at most before it looks at the stop request again.
inline constexpr int kStopCheckMs = 100;

/// One request, set from a signal handler or another thread, read anywhere.
class StopRequest {
 public:
  /// Records `signal_number` (> 0) unless a request is recorded already. Async-signal-safe.
  void Request(int signal_number) noexcept {
    int none = 0;
    signal_.compare_exchange_strong(none, signal_number, std::memory_order_acq_rel);
  }
  /// The signal of the first request; 0 when none came.
  int Signal() const noexcept { return signal_.load(std::memory_order_acquire); }
  bool Requested() const noexcept { return Signal() != 0; }
  /// Forgets the request (tests only).
  void Clear() noexcept { signal_.store(0, std::memory_order_release); }

 private:
  std::atomic<int> signal_{0};
  static_assert(std::atomic<int>::is_always_lock_free, "a signal handler sets it");
};

/// The process's one request, which the handlers below set.
StopRequest& ProcessStopRequest();

/// Installs the handlers that turn the stop signals into ProcessStopRequest() (see above).
/// Call at start, before any other thread exists; later calls do nothing. The terminal console
/// calls it too, so a program that opens one must look at the request.
void InstallStopHandlers();

/// What the handlers do besides recording, both async-signal-safe and both optional (null):
/// `wake` runs at every request (to end a wait at once), `restore` before a second signal ends
/// the program (gives the user's terminal back). The console that owns the terminal sets them
/// while it is open.
void SetStopHooks(void (*wake)(), void (*restore)());

/// While `at_once` holds, the first request already ends the program at once, as a second one
/// does (the terminal restored): for the program's start, before a job holds anything that it
/// must close or log (reading the settings, finding the ports), where nothing looks at a
/// request. Off until set. Async-signal-safe.
void SetStopAtOnce(bool at_once);

/// The exit status of a program ended by a stop request for `signal_number`: 128 + it, as a
/// shell reports a program the signal ended.
inline int StopExitStatus(int signal_number) {
  return 128 + signal_number;
}

/// The program's status once it is done: `status`, or StopExitStatus of the process's stop
/// request when one came while it ran.
int ExitStatusAfterStop(int status);

}  // namespace tvx::console
