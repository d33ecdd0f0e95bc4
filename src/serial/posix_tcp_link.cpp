// The TCP link on BSD sockets: non-blocking, Nagle off, every wait in poll.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "serial/deadline.h"
#include "serial/failure_note.h"
#include "serial/posix_errors.h"
#include "serial/tcp_link.h"

namespace tvx::serial {
namespace {

bool IsPeerGoneErrno(int error) {
  return error == EPIPE || error == ECONNRESET || error == ECONNABORTED || error == ENOTCONN ||
         error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETUNREACH;
}

class PosixTcpLink final : public TcpLink {
 public:
  PosixTcpLink() = default;
  PosixTcpLink(const PosixTcpLink&) = delete;
  PosixTcpLink& operator=(const PosixTcpLink&) = delete;
  ~PosixTcpLink() override { Close(); }

  ErrorNumber Connect(const std::string& host, std::uint16_t port, int limit_ms) override;
  bool IsConnected() const override { return fd_ >= 0; }
  void Close() override;
  std::size_t Send(std::span<const std::uint8_t> bytes, int limit_ms) override;
  std::size_t Receive(std::span<std::uint8_t> into) override;
  bool PeerGone() const override { return peer_gone_; }
  void AwaitInput(console::NativeWaitHandle also, int timeout_ms) override;
  std::string FailureText() const override { return failure_.Text(); }

 private:
  // Connects one address within `deadline`: the socket, or -1 with the failure kept.
  int ConnectOne(const addrinfo& address, const Deadline& deadline);
  void Gone(int error) {
    failure_.Keep(error == 0 ? "the server closed the connection" : ErrnoText(error));
    peer_gone_ = true;
  }

  int fd_ = -1;
  FailureNote failure_;
  std::atomic<bool> peer_gone_{false};
};

ErrorNumber PosixTcpLink::Connect(const std::string& host, std::uint16_t port, int limit_ms) {
  if (fd_ >= 0) return kErrPortAlreadyOpen;
  failure_.Clear();
  peer_gone_ = false;
  const Deadline deadline = Deadline::InMs(limit_ms);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  // The name look-up is the resolver's own wait; the connects below keep to the limit.
  const std::string service = std::to_string(port);
  if (const int error = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); error != 0) {
    failure_.Keep(error == EAI_SYSTEM ? ErrnoText(errno) : gai_strerror(error));
    return kErrNoSuchPort;
  }
  for (const addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) {
    fd_ = ConnectOne(*a, deadline);
    if (deadline.MsLeft() == 0) break;
  }
  freeaddrinfo(found);
  if (fd_ < 0) return kErrNoSuchPort;
  failure_.Clear();
  return kNoError;
}

int PosixTcpLink::ConnectOne(const addrinfo& address, const Deadline& deadline) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          address.ai_protocol);
  if (fd < 0) {
    failure_.Keep(ErrnoText(errno));
    return -1;
  }
  const auto fail = [&](const std::string& words) {
    failure_.Keep(words);
    ::close(fd);
    return -1;
  };
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return fail(ErrnoText(errno));
    for (;;) {
      pollfd p{fd, POLLOUT, 0};
      const int ready = poll(&p, 1, deadline.MsLeft());
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return fail(ErrnoText(errno));
      if (ready == 0) return fail("no answer within the connect limit");
      break;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return fail(ErrnoText(errno));
    if (error != 0) return fail(ErrnoText(error));
  }
  // Each request and each word leaves at once instead of waiting for the last one's ACK.
  const int on = 1;
  if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
    return fail(ErrnoText(errno));
  }
  return fd;
}

void PosixTcpLink::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  peer_gone_ = false;
  failure_.Clear();
}

std::size_t PosixTcpLink::Send(std::span<const std::uint8_t> bytes, int limit_ms) {
  if (fd_ < 0 || peer_gone_) return 0;
  const Deadline deadline = Deadline::InMs(limit_ms);
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      if (IsPeerGoneErrno(errno)) {
        Gone(errno);
      } else {
        failure_.Keep(ErrnoText(errno));
      }
      break;
    }
    const int wait = deadline.MsLeft();
    if (wait == 0) {
      failure_.Keep("the connection took nothing more within the limit");
      break;
    }
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, wait) < 0 && errno != EINTR) {
      failure_.Keep(ErrnoText(errno));
      break;
    }
  }
  return sent;
}

std::size_t PosixTcpLink::Receive(std::span<std::uint8_t> into) {
  if (fd_ < 0 || peer_gone_ || into.empty()) return 0;
  for (;;) {
    const ssize_t n = ::recv(fd_, into.data(), into.size(), MSG_DONTWAIT);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0) {
      Gone(0);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (IsPeerGoneErrno(errno)) {
      Gone(errno);
    } else {
      failure_.Keep(ErrnoText(errno));
    }
    return 0;
  }
}

void PosixTcpLink::AwaitInput(console::NativeWaitHandle also, int timeout_ms) {
  pollfd fds[2];
  nfds_t count = 0;
  // A connection whose peer is gone reads as ready at once, every time: left out.
  if (fd_ >= 0 && !peer_gone_) fds[count++] = pollfd{fd_, POLLIN, 0};
  if (also != console::kNoWaitHandle) fds[count++] = pollfd{static_cast<int>(also), POLLIN, 0};
  // A signal ends the wait early (the caller's loop looks again), as the serial ports' waits do.
  if (poll(fds, count, timeout_ms) < 0 && errno != EINTR) failure_.Keep(ErrnoText(errno));
}

}  // namespace

std::unique_ptr<TcpLink> MakeTcpLink() {
  return std::make_unique<PosixTcpLink>();
}

}  // namespace tvx::serial
