// The TCP link on Winsock. The socket is non-blocking from the connect on; the connect and the
// sends wait in select() within their limits. Input is watched through a network event
// (FD_READ and FD_CLOSE) that the activity wait sleeps on together with the console's key
// handle, in one WaitForMultipleObjects.
//
// Winsock records FD_READ once and records it again only after the next recv, and FD_CLOSE only
// once. So the wait first takes what was recorded (which also resets the event), and returns at
// once when data is already there, or when the peer's close was ever seen: a wake-up that was
// recorded before the wait is never lost, and a spurious one costs one empty Receive.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

#include "serial/deadline.h"
#include "serial/failure_note.h"
#include "serial/tcp_link.h"
#include "serial/win_errors.h"

namespace tvx::serial {
namespace {

// Winsock is started once for the process and left running until it ends.
bool StartWinsock() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

bool IsPeerGoneError(int error) {
  return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN ||
         error == WSAENOTCONN || error == WSAENETRESET;
}

// select() on one socket for writing within `ms` (-1: no limit); errors count as ready, the
// next call on the socket reports them. Exceptions are a failed connect on Windows.
bool AwaitWritable(SOCKET socket, int ms) {
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket, &writable);
  FD_SET(socket, &failed);
  timeval limit{ms / 1000, (ms % 1000) * 1000};
  return select(0, nullptr, &writable, &failed, ms < 0 ? nullptr : &limit) != 0;
}

class WinTcpLink final : public TcpLink {
 public:
  WinTcpLink() = default;
  ~WinTcpLink() override { Close(); }
  WinTcpLink(const WinTcpLink&) = delete;
  WinTcpLink& operator=(const WinTcpLink&) = delete;

  ErrorNumber Connect(const std::string& host, std::uint16_t port, int limit_ms) override;
  bool IsConnected() const override { return socket_ != INVALID_SOCKET; }
  void Close() override;
  std::size_t Send(std::span<const std::uint8_t> bytes, int limit_ms) override;
  std::size_t Receive(std::span<std::uint8_t> into) override;
  bool PeerGone() const override { return peer_gone_; }
  void AwaitInput(console::NativeWaitHandle also, int timeout_ms) override;
  std::string FailureText() const override { return failure_.Text(); }

 private:
  // One address within what is left of `deadline`: the connected socket, or INVALID_SOCKET
  // with the failure noted (`timed_out` when the limit ran out).
  SOCKET ConnectOne(const addrinfo& address, const Deadline& deadline, bool& timed_out);
  // A failed send or receive with Winsock's `error`: noted; the peer marked gone when it is.
  void NoteTransferFailure(int error) {
    failure_.Keep(WindowsErrorMessage(static_cast<std::uint32_t>(error)));
    if (IsPeerGoneError(error)) peer_gone_ = true;
  }

  // Changed only by Connect and Close (the receiving thread); the sending thread reads them.
  SOCKET socket_ = INVALID_SOCKET;
  WSAEVENT input_event_ = WSA_INVALID_EVENT;
  std::atomic<bool> peer_gone_{false};
  bool close_seen_ = false;  // FD_CLOSE taken from the event: recorded only once
  FailureNote failure_;
};

SOCKET WinTcpLink::ConnectOne(const addrinfo& address, const Deadline& deadline, bool& timed_out) {
  SOCKET s = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (s == INVALID_SOCKET) {
    failure_.Keep(WindowsErrorMessage(static_cast<std::uint32_t>(WSAGetLastError())));
    return INVALID_SOCKET;
  }
  u_long non_blocking = 1;
  ioctlsocket(s, FIONBIO, &non_blocking);
  int error = 0;
  if (connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      if (!AwaitWritable(s, deadline.MsLeft())) {
        error = WSAETIMEDOUT;
        timed_out = true;
      } else {
        int length = sizeof error;
        error = 0;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
      }
    }
  }
  if (error != 0) {
    failure_.Keep(WindowsErrorMessage(static_cast<std::uint32_t>(error)));
    closesocket(s);
    return INVALID_SOCKET;
  }
  const BOOL no_delay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
             sizeof no_delay);
  return s;
}

ErrorNumber WinTcpLink::Connect(const std::string& host, std::uint16_t port, int limit_ms) {
  if (IsConnected()) return kErrPortAlreadyOpen;
  failure_.Clear();
  peer_gone_ = false;
  close_seen_ = false;
  if (!StartWinsock()) {
    failure_.Keep("Windows Sockets did not start");
    return kErrNoSuchPort;
  }
  const Deadline deadline = Deadline::InMs(limit_ms);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* addresses = nullptr;
  const std::string service = std::to_string(port);
  if (const int error = getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses);
      error != 0) {
    failure_.Keep(WindowsErrorMessage(static_cast<std::uint32_t>(error)));
    return kErrNoSuchPort;
  }
  SOCKET connected = INVALID_SOCKET;
  bool timed_out = false;
  for (const addrinfo* a = addresses; a != nullptr && !timed_out; a = a->ai_next) {
    connected = ConnectOne(*a, deadline, timed_out);
    if (connected != INVALID_SOCKET) break;
  }
  freeaddrinfo(addresses);
  if (connected == INVALID_SOCKET) return kErrNoSuchPort;

  WSAEVENT event = WSACreateEvent();
  if (event == WSA_INVALID_EVENT || WSAEventSelect(connected, event, FD_READ | FD_CLOSE) != 0) {
    failure_.Keep(WindowsErrorMessage(static_cast<std::uint32_t>(WSAGetLastError())));
    if (event != WSA_INVALID_EVENT) WSACloseEvent(event);
    closesocket(connected);
    return kErrNoSuchPort;
  }
  socket_ = connected;
  input_event_ = event;
  return kNoError;
}

void WinTcpLink::Close() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  if (input_event_ != WSA_INVALID_EVENT) WSACloseEvent(input_event_);
  socket_ = INVALID_SOCKET;
  input_event_ = WSA_INVALID_EVENT;
  peer_gone_ = false;
  close_seen_ = false;
  failure_.Clear();
}

std::size_t WinTcpLink::Send(std::span<const std::uint8_t> bytes, int limit_ms) {
  if (!IsConnected()) return 0;
  const Deadline deadline = Deadline::InMs(limit_ms);
  std::size_t sent = 0;
  while (sent < bytes.size() && !peer_gone_) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 1 << 20));
    const int n = send(socket_, reinterpret_cast<const char*>(bytes.data() + sent), chunk, 0);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
      NoteTransferFailure(error);
      break;
    }
    const int left = deadline.MsLeft();
    if (left == 0 || !AwaitWritable(socket_, left)) break;  // the limit passed
  }
  return sent;
}

std::size_t WinTcpLink::Receive(std::span<std::uint8_t> into) {
  if (!IsConnected() || peer_gone_ || into.empty()) return 0;
  const int want = static_cast<int>(std::min<std::size_t>(into.size(), 1 << 20));
  const int n = recv(socket_, reinterpret_cast<char*>(into.data()), want, 0);
  if (n > 0) return static_cast<std::size_t>(n);
  if (n == 0) {
    failure_.Keep("the other end closed the connection");
    peer_gone_ = true;
    return 0;
  }
  if (const int error = WSAGetLastError(); error != WSAEWOULDBLOCK) NoteTransferFailure(error);
  return 0;
}

void WinTcpLink::AwaitInput(console::NativeWaitHandle also, int timeout_ms) {
  HANDLE handles[2];
  DWORD count = 0;
  if (IsConnected()) {
    WSANETWORKEVENTS recorded{};
    if (WSAEnumNetworkEvents(socket_, input_event_, &recorded) == 0 &&
        (recorded.lNetworkEvents & FD_CLOSE) != 0) {
      close_seen_ = true;
    }
    u_long waiting = 0;
    if (close_seen_ || peer_gone_ ||
        (ioctlsocket(socket_, FIONREAD, &waiting) == 0 && waiting > 0)) {
      return;
    }
    handles[count++] = input_event_;
  }
  if (also != console::kNoWaitHandle) handles[count++] = reinterpret_cast<HANDLE>(also);
  const DWORD wait = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
  if (count == 0) {
    Sleep(wait);
    return;
  }
  WaitForMultipleObjects(count, handles, FALSE, wait);
}

}  // namespace

std::unique_ptr<TcpLink> MakeTcpLink() {
  return std::make_unique<WinTcpLink>();
}

}  // namespace tvx::serial
