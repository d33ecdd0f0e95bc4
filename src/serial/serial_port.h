// The serial port as the jobs see it: one small interface, no platform types. Backends:
// posix_serial_port (termios), win_serial_port (Win32 communications) and network_serial_port
// (a serial server's port over TCP); tests use a pseudo-terminal or a radio in memory.
//
// Only one port is open at a time. Every operation that can fail returns its ErrorNumber
// (0 = success) at once, and keeps the system's own words for the failure (OpenFailureText,
// FailureText); the jobs reach it through job::Line, which latches the number into ErrorCode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "console/console.h"
#include "serial/error_codes.h"

namespace tvx::serial {

/// The eleven line settings a profile applies, in the order they are applied.
enum class LineSetting {
  kLineRate,        ///< value: bit/s
  kDataBits,        ///< value: 8 (also sets one stop bit and no parity)
  kParityCheck,     ///< value: 0 off
  kStopBits,        ///< value: 1
  kTxQueueSize,     ///< value: bytes (a platform that cannot size its queues accepts it)
  kRxQueueSize,     ///< value: bytes
  kCtsOutputFlow,   ///< value: 0 off
  kDsrOutputFlow,   ///< value: 0 off
  kDsrSensitivity,  ///< value: 0 off
  kDtrHandshake,    ///< value: 0 off
  kDtrLine,         ///< value: 1 asserted
};

/// The five time-outs in milliseconds. All zero: a read of n bytes returns only with n bytes.
struct Timeouts {
  std::uint32_t read_interval = 0;
  std::uint32_t read_total_per_byte = 0;
  std::uint32_t read_total_constant = 0;
  std::uint32_t write_total_per_byte = 0;
  std::uint32_t write_total_constant = 0;
};

/// A snapshot of the port's control state, read once and written back with a new line rate.
struct ControlState {
  std::uint32_t line_rate = 0;
  std::uint8_t data_bits = 8;
  bool parity = false;
  std::uint8_t stop_bits = 1;
  bool cts_output_flow = false;
  bool dsr_output_flow = false;
  bool dtr_on = true;
};

/// Result of the bytes-waiting query: a pending line error gives count 0 and kErrLineError; a
/// dead line (hung up, device gone) with nothing left to read gives count 0 and kErrLineDead.
struct WaitingCount {
  std::size_t count = 0;
  ErrorNumber error = kNoError;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  /// Opens the device `device` (a path such as /dev/ttyUSB0, or \\.\COM3) exclusively for
  /// blocking reads and writes. Errors: 53 no such port, 70 in use, 75 refused by the system
  /// (no permission), 55 already open, 64 bad name (empty), 5 not a serial port (a file, a
  /// directory, a device without a serial line; OpenFailureText says what it is), others mapped
  /// from the OS. Never blocks, except a network port's ("rfc2217://HOST:PORT"), which connects
  /// and negotiates within its limits (network_serial_port.h).
  virtual ErrorNumber Open(std::string_view device) = 0;
  /// The system's own words for why the last Open failed (e.g. "Permission denied"), taken
  /// when it failed; empty after an Open that succeeded, or when the system gave none.
  virtual std::string OpenFailureText() const { return {}; }
  /// The system's own words for the last failure of any other operation of this opening (a
  /// refused setting, a failed read, write, query or wait; "end of file" for a hung-up line),
  /// taken when it failed; empty when the system gave none. Cleared by Close. Either thread may
  /// ask (the writer thread's writes keep theirs too).
  virtual std::string FailureText() const { return {}; }
  virtual bool IsOpen() const = 0;
  /// Closes the port and releases its exclusivity. Closing a closed port does nothing, 0.
  virtual ErrorNumber Close() = 0;

  /// One read-modify-write of one line setting. 5 when refused, 52 when not open.
  virtual ErrorNumber Apply(LineSetting setting, std::uint32_t value) = 0;
  virtual ErrorNumber GetTimeouts(Timeouts& out) = 0;
  virtual ErrorNumber SetTimeouts(const Timeouts& timeouts) = 0;
  virtual ErrorNumber GetControlState(ControlState& out) = 0;
  /// Writes the snapshot back; changes the line rate without flushing either queue.
  virtual ErrorNumber SetControlState(const ControlState& state) = 0;

  /// Has input the port holds beyond its receive queue dropped where it is held, and returns
  /// once everything received before is in the receive queue (a network port: the server drops
  /// what its device received, and what it sent before has arrived). The caller then reads and
  /// drops the queue. A local port holds nothing more: 0 at once. 52 when not open, 59 on a
  /// dead line, 5 when not done.
  virtual ErrorNumber PurgeInput() { return IsOpen() ? kNoError : kErrPortNotOpen; }

  /// Bytes in the receive queue, with pending line errors (overrun, framing, overflow, I/O).
  virtual WaitingCount BytesWaiting() = 0;
  /// Raw read under the current time-outs (all zero: blocks until all bytes arrived, but
  /// returns short at once when the line dies). Returns the count read; sets no error.
  virtual std::size_t Read(std::span<std::uint8_t> into) = 0;
  /// Raw write under the current time-outs. Returns the count written; sets no error.
  /// The terminal's writer thread calls it while the main thread runs BytesWaiting, Read,
  /// AwaitActivity and LineDead on the same open port: it must touch no state those change
  /// except the dead-line flag, which backends keep atomic. Open, Close and the settings never
  /// overlap it. It waits (up to the write time-outs) for the line to take bytes, and returns at
  /// once when the port is not open or the line is dead.
  virtual std::size_t Write(std::span<const std::uint8_t> bytes) = 0;
  /// True once a read, write or bytes-waiting query of this opening met a dead line (the other
  /// side hung up or the device vanished); stays true until Close. Nothing more will pass.
  /// Either thread may ask.
  virtual bool LineDead() const { return false; }

  /// Blocks until the port may have input, `also` (a console key handle) is ready, or
  /// `timeout_ms` passed (-1: no limit). Spurious returns are allowed. With the port closed it
  /// waits on `also` alone. This is what every polling loop of the jobs sleeps in.
  virtual void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) = 0;
};

}  // namespace tvx::serial
