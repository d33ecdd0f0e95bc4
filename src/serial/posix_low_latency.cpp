#include "serial/posix_low_latency.h"

#include <sys/ioctl.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace tvx::serial {

#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)

LowLatencyState EnableLowLatency(int fd) {
  LowLatencyState state;
  serial_struct info{};
  if (ioctl(fd, TIOCGSERIAL, &info) != 0) return state;  // not a serial driver: a pty, say
  state.was_on = (info.flags & ASYNC_LOW_LATENCY) != 0;
  if (state.was_on) return state;
  info.flags |= ASYNC_LOW_LATENCY;
  state.changed = ioctl(fd, TIOCSSERIAL, &info) == 0;
  return state;
}

void RestoreLowLatency(int fd, const LowLatencyState& state) {
  if (!state.changed) return;
  serial_struct info{};
  if (ioctl(fd, TIOCGSERIAL, &info) != 0) return;
  info.flags &= ~ASYNC_LOW_LATENCY;
  if (state.was_on) info.flags |= ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &info);
}

#else

LowLatencyState EnableLowLatency(int) {
  return {};
}

void RestoreLowLatency(int, const LowLatencyState&) {}

#endif

}  // namespace tvx::serial
