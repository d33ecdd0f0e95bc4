// A TCP connection as the network serial port uses it: connect within a limit, send, take what
// has arrived without waiting, and sleep until input may have arrived together with a console
// key handle. Backends: posix_tcp_link (BSD sockets) and win_tcp_link (Winsock); tests may use a
// link in memory.
//
// The connection carries telnet with its serial-port option; the link knows nothing of that: it
// moves bytes. One thread connects, receives and waits; a second thread may send while the first
// receives or waits (never two senders at once: the caller serialises its sends).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "console/console.h"
#include "serial/error_codes.h"

namespace tvx::serial {

class TcpLink {
 public:
  virtual ~TcpLink() = default;

  /// Resolves `host` (a name, an IPv4 literal or an IPv6 literal without brackets) and connects
  /// to `port`, trying each address in turn, within `limit_ms` milliseconds in all. On success
  /// Nagle's algorithm is off (every send leaves at once) and the socket is non-blocking.
  /// Returns 0, or 53 for an unknown host, a refused or unreachable address, or no answer within
  /// the limit (FailureText says which, in the system's own words where it gave some). 55 when
  /// already connected. Blocks at most `limit_ms`.
  virtual ErrorNumber Connect(const std::string& host, std::uint16_t port, int limit_ms) = 0;
  virtual bool IsConnected() const = 0;
  /// Closes the connection (nothing when closed) and forgets Closed() and FailureText().
  virtual void Close() = 0;

  /// Sends all of `bytes`, waiting up to `limit_ms` in all (-1: no limit) while the system's
  /// buffer is full. Returns the count sent: fewer when the limit passed, or when the peer closed
  /// or reset the connection (then PeerGone() is true). Never raises SIGPIPE.
  virtual std::size_t Send(std::span<const std::uint8_t> bytes, int limit_ms) = 0;
  /// Takes what has arrived, up to `into.size()` bytes, without waiting; 0 when nothing has (or
  /// the peer is gone: PeerGone() tells).
  virtual std::size_t Receive(std::span<std::uint8_t> into) = 0;
  /// True once a send or receive found the peer closed or reset the connection; stays true
  /// until Close. Either thread may ask.
  virtual bool PeerGone() const = 0;

  /// Blocks until input may have arrived (or the peer closed), `also` (a console key handle, or
  /// console::kNoWaitHandle) is ready, or `timeout_ms` passed (-1: no limit). Spurious returns
  /// are allowed. Not connected: waits on `also` alone.
  virtual void AwaitInput(console::NativeWaitHandle also, int timeout_ms) = 0;

  /// The system's own words for the last failure (connect, send or receive); empty when none.
  /// Either thread may ask.
  virtual std::string FailureText() const = 0;
};

/// This platform's link (posix_tcp_link.cpp or win_tcp_link.cpp), not connected.
std::unique_ptr<TcpLink> MakeTcpLink();

}  // namespace tvx::serial
