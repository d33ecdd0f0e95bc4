// The port of an interactive set-up session in line mode, in one place: opened with the
// terminal's profile, typed keys sent through the TxRing and its writer thread (as on the Radio
// Setup Screen), the radio's bytes read on the caller's thread. A session that outlives its
// device (the adapter pulled and put back) wraps this class: Close, then Open again.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "console/console.h"
#include "job/error_state.h"
#include "job/line.h"
#include "serial/serial_port.h"
#include "terminal/terminal_link.h"

namespace tvx::terminal {

class SetupLink {
 public:
  explicit SetupLink(serial::SerialPort& port) : port_(port), line_(port, errors_) {}
  ~SetupLink() { Close(); }
  SetupLink(const SetupLink&) = delete;
  SetupLink& operator=(const SetupLink&) = delete;

  /// Opens `device` at `baud` bit/s with the terminal's profile and starts the writer. A device
  /// that did not open, or refused a setting, is closed again (nothing started).
  job::OpenResult Open(std::string_view device, std::uint32_t baud);
  /// Stops the writer (unsent bytes dropped) and closes the port. Nothing when not open.
  void Close();
  bool IsOpen() const { return line_.IsOpen(); }

  /// Bytes the ring takes now (a key is queued only while there is room for all of it).
  std::size_t Room() const { return TxRoom(link_); }
  /// Queues `bytes` for the writer without blocking; returns how many were queued.
  std::size_t Send(std::string_view bytes) { return TxEnqueue(link_, bytes); }
  /// Reads what is waiting into `into`; count 0 when nothing is. `dead` is set when the line is
  /// gone (the device pulled, the radio hung up).
  std::size_t Receive(std::span<std::uint8_t> into, bool& dead);
  /// Sleeps until the port may have input, `also` is ready or `timeout_ms` passed.
  void Await(console::NativeWaitHandle also, int timeout_ms) {
    line_.AwaitActivity(also, timeout_ms);
  }
  /// The system's words for the last failure of the port.
  std::string FailureText() const { return line_.FailureText(); }

 private:
  serial::SerialPort& port_;
  job::ErrorState errors_;
  job::Line line_;
  TerminalLink link_;
};

}  // namespace tvx::terminal
