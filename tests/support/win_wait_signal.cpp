#include "support/wait_signal.h"

#include <windows.h>

#include <stdexcept>

namespace tvx::testing {
namespace {

HANDLE AsHandle(console::NativeWaitHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

WaitSignal::WaitSignal() {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) throw std::runtime_error("WaitSignal: CreateEvent failed");
  ready_ = reinterpret_cast<console::NativeWaitHandle>(event);
}

WaitSignal::~WaitSignal() {
  CloseHandle(AsHandle(ready_));
}

void WaitSignal::Raise() {
  if (raised_) return;
  SetEvent(AsHandle(ready_));
  raised_ = true;
}

void WaitSignal::Lower() {
  if (!raised_) return;
  ResetEvent(AsHandle(ready_));
  raised_ = false;
}

console::NativeWaitHandle WaitSignal::Handle() const {
  return ready_;
}

bool WaitReady(console::NativeWaitHandle handle, int timeout_ms) {
  const DWORD wait = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
  if (handle == console::kNoWaitHandle) {
    Sleep(wait);
    return false;
  }
  return WaitForSingleObject(AsHandle(handle), wait) == WAIT_OBJECT_0;
}

}  // namespace tvx::testing
