// The Winsock TCP link against a peer made here on the loopback address: every byte value both
// ways, the input wait (woken by data, by the peer closing and by the key handle; a wake-up
// recorded before the wait never lost; an idle wait really sleeping), the peer gone after it
// closes, and the failures of connecting (53 with the system's words).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

#include "serial/tcp_link.h"

namespace tvx::serial {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A listening socket on 127.0.0.1 at a port the system chose, and the one peer it accepts.
class Peer {
 public:
  Peer() {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener_, 1);
  }
  ~Peer() {
    if (accepted_ != INVALID_SOCKET) closesocket(accepted_);
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    WSACleanup();
  }

  std::uint16_t Port() const { return port_; }
  void Accept() { accepted_ = accept(listener_, nullptr, nullptr); }
  void StopListening() {
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
  }
  void Send(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(send(accepted_, reinterpret_cast<const char*>(bytes.data()),
                   static_cast<int>(bytes.size()), 0),
              static_cast<int>(bytes.size()));
  }
  std::vector<std::uint8_t> ReceiveExactly(std::size_t count) {
    std::vector<std::uint8_t> got(count);
    std::size_t at = 0;
    while (at < count) {
      const int n = recv(accepted_, reinterpret_cast<char*>(got.data() + at),
                         static_cast<int>(count - at), 0);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    got.resize(at);
    return got;
  }
  void Close() {
    closesocket(accepted_);
    accepted_ = INVALID_SOCKET;
  }

 private:
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET accepted_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
};

std::vector<std::uint8_t> AllByteValues() {
  std::vector<std::uint8_t> bytes(256);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

// Waits (a bounded number of rounds) and receives until `count` bytes came.
std::vector<std::uint8_t> ReceiveExactly(TcpLink& link, std::size_t count) {
  std::vector<std::uint8_t> got;
  for (int round = 0; round < 200 && got.size() < count; ++round) {
    link.AwaitInput(console::kNoWaitHandle, 50);
    std::uint8_t buffer[64];
    const std::size_t n = link.Receive(buffer);
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

TEST(WinTcpLinkTest, EveryByteValueBothWaysThenThePeerGone) {
  Peer peer;
  auto link = MakeTcpLink();
  ASSERT_EQ(link->Connect("127.0.0.1", peer.Port(), 5000), 0) << link->FailureText();
  peer.Accept();
  EXPECT_TRUE(link->IsConnected());
  EXPECT_EQ(link->Connect("127.0.0.1", peer.Port(), 5000), kErrPortAlreadyOpen);

  const std::vector<std::uint8_t> all = AllByteValues();
  EXPECT_EQ(link->Send(all, 5000), all.size());
  EXPECT_EQ(peer.ReceiveExactly(all.size()), all);
  peer.Send(all);
  EXPECT_EQ(ReceiveExactly(*link, all.size()), all);

  // Nothing waiting: the wait sleeps its time rather than returning at once.
  auto start = Clock::now();
  link->AwaitInput(console::kNoWaitHandle, 300);
  EXPECT_GE(MsSince(start), 200);

  // Input that came while nobody waited, after the last read took everything: the wait returns
  // at once, and again while it is still unread.
  peer.Send({0x41});
  start = Clock::now();
  link->AwaitInput(console::kNoWaitHandle, 10000);
  link->AwaitInput(console::kNoWaitHandle, 10000);
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_EQ(ReceiveExactly(*link, 1), std::vector<std::uint8_t>{0x41});

  // Input that arrives during the wait ends it.
  std::thread later([&peer] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer.Send({0x42});
  });
  start = Clock::now();
  link->AwaitInput(console::kNoWaitHandle, 10000);
  later.join();
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_EQ(ReceiveExactly(*link, 1), std::vector<std::uint8_t>{0x42});
  EXPECT_FALSE(link->PeerGone());

  // The peer closes: the wait ends, every later wait too, and the link says the peer is gone.
  peer.Close();
  start = Clock::now();
  link->AwaitInput(console::kNoWaitHandle, 10000);
  link->AwaitInput(console::kNoWaitHandle, 10000);
  EXPECT_LT(MsSince(start), 5000);
  std::uint8_t buffer[8];
  for (int round = 0; round < 100 && !link->PeerGone(); ++round) {
    EXPECT_EQ(link->Receive(buffer), 0u);
    link->AwaitInput(console::kNoWaitHandle, 50);
  }
  EXPECT_TRUE(link->PeerGone());
  EXPECT_FALSE(link->FailureText().empty());

  link->Close();
  EXPECT_FALSE(link->IsConnected());
  EXPECT_FALSE(link->PeerGone());
  EXPECT_TRUE(link->FailureText().empty());
}

TEST(WinTcpLinkTest, TheKeyHandleEndsTheWait) {
  Peer peer;
  auto link = MakeTcpLink();
  ASSERT_EQ(link->Connect("localhost", peer.Port(), 5000), 0) << link->FailureText();
  peer.Accept();
  HANDLE key = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  const auto start = Clock::now();
  link->AwaitInput(reinterpret_cast<console::NativeWaitHandle>(key), 10000);
  EXPECT_LT(MsSince(start), 5000);
  CloseHandle(key);
}

TEST(WinTcpLinkTest, ConnectFailuresAre53WithTheSystemsWords) {
  std::uint16_t refused_port = 0;
  {
    Peer closed;
    refused_port = closed.Port();
    closed.StopListening();
  }
  struct Case {
    const char* name;
    const char* host;
  } const cases[] = {{"refused", "127.0.0.1"}, {"unknown host", "no-such-radio.invalid"}};
  for (const Case& c : cases) {
    auto link = MakeTcpLink();
    EXPECT_EQ(link->Connect(c.host, refused_port, 5000), kErrNoSuchPort) << c.name;
    EXPECT_FALSE(link->FailureText().empty()) << c.name;
    EXPECT_FALSE(link->IsConnected()) << c.name;
  }
}

}  // namespace
}  // namespace tvx::serial
