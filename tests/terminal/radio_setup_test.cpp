// The Radio Setup Screen against the simulated radio on a pseudo-terminal (through the real
// POSIX serial backend), against a bare pseudo-terminal whose reader stops and resumes, and with
// a port in memory for a failed open and a dead line.
//
// The job runs on the test's thread. A script of steps runs on that thread too, at the start of
// the job's passes (from the port's bytes-waiting query): a step waits until the terminal has
// read everything the radio said, then looks at the screen, makes the radio talk or types.
#include "terminal/radio_setup.h"
#include "support/forwarding_port.h"
#include "support/noisy_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "radio_sim/posix_pty_radio.h"
#include "serial/posix_serial_port.h"
#include "serial/priority.h"
#include "serial/pseudo_terminal.h"
#include "support/fake_clock.h"
#include "support/fake_serial_port.h"
#include "support/scripted_console.h"

namespace tvx::testing {
namespace {

const std::string kTitleRow = "                       Radio Setup Screen" + std::string(39, ' ');
const std::string kF1 = std::string("\0;", 2);  // scan code 59
const std::string kF2 = std::string("\0<", 2);  // scan code 60

std::string Padded(std::string text) {
  text.resize(80, ' ');
  return text;
}

// The real port, with what the job read and wrote counted, and a hook at every query.
class WatchedPort final : public ForwardingPort {
 public:
  using ForwardingPort::ForwardingPort;

  std::function<void()> on_query;  ///< runs on the job's thread before every bytes-waiting query
  /// Asked at every query: true makes it report a receive error (57, nothing waiting), as a
  /// framing error on a real line would; a pseudo-terminal cannot carry one.
  std::function<bool()> line_error;
  std::uint64_t BytesRead() const { return read_.load(); }
  /// Writes that took nothing (the line was full for the whole write time-out).
  int EmptyWrites() const { return empty_writes_.load(); }
  std::string Written() const {
    std::lock_guard lock(mutex_);
    return written_;
  }

  serial::WaitingCount BytesWaiting() override {
    if (on_query) on_query();
    if (line_error && line_error()) return {0, serial::kErrLineError};
    return Inner().BytesWaiting();
  }
  std::size_t Read(std::span<std::uint8_t> into) override {
    const std::size_t n = Inner().Read(into);
    read_ += n;
    return n;
  }
  std::size_t Write(std::span<const std::uint8_t> bytes) override {  // the writer's thread
    const std::size_t n = Inner().Write(bytes);
    if (n == 0) ++empty_writes_;
    std::lock_guard lock(mutex_);
    written_.append(reinterpret_cast<const char*>(bytes.data()), n);
    return n;
  }
  // Short waits, so that the script also gets its turn when nothing arrives.
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override {
    Inner().AwaitActivity(also, timeout_ms < 0 ? 5 : std::min(timeout_ms, 5));
  }

 private:
  std::atomic<std::uint64_t> read_{0};
  std::atomic<int> empty_writes_{0};
  mutable std::mutex mutex_;
  std::string written_;
};

// The terminal's side of a test: the scripted console and the real POSIX port, watched.
class TerminalOnRealPort : public ::testing::Test {
 protected:
  TerminalOnRealPort()
      : port_(new WatchedPort(serial::MakePosixSerialPort())),
        port_owner_(port_),
        ctx_(console_, *port_, priority_, clock_) {}

  ScriptedConsole console_;
  FakeClock clock_;
  serial::NoPriority priority_;
  WatchedPort* port_;
  std::unique_ptr<serial::SerialPort> port_owner_;
  job::RunContext ctx_;
  terminal::TerminalLink link_;
};

class RadioSetupTest : public TerminalOnRealPort {
 protected:
  ~RadioSetupTest() override {
    if (radio_) radio_->Stop();
  }

  void StartRadio(const sim::RadioConfig& config = {}) {
    radio_ = std::make_unique<sim::PtyRadio>(config);
    ASSERT_EQ(radio_->Start(), "");
    ctx_.link.devices[0] = radio_->DevicePath();
  }

  /// Adds a step: once the terminal has read all the radio said and the radio heard all keys
  /// typed so far, `act` runs (on the job's thread).
  void Then(std::function<void()> act) { steps_.push_back(std::move(act)); }

  void Say(const std::string& bytes) {
    said_ += bytes.size();
    radio_->Say(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                              bytes.size()));
  }
  /// Types `keys`, which send `bytes_out` bytes to the radio.
  void Type(const std::vector<std::string>& keys, std::size_t bytes_out) {
    typed_ += bytes_out;
    console_.FeedKeys(keys);
  }

  /// Runs the job through the steps, then q. A step that never comes fails the test.
  void Run() {
    const auto start = std::chrono::steady_clock::now();
    bool quit = false;
    port_->on_query = [&] {
      if (quit) return;
      const sim::RadioCounters c = radio_->Counters();
      const bool settled = c.bytes_received == typed_ && port_->BytesRead() == c.bytes_sent + said_;
      if (!settled && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) return;
      if (!settled) {
        ADD_FAILURE() << "the terminal did not settle: read " << port_->BytesRead() << " of "
                      << c.bytes_sent + said_ << ", radio heard " << c.bytes_received << " of "
                      << typed_;
        steps_.clear();
      }
      if (steps_.empty()) {
        quit = true;
        console_.Feed("q");
        return;
      }
      std::function<void()> act = std::move(steps_.front());
      steps_.pop_front();
      act();
    };
    terminal::RunRadioSetup(ctx_, link_);
    port_->on_query = nullptr;
  }

  const console::ScreenModel& Screen() const { return console_.Screen(); }
  void ExpectCursor(int row, int column) {
    EXPECT_EQ(Screen().CursorRow(), row);
    EXPECT_EQ(Screen().CursorColumn(), column);
  }

  std::unique_ptr<sim::PtyRadio> radio_;
  std::deque<std::function<void()>> steps_;
  std::uint64_t said_ = 0;
  std::uint64_t typed_ = 0;
};

TEST_F(RadioSetupTest, KeysGoToTheRadioAndItsAnswerIsShown) {
  StartRadio();
  ctx_.link.baud_rate = 38400;  // as the settings screen leaves it
  Then([&] {
    EXPECT_EQ(console_.RowText(1), kTitleRow);
    EXPECT_TRUE(console_.RowColours(1, 1, 80, console::kYellow, console::kBlue));
    EXPECT_EQ(console_.RowText(51), Padded("  Com1        Baudrate =  38400   Q or q to quit"));
    EXPECT_TRUE(console_.RowColours(51, 1, 80, console::kYellow, console::kBlue));
    ExpectCursor(2, 1);
    Type({"3", "\r"}, 2);
  });
  Then([&] {
    EXPECT_EQ(console_.RowText(2), Padded("3"));
    EXPECT_EQ(console_.RowText(3), Padded("Firmware Rev 2.54"));
    EXPECT_EQ(console_.RowText(4), Padded("Choice> "));
    EXPECT_TRUE(console_.RowColours(3, 1, 80, console::kBrightWhite, console::kBlack));
    ExpectCursor(4, 9);
    EXPECT_EQ(radio_->Line().rate, 38400u);
    Type({kF1}, 1);
  });
  Then([&] { Type({kF2, "a"}, 3); });
  Run();

  EXPECT_EQ(port_->Written(), std::string("3\r\xFF\x00\x3C"
                                          "a",
                                          6));  // and no q
  EXPECT_EQ(radio_->Counters().setup.menus_shown, 1u);
  EXPECT_EQ(ctx_.errors.count, 0);
  EXPECT_FALSE(port_->IsOpen());
}

// The radio's line reports a receive error after the first key: that query reads nothing, the
// next byte read brings the report (57 on row 51), and the byte is still shown.
TEST_F(RadioSetupTest, ALineErrorIsReportedAndTheRadiosAnswerStillShown) {
  StartRadio(sim::RadioConfig().Add(sim::Fault::kSetupLineError, 1));
  std::uint32_t reported = 0;
  port_->line_error = [&] {
    if (radio_->Counters().setup.line_errors == reported) return false;
    return ++reported != 0;
  };
  Then([&] { Type({"3", "\r"}, 2); });
  Then([&] {
    EXPECT_EQ(console_.RowText(2), Padded("3"));
    EXPECT_EQ(console_.RowText(3), Padded("Firmware Rev 2.54"));
    EXPECT_EQ(
        console_.RowText(51),
        Padded("  Com1        Baudrate =  19200   Q or q to quit                  1  57   0 "));
  });
  Run();
  EXPECT_EQ(reported, 1u);
  EXPECT_EQ(ctx_.errors.count, 1);
}

TEST_F(RadioSetupTest, TheRadiosBytesOnTheScreen) {
  StartRadio();
  const std::string digits =
      "0123456789012345678901234567890123456789"
      "0123456789012345678901234567890123456789";
  Then([&] { Say("OK\r\n"); });
  Then([&] {
    EXPECT_EQ(console_.RowText(2), Padded("OK"));
    ExpectCursor(3, 1);  // the line feed is dropped
    std::string controls;
    for (int b = 0; b <= 20; ++b) {
      if (b != 13) controls.push_back(static_cast<char>(b));
    }
    Say(controls);
  });
  Then([&] {
    EXPECT_EQ(console_.RowText(2), Padded("OK"));
    for (int row = 3; row <= 50; ++row) EXPECT_EQ(console_.RowText(row), Padded("")) << row;
    ExpectCursor(3, 1);
    Say(std::string(47, '\r'));  // down to row 50 without a scroll
  });
  Then([&] {
    ExpectCursor(50, 1);
    EXPECT_EQ(console_.RowText(2), Padded("OK"));
    Say(digits);
  });
  Then([&] {
    // The 80th byte filled column 80 of row 50: rows 2 to 50 moved up one.
    EXPECT_EQ(console_.RowText(49), digits);
    EXPECT_EQ(console_.RowText(50), Padded(""));
    EXPECT_EQ(console_.RowText(2), Padded(""));
    ExpectCursor(50, 1);
    Say("Z\r");
  });
  Then([&] {
    // A carriage return on row 50 scrolls too.
    EXPECT_EQ(console_.RowText(48), digits);
    EXPECT_EQ(console_.RowText(49), Padded("Z"));
    EXPECT_EQ(console_.RowText(50), Padded(""));
    ExpectCursor(50, 1);
    Say("\x15\x80\xB0\xFF\x1B");
  });
  Run();

  EXPECT_EQ(console_.RowText(50), Padded("\x15\x80\xB0\xFF\x1B"));
  EXPECT_TRUE(console_.RowColours(50, 1, 80, console::kBrightWhite, console::kBlack));
  EXPECT_EQ(console_.RowText(1), kTitleRow);
  EXPECT_EQ(console_.RowText(51), Padded("  Com1        Baudrate =  19200   Q or q to quit"));
  EXPECT_EQ(port_->Written(), "");
  EXPECT_EQ(ctx_.errors.count, 0);
}

// The radio as a bare pseudo-terminal that the test reads itself: it can stop reading (the line
// towards it filled up) and read again.
class StalledLineTest : public TerminalOnRealPort {
 protected:
  void SetUp() override {
    ASSERT_TRUE(radio_.Ready());
    ctx_.link.devices[0] = radio_.SlavePath();
  }

  static double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

  /// Once the terminal has opened the port (its first query), the radio stops reading: the line
  /// towards it is filled up. Then `keys` are typed at once.
  void StallThenType(const std::string& keys) {
    port_->on_query = [this, keys] {
      if (filled_) return;
      filler_ = radio_.FillTowardsRadio();
      console_.Feed(keys);
      filled_ = true;
    };
  }
  /// Waits (on the radio's thread) until StallThenType's filler is in place; returns its size.
  std::size_t AwaitStall() const {
    while (!filled_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return filler_;
  }

  PseudoTerminal radio_;
  std::atomic<bool> filled_{false};
  std::size_t filler_ = 0;  // written before filled_ is set
};

// Far more than the ring holds, typed at once while the radio reads nothing for a second: the
// screen holds the keys back, shows what the radio says meanwhile, uses no CPU, and every key
// reaches the radio in order once it reads again.
TEST_F(StalledLineTest, APasteWhileTheRadioReadsNothingReachesItWholeAndInOrder) {
  const std::string_view alphabet = "abcdefghijklmnoprstuvwxyz0123456789 \r";  // no Q or q
  std::string paste;
  for (std::size_t i = 0; i < 12000; ++i) paste += alphabet[(i * 7 + i / 37) % alphabet.size()];
  StallThenType(paste);

  std::vector<std::uint8_t> received;
  bool shown_while_held = false;
  double cpu_seconds = 0;
  std::thread radio([&] {
    const std::size_t filler = AwaitStall();
    const double cpu_start = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    radio_.Send({'W', 'A', 'I', 'T', '\r'});
    for (int i = 0; i < 600 && port_->BytesRead() < 5; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    shown_while_held = port_->BytesRead() == 5 && console_.KeysLeft() > 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    cpu_seconds = CpuSeconds() - cpu_start;
    received = radio_.Receive(filler + paste.size(), 10000);
    console_.Feed("q");
  });
  terminal::RunRadioSetup(ctx_, link_);
  radio.join();

  ASSERT_EQ(received.size(), filler_ + paste.size());
  EXPECT_TRUE(
      std::string(received.begin() + static_cast<std::ptrdiff_t>(filler_), received.end()) == paste)
      << "the radio received the paste changed";
  EXPECT_TRUE(shown_while_held);
  EXPECT_EQ(console_.RowText(2), Padded("WAIT"));
  EXPECT_EQ(console_.Beeps(), 0);
  EXPECT_LT(cpu_seconds, 0.3) << "the screen or the writer spun while the line was full";
}

// A key the line could not take goes out as soon as the line takes bytes again: the writer
// waits in the port for room, not a fixed retry time. The radio resumes right after a write
// gave up; a retry wait would hold the key 100 ms.
TEST_F(StalledLineTest, AWaitingKeyGoesOutAsSoonAsTheLineTakesBytesAgain) {
  StallThenType("K");
  std::vector<std::uint8_t> received;
  std::chrono::steady_clock::duration delay{};
  std::thread radio([&] {
    const std::size_t filler = AwaitStall();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (port_->EmptyWrites() == 0 && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const auto resumed = std::chrono::steady_clock::now();
    received = radio_.Receive(filler + 1, 5000);
    delay = std::chrono::steady_clock::now() - resumed;
    console_.Feed("q");
  });
  terminal::RunRadioSetup(ctx_, link_);
  radio.join();

  ASSERT_EQ(received.size(), filler_ + 1);
  EXPECT_EQ(received.back(), 'K');
  EXPECT_GT(port_->EmptyWrites(), 0) << "the line was not full: the key went out at once";
  // 20 ms is the aim; the limit leaves room for a loaded machine and still catches a retry wait.
  EXPECT_LT(delay, std::chrono::milliseconds(60))
      << std::chrono::duration_cast<std::chrono::milliseconds>(delay).count() << " ms";
}

// "q1" typed at once: the screen closes on the q and the 1 is thrown away, so the menu, which
// comes next, never acts on it; nothing reaches the radio.
TEST_F(StalledLineTest, KeysTypedBehindQAreThrownAway) {
  console_.Feed("q1");
  terminal::RunRadioSetup(ctx_, link_);
  EXPECT_EQ(console_.KeysTaken(), std::vector<std::string>{"q"});
  EXPECT_EQ(console_.KeysDiscarded(), std::vector<std::string>{"1"});
  EXPECT_EQ(console_.KeysLeft(), 0u);
  EXPECT_TRUE(radio_.Receive(1, 50).empty());
}

TEST(RadioSetupFailureTest, AFailedOpenIsReportedAndQStillReturns) {
  ScriptedConsole console;
  FakeSerialPort port;
  port.open_result = serial::kErrNoSuchPort;
  serial::NoPriority priority;
  FakeClock clock;
  job::RunContext ctx(console, port, priority, clock);
  terminal::TerminalLink link;

  console.FeedKeys({"a", kF1, "\r"});
  // The keys go nowhere; q arrives only once the terminal waits for keys.
  std::thread quit([&] {
    while (console.KeysLeft() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    console.Feed("q");
  });
  terminal::RunRadioSetup(ctx, link);
  quit.join();

  // The open's 53 first, then the 52 of the port operations at the close.
  EXPECT_EQ(console.RowText(51),
            Padded("  Com1        Baudrate =  19200   Q or q to quit                  2  52   0 "));
  EXPECT_EQ(console.RowText(1), kTitleRow);
  EXPECT_EQ(ctx.errors.count, 2);
  EXPECT_EQ(console.Beeps(), 2);
  EXPECT_TRUE(port.Taken().empty());
  EXPECT_FALSE(link.writer.joinable());
}

// The writer's time-out is its own, whatever time-outs the port had: every write waits at most
// kWriteTimeoutMs for the line, however many keys it carries; the reads keep theirs.
TEST(RadioSetupPortTest, EachWriteWaitsTheWritersOwnTimeOutWhateverThePortHad) {
  class PortWithTimeouts final : public ForwardingPort {
   public:
    using ForwardingPort::ForwardingPort;
    serial::ErrorNumber GetTimeouts(serial::Timeouts& out) override {
      out = {.read_interval = 1,
             .read_total_per_byte = 2,
             .read_total_constant = 3,
             .write_total_per_byte = 40,
             .write_total_constant = 5000};
      return 0;
    }
  };
  ScriptedConsole console;
  FakeSerialPort fake;
  PortWithTimeouts port(fake);
  serial::NoPriority priority;
  FakeClock clock;
  job::RunContext ctx(console, port, priority, clock);
  terminal::TerminalLink link;
  console.Feed("q");
  terminal::RunRadioSetup(ctx, link);
  const serial::Timeouts set = fake.Timeouts();
  EXPECT_EQ(set.write_total_per_byte, 0u);
  EXPECT_EQ(set.write_total_constant, terminal::kWriteTimeoutMs);
  EXPECT_EQ(set.read_interval, 1u);
  EXPECT_EQ(set.read_total_per_byte, 2u);
  EXPECT_EQ(set.read_total_constant, 3u);
}

// A line that takes nothing fills the ring to one byte short of full: the next key, an
// extended one of two bytes, waits whole in the user's terminal until the line takes bytes
// again, then goes out whole after the others.
TEST(RadioSetupPortTest, AnExtendedKeyWaitsForRoomForBothItsBytes) {
  ScriptedConsole console;
  FakeSerialPort port;
  port.takes_per_write = 0;
  serial::NoPriority priority;
  FakeClock clock;
  job::RunContext ctx(console, port, priority, clock);
  terminal::TerminalLink link;
  std::vector<std::string> keys(terminal::TxRing::kSize - 1, "a");
  keys.push_back(kF2);
  console.FeedKeys(keys);
  std::thread radio([&] {
    for (int i = 0; i < 5000 && console.KeysLeft() > 1; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.takes_per_write = SIZE_MAX;
    port.WaitForTaken(keys.size() + 1, 3000);
    console.Feed("q");
  });
  terminal::RunRadioSetup(ctx, link);
  radio.join();
  const std::vector<std::uint8_t> taken = port.Taken();
  EXPECT_EQ(std::string(taken.begin(), taken.end()),
            std::string(terminal::TxRing::kSize - 1, 'a') + kF2);
}

// A line error (57) found while the screen is up shows on the status line as soon as the radio
// says more, before its bytes, not only when the screen closes.
TEST(RadioSetupFailureTest, ALineErrorShowsWithTheRadiosNextBytes) {
  ScriptedConsole console;
  FakeSerialPort fake;
  const std::uint8_t ok[] = {'O', 'K', '\r'};
  fake.Receive(ok);
  fake.waiting_error = serial::kErrLineError;
  NoisyPort port(fake);
  serial::NoPriority priority;
  FakeClock clock;
  job::RunContext ctx(console, port, priority, clock);
  terminal::TerminalLink link;
  std::string status;
  port.on_query = [&](NoisyPort&) {
    const int query = fake.BytesWaitingCalls();
    if (query == 4) {  // the error is in by now
      const std::uint8_t x[] = {'X'};
      fake.Receive(x);
    } else if (status.empty() && (console.RowText(3) == Padded("X") || query > 1000)) {
      status = console.RowText(51);
      console.Feed("q");
    }
  };
  terminal::RunRadioSetup(ctx, link);
  EXPECT_EQ(console.RowText(3), Padded("X"));
  EXPECT_EQ(status,
            Padded("  Com1        Baudrate =  19200   Q or q to quit                  1  57   0 "));
}

TEST(RadioSetupFailureTest, ADeadLineIsReportedOnceAndQStillReturns) {
  ScriptedConsole console;
  FakeSerialPort port;
  const std::string ok = "OK\r";
  port.Receive(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(ok.data()), ok.size()));
  port.waiting_error = serial::kErrLineDead;
  serial::NoPriority priority;
  FakeClock clock;
  job::RunContext ctx(console, port, priority, clock);
  terminal::TerminalLink link;

  std::atomic<bool> done{false};
  // Upper case quits too; a terminal that sent it to the radio instead is ended with "q".
  console.OnKeyWanted([&](ScriptedConsole& c) {
    if (c.KeysTaken().empty()) {
      c.FeedKeys({"x", "Q"});
    } else if (c.KeysTaken().back() == "Q") {
      c.Feed("q");
    }
  });
  // A terminal that kept asking the dead port would never wait for a key: end it from outside.
  std::thread guard([&] {
    while (!done && port.BytesWaitingCalls() < 200) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!done) console.Feed("q");
  });
  terminal::RunRadioSetup(ctx, link);
  done = true;
  guard.join();

  EXPECT_EQ(console.RowText(2), Padded("OK"));
  EXPECT_EQ(console.RowText(51),
            Padded("  Com1        Baudrate =  19200   Q or q to quit                  1  59   0 "));
  EXPECT_EQ(ctx.errors.count, 1);
  EXPECT_EQ(console.Beeps(), 1);
  EXPECT_EQ(console.KeysTaken(), (std::vector<std::string>{"x", "Q"}));
}

}  // namespace
}  // namespace tvx::testing

namespace tvx::testing {
namespace {

// A stop signal while the terminal runs closes it as Q does: the writer thread ends (joined) and
// the port is closed through its own path before the program goes on to end.
TEST(RadioSetupStopTest, AStopRequestClosesTheTerminalAndEndsTheWriter) {
  ScriptedConsole console;
  FakeSerialPort port;
  serial::NoPriority priority;
  FakeClock clock;
  job::RunContext ctx(console, port, priority, clock);
  terminal::TerminalLink link;

  // The signal comes from outside while the terminal polls the port.
  std::thread signal([&] {
    while (port.BytesWaitingCalls() < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    console.RequestStop(SIGTERM);
  });
  terminal::RunRadioSetup(ctx, link);
  signal.join();

  EXPECT_FALSE(link.writer.joinable());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(console.Starved());
  EXPECT_TRUE(console.KeysTaken().empty());  // nothing typed, nothing quit with q
}

}  // namespace
}  // namespace tvx::testing
