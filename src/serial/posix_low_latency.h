// Low-latency mode of a serial driver. A USB serial adapter holds received bytes until its
// latency timer runs out (16 ms on common adapters) before it hands them to the PC; every word of
// a direct upload waits for two answers, so that timer, not the line, would set the upload time.
// In low-latency mode the driver hands bytes on at once. Linux: TIOCGSERIAL / TIOCSSERIAL with
// ASYNC_LOW_LATENCY; elsewhere, and on ports without the request (pseudo-terminals), nothing
// changes.
#pragma once

namespace tvx::serial {

/// What EnableLowLatency changed, for RestoreLowLatency.
struct LowLatencyState {
  bool changed = false;
  bool was_on = false;
};

/// Asks the driver of the open descriptor for low-latency mode where it offers one. A port that
/// does not offer it, or refuses, is left as it is; nothing is reported.
LowLatencyState EnableLowLatency(int fd);

/// Gives the driver back the setting it had before EnableLowLatency, if that changed it.
void RestoreLowLatency(int fd, const LowLatencyState& state);

}  // namespace tvx::serial
