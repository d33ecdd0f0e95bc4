#include "support/wait_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <stdexcept>

namespace tvx::testing {

WaitSignal::WaitSignal() {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("WaitSignal: pipe() failed");
  for (int fd : fds) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  ready_ = fds[0];
  raise_ = fds[1];
}

WaitSignal::~WaitSignal() {
  close(static_cast<int>(ready_));
  close(static_cast<int>(raise_));
}

void WaitSignal::Raise() {
  if (raised_) return;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(static_cast<int>(raise_), &byte, 1);
  raised_ = true;
}

void WaitSignal::Lower() {
  if (!raised_) return;
  char byte;
  [[maybe_unused]] const ssize_t n = read(static_cast<int>(ready_), &byte, 1);
  raised_ = false;
}

console::NativeWaitHandle WaitSignal::Handle() const {
  return ready_;
}

bool WaitReady(console::NativeWaitHandle handle, int timeout_ms) {
  pollfd p{static_cast<int>(handle), POLLIN, 0};
  return poll(&p, handle == console::kNoWaitHandle ? 0 : 1, timeout_ms) == 1;
}

}  // namespace tvx::testing
