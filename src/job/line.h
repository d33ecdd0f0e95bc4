// The serial line as a job uses it: the one way a job reaches the port (the uploads, the Radio
// Setup Screen and its writer thread). Every operation says what it came to, dead line included,
// and latches a failure into the job's ErrorState. The job looks at the result where it acts on
// it and reports the latched code from one place; nothing here draws, prints or waits for a
// person.
//
//   job::Line line(port, errors);
//   if (const auto opened = line.Open(plan.device, job::Profile::kDirectUpload, 0); !opened.ok())
//     ...                                   // opened.code, opened.settings_refused
//   const job::LineResult sent = line.Send(frame);   // sent.dead(): stop, report, go back
//
// Not thread-safe: one thread uses one Line. The terminal's writer thread has a Line of its own
// on the same port, with a latch nobody reads (see serial_port.h for what may overlap).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "job/error_state.h"
#include "serial/serial_port.h"

namespace tvx::job {

enum class Profile {
  kRfUpload,      ///< 115200 bit/s, rx queue 2048
  kDirectUpload,  ///< 19200 bit/s, rx queue 2048
  kTerminal,      ///< LinkSettings baud rate, rx queue 1024; a refused setting leaves it open
};

/// The eleven line settings of a profile, in the order they are applied; `terminal_rate`
/// (bit/s) is the rate of kTerminal, the upload profiles have their own.
std::array<std::pair<serial::LineSetting, std::uint32_t>, 11> ProfileSettings(
    Profile profile, std::uint32_t terminal_rate);

/// What one operation on the line came to: the bytes it moved (or found waiting) and the code
/// of its failure (0 when it did all it was asked).
struct LineResult {
  std::size_t count = 0;
  serial::ErrorNumber code = serial::kNoError;

  bool ok() const { return code == serial::kNoError; }
  /// The line is gone: nothing more will pass until the port is opened again.
  bool dead() const { return code == serial::kErrLineDead; }
};

/// What opening the port for a job came to.
struct OpenResult {
  /// 0, or the open's own code when the device did not open, else the last refused setting's.
  serial::ErrorNumber code = serial::kNoError;
  /// The device opened but a line setting was refused (an upload's port is closed again).
  bool settings_refused = false;
  /// The system's own words for the failure (may be empty: it gave none).
  std::string reason;

  bool ok() const { return code == serial::kNoError; }
};

class Line {
 public:
  /// Failures latch into `errors` (the run's latch, which the status line reports).
  Line(serial::SerialPort& port, ErrorState& errors) : port_(port), errors_(errors) {}

  /// Opens `device` and applies the profile's eleven settings in order (all attempted; the last
  /// failure kept). `terminal_rate` is the rate of Profile::kTerminal (bit/s). Every failure is
  /// latched. A device that did not open gets no settings; an upload profile's port that refused
  /// one is closed again, the terminal's stays open. Blocks only as long as the system's open does.
  OpenResult Open(std::string_view device, Profile profile, std::uint32_t terminal_rate = 0);
  /// Closes the port (nothing when closed); returns the close's code, latching nothing.
  serial::ErrorNumber Close() { return port_.Close(); }
  bool IsOpen() const { return port_.IsOpen(); }
  /// Open and not known dead: bytes may pass. Latches nothing.
  bool Up() const { return port_.IsOpen() && !port_.LineDead(); }

  /// Sets all five time-outs to 0: a read of n bytes returns only with n bytes (or a dead line).
  void ZeroTimeouts();
  /// Keeps the read time-outs as found and bounds a write at `constant_ms` in all (none per
  /// byte): a write the line cannot take returns after that long with what it managed.
  void BoundWrites(std::uint32_t constant_ms);
  /// The port's control state, read once (failure latched, `out` left as it was).
  LineResult ReadControlState(serial::ControlState& out);
  /// Writes `snapshot` back with the line rate 460800 / divisor (nothing for divisor 0); no
  /// queue is flushed. The caller raises the priority around it when the radio's timing asks.
  LineResult SwitchRate(serial::ControlState& snapshot, std::uint8_t divisor);

  /// Bytes in the receive queue; count 0 and the code on a line error (57) or a dead line (59).
  LineResult Waiting();
  /// Receives exactly `into.size()` bytes (blocking under zero time-outs); fewer, at once, on a
  /// dead line (59), or when the port is not open (52).
  LineResult Receive(std::span<std::uint8_t> into);
  /// Sends every byte; a short write, or one on a port that is not open, gives 69, or 59 when
  /// the line is dead.
  LineResult Send(std::span<const std::uint8_t> bytes);
  LineResult SendByte(std::uint8_t byte);
  /// Has the port drop input it holds beyond its receive queue and gather what is on its way
  /// into the queue (a network port's server; nothing for a local port). Latches a failure.
  LineResult Purge();
  /// Purges, then reads and drops whatever is waiting; `count` is what was dropped.
  LineResult Discard();

  /// Whether the line is dead: a dead line was latched, or the port saw a hang-up (latched now).
  bool Dead();
  /// Blocks until the port may have input, `also` is ready or `timeout_ms` passed (-1: none).
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) {
    port_.AwaitActivity(also, timeout_ms);
  }

  /// The system's own words for the last failure of the port (empty: it gave none).
  std::string FailureText() const { return port_.FailureText(); }
  /// The code latched and not yet reported (0: none).
  serial::ErrorNumber Pending() const { return errors_.code; }

 private:
  LineResult Latched(std::size_t count, serial::ErrorNumber code);

  serial::SerialPort& port_;
  ErrorState& errors_;
};

}  // namespace tvx::job
