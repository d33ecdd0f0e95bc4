#include "serial/win_priority.h"

#include <windows.h>

#include <mutex>

namespace tvx::serial {
namespace {

// The process's class, shared by every WinPriority: how many are raised, and the class found
// before the first of them raised it.
struct ProcessClass {
  std::mutex mutex;
  int raised = 0;
  DWORD saved = 0;
};

ProcessClass& Shared() {
  static ProcessClass shared;
  return shared;
}

}  // namespace

void WinPriority::RaiseRealtime() {
  if (raised_) return;
  {
    ProcessClass& shared = Shared();
    const std::lock_guard lock(shared.mutex);
    if (shared.raised == 0) {
      const HANDLE process = GetCurrentProcess();
      const DWORD found = GetPriorityClass(process);
      if (found == 0) return;
      if (SetPriorityClass(process, REALTIME_PRIORITY_CLASS) == 0 &&
          SetPriorityClass(process, HIGH_PRIORITY_CLASS) == 0) {
        return;
      }
      shared.saved = found;
    }
    ++shared.raised;
  }
  raised_ = true;
  const HANDLE thread = GetCurrentThread();
  const int found = GetThreadPriority(thread);
  thread_raised_ = found != THREAD_PRIORITY_ERROR_RETURN && found < THREAD_PRIORITY_ABOVE_NORMAL &&
                   SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL) != 0;
  saved_thread_priority_ = found;
}

void WinPriority::Normal() {
  if (!raised_) return;
  if (thread_raised_) SetThreadPriority(GetCurrentThread(), saved_thread_priority_);
  thread_raised_ = false;
  raised_ = false;
  ProcessClass& shared = Shared();
  const std::lock_guard lock(shared.mutex);
  if (--shared.raised == 0) SetPriorityClass(GetCurrentProcess(), shared.saved);
}

}  // namespace tvx::serial
