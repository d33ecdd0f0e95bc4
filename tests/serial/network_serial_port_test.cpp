// The network port over a link in memory with a scripted serial server: what each job's
// settings send, the rate switch waited for, DTR never waited for, the purge, the server's line
// errors, a server that goes away, and the read time-outs.
#include "serial/network_serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "job/error_state.h"
#include "job/line.h"
#include "serial/telnet_codec.h"

namespace tvx::serial {
namespace {

using namespace telnet;
using Bytes = std::vector<std::uint8_t>;

// One request the server read: command and value.
struct Heard {
  int command;
  std::uint32_t value;
  bool operator==(const Heard&) const = default;
};

// A serial server in memory: reads what the port sends (data, negotiation, requests) and
// answers as told. Its answers reach the port at its next Receive, or, held, only once the port
// waits for input.
class ScriptedServer {
 public:
  bool answer_dtr = false;    // a server in front of a pseudo-terminal does not
  bool answer_rate = true;    // false: rate requests are never answered
  bool hold_answers = false;  // answers leave only when the port waits
  bool refuse_com_port = false;
  bool answer_negotiation = true;
  std::uint32_t rate_kept = 0;  // not 0: the rate the server answers whatever was asked

  Bytes data;  // data bytes the port sent, unescaped
  std::vector<Heard> requests;
  std::deque<std::uint8_t> to_port;
  Bytes held;

  void Hear(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) Step(b);
  }
  void Say(const Bytes& bytes) { to_port.insert(to_port.end(), bytes.begin(), bytes.end()); }
  void SayData(const Bytes& bytes) {
    Bytes wire;
    AppendEscaped(bytes, wire);
    Say(wire);
  }
  void Release() {
    Say(held);
    held.clear();
  }

 private:
  void Answer(const Bytes& bytes) {
    Bytes& into = hold_answers ? held : scratch_;
    into.insert(into.end(), bytes.begin(), bytes.end());
    if (!hold_answers) {
      Say(scratch_);
      scratch_.clear();
    }
  }
  void Step(std::uint8_t b) {
    switch (state_) {
      case 0:
        if (b == kIac) {
          state_ = 1;
        } else {
          data.push_back(b);
        }
        return;
      case 1:
        if (b == kIac) {
          data.push_back(kIac);
          state_ = 0;
        } else if (b == kSb) {
          sub_.clear();
          state_ = 3;
        } else {
          verb_ = b;
          state_ = 2;
        }
        return;
      case 2:
        if (answer_negotiation && verb_ == kWill && b == kOptionComPort) {
          Answer({kIac, refuse_com_port ? kDont : kDo, kOptionComPort});
        }
        state_ = 0;
        return;
      case 3:
        if (b == kIac) {
          state_ = 4;
        } else {
          sub_.push_back(b);
        }
        return;
      case 4:
        if (b == kIac) {
          sub_.push_back(kIac);
          state_ = 3;
          return;
        }
        state_ = 0;
        Request();
        return;
    }
  }
  void Request() {
    std::uint32_t value = 0;
    for (std::size_t i = 2; i < sub_.size(); ++i) value = (value << 8) | sub_[i];
    requests.push_back({sub_[1], value});
    const auto command = static_cast<ComCommand>(sub_[1]);
    if (command == ComCommand::kSetControl && (value == kControlDtrOn || value == kControlDtrOff) &&
        !answer_dtr) {
      return;
    }
    if (command == ComCommand::kSetBaudRate && !answer_rate) return;
    Bytes answer(sub_.begin() + 2, sub_.end());
    if (command == ComCommand::kSetBaudRate && rate_kept != 0) {
      answer = {static_cast<std::uint8_t>(rate_kept >> 24),
                static_cast<std::uint8_t>(rate_kept >> 16),
                static_cast<std::uint8_t>(rate_kept >> 8), static_cast<std::uint8_t>(rate_kept)};
    }
    Answer(ComRequest(static_cast<ComCommand>(sub_[1] + 100), answer));
  }

  int state_ = 0;
  std::uint8_t verb_ = 0;
  Bytes sub_;
  Bytes scratch_;
};

// The link: hands the port's bytes to the server and the server's to the port, `piece` bytes a
// Receive at most (so answers arrive cut), and counts the port's waits.
class MemoryLink final : public TcpLink {
 public:
  explicit MemoryLink(ScriptedServer& server) : server_(server) {}

  ErrorNumber Connect(const std::string& host, std::uint16_t port, int) override {
    host_ = host;
    port_ = port;
    if (!connect_failure.empty()) return kErrNoSuchPort;
    connected_ = true;
    return kNoError;
  }
  bool IsConnected() const override { return connected_; }
  void Close() override {
    connected_ = false;
    gone_ = false;
  }
  std::size_t Send(std::span<const std::uint8_t> bytes, int) override {
    if (!connected_ || gone_) return 0;
    server_.Hear(bytes);
    return bytes.size();
  }
  std::size_t Receive(std::span<std::uint8_t> into) override {
    if (!connected_) return 0;
    std::size_t n = 0;
    while (n < into.size() && n < piece && !server_.to_port.empty()) {
      into[n++] = server_.to_port.front();
      server_.to_port.pop_front();
    }
    if (n == 0 && closed_by_server) gone_ = true;
    return n;
  }
  bool PeerGone() const override { return gone_; }
  void AwaitInput(console::NativeWaitHandle, int) override {
    ++waits;
    server_.Release();
  }
  std::string FailureText() const override {
    return gone_ ? "Connection reset by peer" : connect_failure;
  }

  std::string connect_failure;
  bool closed_by_server = false;  // once the server's bytes are read, the connection is gone
  std::size_t piece = 3;
  int waits = 0;
  std::string host_;
  std::uint16_t port_ = 0;

 private:
  ScriptedServer& server_;
  bool connected_ = false;
  bool gone_ = false;
};

class NetworkPortTest : public ::testing::Test {
 protected:
  std::unique_ptr<SerialPort> MakePort() {
    auto link = std::make_unique<MemoryLink>(server_);
    link_ = link.get();
    return MakeNetworkSerialPort(std::move(link), NetworkPortLimits{1000, 30});
  }

  // Opens with the direct upload's profile and forgets what that sent.
  void OpenForUpload() {
    ASSERT_TRUE(line_.Open("rfc2217://bench:3001", job::Profile::kDirectUpload).ok());
    server_.requests.clear();
    link_->waits = 0;
  }

  ScriptedServer server_;
  MemoryLink* link_ = nullptr;
  std::unique_ptr<SerialPort> port_ = MakePort();
  job::ErrorState errors_;
  job::Line line_{*port_, errors_};
};

TEST_F(NetworkPortTest, ProfileIsSentAsRequestsWithFlowTurnedOffOnceAndDtrLast) {
  const job::OpenResult opened = line_.Open("rfc2217://Bench:3001/", job::Profile::kDirectUpload);
  ASSERT_TRUE(opened.ok()) << opened.reason;
  EXPECT_EQ(link_->host_, "Bench");
  EXPECT_EQ(link_->port_, 3001);
  const std::vector<Heard> expected = {
      {1, 19200}, {2, 8}, {3, kParityNone}, {4, 1}, {5, kControlNoFlow}, {5, kControlDtrOn}};
  EXPECT_EQ(server_.requests, expected);
  ControlState state;
  ASSERT_EQ(port_->GetControlState(state), kNoError);
  EXPECT_EQ(state.line_rate, 19200u);
  EXPECT_TRUE(state.dtr_on);
}

TEST_F(NetworkPortTest, RateSwitchReturnsOnlyOnceTheServerAnsweredAndDtrIsNeverAwaited) {
  OpenForUpload();
  server_.hold_answers = true;
  ControlState snapshot;
  ASSERT_TRUE(line_.ReadControlState(snapshot).ok());
  ASSERT_TRUE(line_.SwitchRate(snapshot, 4).ok());
  EXPECT_EQ(server_.requests, (std::vector<Heard>{{1, 115200}}));  // the rate alone
  EXPECT_GE(link_->waits, 1);
  EXPECT_TRUE(server_.held.empty() && server_.to_port.empty());  // its answer was taken

  link_->waits = 0;
  EXPECT_EQ(port_->Apply(LineSetting::kDtrLine, 0), kNoError);
  EXPECT_EQ(link_->waits, 0);  // unanswered, and not waited for
  EXPECT_EQ(server_.requests.back(), (Heard{5, kControlDtrOff}));
}

TEST_F(NetworkPortTest, UnansweredOrChangedRateIsRefusedWithTheReason) {
  server_.answer_rate = false;
  job::OpenResult opened = line_.Open("rfc2217://bench:3001", job::Profile::kRfUpload);
  EXPECT_EQ(opened.code, kErrDeviceControl);
  EXPECT_TRUE(opened.settings_refused);
  EXPECT_EQ(opened.reason, "the server did not answer the line rate request within 30 ms");

  server_.answer_rate = true;
  server_.rate_kept = 9600;
  opened = line_.Open("rfc2217://bench:3001", job::Profile::kRfUpload);
  EXPECT_EQ(opened.reason, "the server set the line rate to 9600 instead of 115200");
}

TEST_F(NetworkPortTest, EveryByteValuePassesBothWaysAndRepliesCutAcrossReadsAreTaken) {
  OpenForUpload();
  Bytes all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
  ASSERT_TRUE(line_.Send(all).ok());
  EXPECT_EQ(server_.data, all);

  // Data around a server notice and an answer, taken 3 bytes a read.
  server_.SayData({0xFF, 0x00});
  server_.Say({kIac, kSb, kOptionComPort, 107, 0x30, kIac, kSe});
  server_.SayData({0xFF, 0xFE});
  Bytes got(4);
  ASSERT_EQ(port_->SetTimeouts(Timeouts{}), kNoError);
  ASSERT_EQ(line_.Receive(got).count, 4u);
  EXPECT_EQ(got, (Bytes{0xFF, 0x00, 0xFF, 0xFE}));
  EXPECT_EQ(line_.Waiting().count, 0u);
}

// The last bytes written (the verdict) reach the server before the connection closes, and the
// server sets its device back only then.
TEST_F(NetworkPortTest, CloseAfterAWriteWaitsForTheServerToHaveIt) {
  OpenForUpload();
  ASSERT_TRUE(line_.SendByte(0xAA).ok());
  server_.hold_answers = true;
  EXPECT_EQ(port_->Close(), kNoError);
  EXPECT_EQ(server_.requests, (std::vector<Heard>{{1, 0}}));  // a query of the rate
  EXPECT_GE(link_->waits, 1);
  OpenForUpload();
  EXPECT_EQ(port_->Close(), kNoError);  // nothing written: nothing asked
  EXPECT_TRUE(server_.requests.empty());
}

TEST_F(NetworkPortTest, DiscardPurgesTheServerAndDropsWhatItSentBefore) {
  OpenForUpload();
  server_.SayData({1, 2, 3});
  server_.hold_answers = true;  // the purge's answer after the bytes, as on the wire
  const job::LineResult dropped = line_.Discard();
  EXPECT_TRUE(dropped.ok());
  EXPECT_EQ(dropped.count, 3u);
  EXPECT_EQ(server_.requests, (std::vector<Heard>{{12, kPurgeReceive}}));
  EXPECT_EQ(line_.Waiting().count, 0u);
}

TEST_F(NetworkPortTest, LineErrorOfTheServerIsReportedOnceThenTheBytesPass) {
  OpenForUpload();
  server_.SayData({7});
  server_.Say({kIac, kSb, kOptionComPort, 106, 0x02 | 0x60, kIac, kSe});  // overrun
  server_.Say({kIac, kSb, kOptionComPort, 106, 0x10 | 0x60, kIac, kSe});  // break: no error
  const job::LineResult first = line_.Waiting();
  EXPECT_EQ(first.code, kErrLineError);
  EXPECT_EQ(port_->FailureText(), "the server reported an overrun or a framing error");
  errors_.code = kNoError;
  const job::LineResult then = line_.Waiting();
  EXPECT_TRUE(then.ok());
  EXPECT_EQ(then.count, 1u);
}

TEST_F(NetworkPortTest, ServerGoneIsADeadLineAfterWhatItSentIsRead) {
  OpenForUpload();
  server_.SayData({9, 8});
  link_->closed_by_server = true;
  EXPECT_EQ(line_.Waiting().count, 2u);
  Bytes got(3);
  const job::LineResult read = line_.Receive(got);
  EXPECT_EQ(read.count, 2u);
  EXPECT_TRUE(read.dead());
  EXPECT_TRUE(port_->LineDead());
  EXPECT_EQ(port_->FailureText(), "Connection reset by peer");
  EXPECT_TRUE(line_.Send(Bytes{1}).dead());
  EXPECT_EQ(port_->Write(Bytes{1}), 0u);
  EXPECT_EQ(port_->Close(), kNoError);
  EXPECT_FALSE(port_->LineDead());
}

TEST_F(NetworkPortTest, ReadTimeoutsAsALocalPortHasThem) {
  OpenForUpload();
  constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
  struct Case {
    const char* name;
    Timeouts timeouts;
    std::size_t want;
    std::size_t got;
  };
  const Case cases[] = {
      {"at once: what is there", {kInfinite, 0, 0, 0, 0}, 4, 2},
      {"first byte then return", {kInfinite, kInfinite, 20, 0, 0}, 4, 2},
      {"total: short after the limit", {0, 1, 5, 0, 0}, 4, 2},
      {"interval after the last byte", {5, 0, 0, 0, 0}, 4, 2},
  };
  for (const Case& c : cases) {
    server_.SayData({5, 6});
    ASSERT_EQ(port_->SetTimeouts(c.timeouts), kNoError);
    Bytes got(c.want);
    EXPECT_EQ(port_->Read(got), c.got) << c.name;
    EXPECT_EQ(line_.Waiting().count, 0u) << c.name;
  }
}

TEST_F(NetworkPortTest, OpenFailuresSayWhy) {
  link_->connect_failure = "Connection refused";
  EXPECT_EQ(port_->Open("rfc2217://bench:3001"), kErrNoSuchPort);
  EXPECT_EQ(port_->OpenFailureText(), "Connection refused");
  link_->connect_failure.clear();

  EXPECT_EQ(port_->Open("rfc2217://bench"), kErrBadPortName);
  EXPECT_EQ(port_->OpenFailureText(), "not a serial server's port: no port number after the host");
  EXPECT_EQ(port_->Open("rfc2217://fe80::1:3001"), kErrBadPortName);
  EXPECT_EQ(port_->Open("rfc2217://bench:65536"), kErrBadPortName);

  server_.refuse_com_port = true;
  EXPECT_EQ(port_->Open("rfc2217://bench:3001"), kErrDeviceControl);
  EXPECT_EQ(port_->OpenFailureText(), "the server does not take serial-port requests");
  EXPECT_FALSE(port_->IsOpen());

  server_.answer_negotiation = false;  // a port that speaks no telnet
  EXPECT_EQ(port_->Open("rfc2217://[::1]:3001"), kErrNoSuchPort);
  EXPECT_EQ(link_->host_, "::1");
  EXPECT_EQ(port_->OpenFailureText(),
            "the server did not answer the telnet negotiation within 30 ms");
}

}  // namespace
}  // namespace tvx::serial
