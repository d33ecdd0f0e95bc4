// The serial line as an upload job uses it: one wrapper around the port whose every operation
// says what it came to, dead line included, and latches a failure into the job's ErrorState.
// The job looks at the result where it acts on it and reports the latched code from one place
// (its operator); nothing here draws, prints or waits for a person.
//
//   job::Line line(port, errors);
//   if (const auto opened = line.Open(plan.device, job::Profile::kDirectUpload, 0); !opened.ok())
//     ...                                   // opened.code, opened.settings_refused
//   const job::LineResult sent = line.Send(frame);   // sent.dead(): stop, report, go back
//
// Not thread-safe: one job thread uses it (the terminal's writer thread writes to the port
// itself, see serial_port.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "job/error_state.h"
#include "job/port_ops.h"
#include "serial/serial_port.h"

namespace tvx::job {

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
  /// The device opened but a line setting was refused (the port is closed again).
  bool settings_refused = false;

  bool ok() const { return code == serial::kNoError; }
};

class Line {
 public:
  /// Failures latch into `errors` (the run's latch, which the status line reports).
  Line(serial::SerialPort& port, ErrorState& errors) : port_(port), errors_(errors) {}

  /// Opens `device` and applies the profile's eleven settings in order (all attempted; the last
  /// failure kept). `terminal_rate` is the rate of Profile::kTerminal (bit/s). On failure the port
  /// is closed again and the code is latched. Blocks only as long as the system's open does.
  OpenResult Open(std::string_view device, Profile profile, std::uint32_t terminal_rate = 0);
  /// Closes the port (nothing when closed); failures are not reported.
  void Close();
  bool IsOpen() const { return port_.IsOpen(); }

  /// Sets all five time-outs to 0: a read of n bytes returns only with n bytes (or a dead line).
  void ZeroTimeouts();
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
  /// Sends every byte; a short write gives 69, or 59 when the line is dead, 52 when not open.
  LineResult Send(std::span<const std::uint8_t> bytes);
  LineResult SendByte(std::uint8_t byte);
  /// Reads and drops whatever is waiting; `count` is what was dropped.
  LineResult Discard();

  /// Whether the line is dead: a dead line was latched, or the port saw a hang-up (latched now).
  bool Dead();
  /// Blocks until the port may have input, `also` is ready or `timeout_ms` passed (-1: none).
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) {
    port_.AwaitActivity(also, timeout_ms);
  }

  /// The code latched and not yet reported (0: none).
  serial::ErrorNumber Pending() const { return errors_.code; }
  ErrorState& Errors() { return errors_; }
  serial::SerialPort& Port() { return port_; }

 private:
  LineResult Latched(std::size_t count, serial::ErrorNumber code);

  serial::SerialPort& port_;
  ErrorState& errors_;
};

}  // namespace tvx::job
