// The terminal's side of the serial port: opening it with the terminal profile, the TxRing its
// keys wait in, and the TxWriterThread that drains the ring to the port. The main thread only
// ever stores keys (TxEnqueue never blocks; the screen takes a key only while the ring has room
// for it); the writer is the only other thread of the program and exists from TerminalOpen to
// TerminalClose.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string_view>
#include <thread>

#include "job/run_context.h"
#include "serial/serial_port.h"
#include "terminal/tx_ring.h"

namespace tvx::terminal {

/// The write time-out constant of the terminal profile: a write that cannot complete returns
/// after at most this long with the count it managed. A write waits inside the port for the
/// line to take bytes, so the writer asks again at once after one that used its time; one that
/// took nothing sooner (no port open, a dead line) is followed by a wait on the StopBell for
/// the rest of this time.
inline constexpr std::uint32_t kWriteTimeoutMs = 100;

/// Wakes the writer out of its retry wait when the terminal closes.
class StopBell {
 public:
  void Reset();
  void Ring();
  /// Waits up to `ms` milliseconds; returns at once when the bell has rung.
  void WaitFor(int ms);

 private:
  std::mutex mutex_;
  std::condition_variable rung_cv_;
  bool rung_ = false;
};

/// The ring and the writer thread. One for the run; reused by every terminal session.
struct TerminalLink {
  TerminalLink() = default;
  ~TerminalLink();  ///< stops a writer still running (drops its bytes)
  TerminalLink(const TerminalLink&) = delete;
  TerminalLink& operator=(const TerminalLink&) = delete;

  TxRing ring;
  StopBell stop_bell;
  std::thread writer;
};

/// The writer's loop: writes the unsent bytes in contiguous runs (never past the physical end
/// of the ring) to `port` through a job::Line of its own, sleeps while the ring is empty, and
/// returns once a stop was requested. A run the line cannot take yet waits in the port's write
/// (kWriteTimeoutMs a try), so it goes out as soon as the line takes bytes again; a write that took
/// nothing at once is followed by the rest of kWriteTimeoutMs on `stop_bell`. No CPU is used while
/// stuck. Nothing is reported.
void TxWriterThread(TxRing& ring, StopBell& stop_bell, serial::SerialPort& port);

/// Opens the LinkSettings port with the terminal profile (a failed open is reported and the
/// terminal goes on without a port), resets the ring, sets the write time-outs (0 per byte,
/// kWriteTimeoutMs constant; the read time-outs stay as found) and starts the writer.
void TerminalOpen(job::RunContext& ctx, TerminalLink& link);

/// Stops the writer as TerminalClose does (unsent bytes dropped, thread joined) and leaves the
/// port as it is. Main thread.
void StopWriter(TerminalLink& link);

/// Opens `device` again with the terminal profile at the LinkSettings baud rate after the line
/// died and the port was closed: stops a writer still running, and on success starts a new one on
/// a fresh ring and returns true. A device that does not open (not back yet) leaves the port
/// closed, reports and latches nothing, and gives false; a refused setting is latched for the
/// close, as at TerminalOpen. Blocks only as long as the system's open does. Main thread.
bool TerminalReopen(job::RunContext& ctx, TerminalLink& link, std::string_view device);

/// Queues the bytes of `text` for the radio, in order, without blocking. Bytes that find the
/// ring full are dropped (the screen asks TxRoom first, so typed keys never are). Returns how
/// many were queued.
std::size_t TxEnqueue(TerminalLink& link, std::string_view text);

/// Bytes the ring can take now (0 once the terminal closed). Main thread.
std::size_t TxRoom(const TerminalLink& link);

/// Stops the writer: unsent bytes are dropped and the thread is joined, so nothing is written
/// after this returns (a write in progress ends within the write time-out). Then closes the port
/// and runs the ErrorReport when a code is latched (the close's own or one left pending).
void TerminalClose(job::RunContext& ctx, TerminalLink& link);

}  // namespace tvx::terminal
