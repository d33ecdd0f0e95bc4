// A flag the test doubles raise and lower that the platform waits on like a keyboard: a pipe
// holding one byte while raised on POSIX, a manual-reset event on Windows. The scripted console
// hands it out as its key wait handle, so waits that watch the serial port and the keyboard
// together wake when a test feeds a key.
#pragma once

#include "console/console.h"

namespace tvx::testing {

class WaitSignal {
 public:
  /// Throws std::runtime_error when the platform object cannot be made.
  WaitSignal();
  ~WaitSignal();
  WaitSignal(const WaitSignal&) = delete;
  WaitSignal& operator=(const WaitSignal&) = delete;

  /// Makes the handle ready; raising a raised signal changes nothing. Not thread-safe: callers
  /// hold their own lock.
  void Raise();
  /// Makes the handle not ready.
  void Lower();
  console::NativeWaitHandle Handle() const;

 private:
  console::NativeWaitHandle ready_ = console::kNoWaitHandle;
  console::NativeWaitHandle raise_ = console::kNoWaitHandle;  // the pipe's write end on POSIX
  bool raised_ = false;
};

/// Blocks until `handle` is ready or `timeout_ms` passed (-1: no limit); with kNoWaitHandle it
/// just sleeps. Returns whether the handle is ready.
bool WaitReady(console::NativeWaitHandle handle, int timeout_ms);

}  // namespace tvx::testing
