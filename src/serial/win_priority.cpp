#include "serial/win_priority.h"

#include <windows.h>

namespace tvx::serial {

void WinPriority::RaiseRealtime() {
  if (raised_) return;
  const HANDLE process = GetCurrentProcess();
  const DWORD found = GetPriorityClass(process);
  if (found == 0) return;
  if (SetPriorityClass(process, REALTIME_PRIORITY_CLASS) == 0 &&
      SetPriorityClass(process, HIGH_PRIORITY_CLASS) == 0) {
    return;
  }
  saved_class_ = found;
  raised_ = true;
}

void WinPriority::Normal() {
  if (!raised_) return;
  SetPriorityClass(GetCurrentProcess(), saved_class_);
  raised_ = false;
}

}  // namespace tvx::serial
