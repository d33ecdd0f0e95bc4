// The Radio Setup Screen against the simulated radio behind a port in memory, on a virtual time:
// the radio hangs up and comes back, and the record of the session.
//
// The screen's writer thread hands its writes over (HandOverPort); they go out on the test's
// thread at the screen's next call of the port, once the writer has taken every key queued, so
// the memory port stays single-threaded and each run is the same.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/priority.h"
#include "support/forwarding_port.h"
#include "support/memory_radio_port.h"
#include "support/scripted_console.h"
#include "support/virtual_time.h"
#include "terminal/radio_setup.h"
#include "terminal/reconnect.h"

namespace tvx::testing {
namespace {

class HandOverPort final : public ForwardingPort {
 public:
  HandOverPort(MemoryRadioPort& inner, const terminal::TxRing& ring)
      : ForwardingPort(inner), ring_(ring) {}

  std::function<void()> on_call;  ///< the test's step, at every query and wait of the screen
  int open_calls = 0;

  serial::ErrorNumber Open(std::string_view name) override {
    ++open_calls;
    const serial::ErrorNumber code = Inner().Open(name);
    open_ = Inner().IsOpen();
    return code;
  }
  serial::ErrorNumber Close() override {
    Settle();
    open_ = false;
    return Inner().Close();
  }
  bool IsOpen() const override { return open_; }
  bool LineDead() const override { return dead_; }
  std::size_t Write(std::span<const std::uint8_t> bytes) override {  // the writer's thread
    std::lock_guard lock(mutex_);
    handed_.insert(handed_.end(), bytes.begin(), bytes.end());
    return bytes.size();
  }
  serial::WaitingCount BytesWaiting() override {
    Settle();
    if (on_call) on_call();
    const serial::WaitingCount waiting = Inner().BytesWaiting();
    dead_ = Inner().LineDead();
    return waiting;
  }
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override {
    Settle();
    if (on_call) on_call();
    Inner().AwaitActivity(also, timeout_ms);
  }

 private:
  // Waits for the writer to take what the ring holds, then sends it on this thread.
  void Settle() {
    while (ring_.Pending() > 0) std::this_thread::yield();
    std::vector<std::uint8_t> bytes;
    {
      std::lock_guard lock(mutex_);
      bytes.swap(handed_);
    }
    if (!bytes.empty()) Inner().Write(bytes);
  }

  const terminal::TxRing& ring_;
  std::mutex mutex_;
  std::vector<std::uint8_t> handed_;
  std::atomic<bool> open_{false};
  std::atomic<bool> dead_{false};
};

constexpr std::string_view kGone = "Radio disconnected: waiting for it to come back";
constexpr std::string_view kBack = "Radio reconnected";

class RadioSetupReplugTest : public ::testing::Test {
 protected:
  void Start(const sim::RadioConfig& config) {
    memory_ = std::make_unique<MemoryRadioPort>(time_, config);
    port_ = std::make_unique<HandOverPort>(*memory_, link_.ring);
    ctx_ = std::make_unique<job::RunContext>(console_, *port_, priority_, clock_);
    ctx_->link.devices[0] = "mem:radio";
    console_.SetStarveLimitMs(2000);
  }

  /// Adds a step: once `ready` holds, `act` runs. Run ends with q after the last.
  void When(std::function<bool()> ready, std::function<void()> act) {
    steps_.push_back({std::move(ready), std::move(act)});
  }

  void Run(const terminal::RadioSetupOptions& options = {}) {
    std::size_t next = 0;
    bool given_up = false;
    port_->on_call = [&] {
      if (next < steps_.size() && steps_[next].ready()) {
        steps_[next++].act();
        if (next == steps_.size() && console_.KeysLeft() == 0) console_.Feed("q");
      } else if (time_.Now() > 60 && !given_up) {
        // A step that never came, or a screen that does not leave: end it as a signal would.
        ADD_FAILURE() << "stuck at step " << next;
        given_up = true;
        console_.RequestStop(15);
      }
    };
    terminal::RunRadioSetup(*ctx_, link_, options);
    port_->on_call = nullptr;
    EXPECT_EQ(next, steps_.size());
  }

  /// The row that shows `text` (trimmed), or 0.
  int RowOf(std::string_view text) const {
    for (int row = 2; row <= 50; ++row) {
      if (console_.RowTrimmed(row) == text) return row;
    }
    return 0;
  }
  std::string Status() const { return console_.RowTrimmed(51); }

  VirtualTime time_;
  VirtualClock clock_{time_};
  ScriptedConsole console_;
  serial::NoPriority priority_;
  terminal::TerminalLink link_;
  std::unique_ptr<MemoryRadioPort> memory_;
  std::unique_ptr<HandOverPort> port_;
  std::unique_ptr<job::RunContext> ctx_;
  struct Step {
    std::function<bool()> ready;
    std::function<void()> act;
  };
  std::vector<Step> steps_;
};

// The radio hangs up once it answered the second key and comes back 2 s later: the screen says
// it is gone, opens the same device again and says so, and keys typed then reach the radio and
// its answer shows below. The record holds the whole session, both ways, line by line.
TEST_F(RadioSetupReplugTest, TheRadioGoneAndBackAndTheSessionRecord) {
  Start(sim::RadioConfig().Add(sim::Fault::kSetupHangUp, 2, 2.0));
  double gone_at = 0;
  When([] { return true; }, [&] { console_.Feed("3\r"); });
  When([&] { return RowOf(kGone) != 0; },
       [&] {
         gone_at = time_.Now();
         EXPECT_EQ(console_.RowTrimmed(2), "3");
         EXPECT_EQ(console_.RowTrimmed(3), "Firmware Rev 2.54");
         EXPECT_EQ(console_.RowTrimmed(4), "Choice>");
         EXPECT_EQ(RowOf(kGone), 5);
         EXPECT_EQ(console_.Foreground(5, 1), console::kYellow);
         EXPECT_EQ(Status(),
                   "  Com1        Baudrate =  19200   Q or q to quit  Disconnected    1  59   0");
       });
  When([&] { return RowOf(kBack) != 0; },
       [&] {
         EXPECT_GE(time_.Now() - gone_at, 2.0);
         EXPECT_LT(time_.Now() - gone_at, 2.0 + 2 * terminal::Reconnect::kRecheckMs / 1000.0);
         EXPECT_EQ(RowOf(kBack), 6);
         EXPECT_EQ(Status(),
                   "  Com1        Baudrate =  19200   Q or q to quit                  "
                   "1  59   0");
         console_.Feed("3\r");
       });
  When([&] { return console_.Screen().CursorRow() == 9 && console_.Screen().CursorColumn() == 9; },
       [] {});  // "Choice> " shown whole
  std::vector<std::string> record;
  terminal::RadioSetupOptions options;
  options.session_log = [&](std::string_view line) { record.emplace_back(line); };
  options.now = [&] {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(
        1714566896000 + static_cast<long long>(time_.Now() * 1000)));  // 2024-05-01T12:34:56Z
  };
  Run(options);

  EXPECT_EQ(console_.RowTrimmed(7), "3");
  EXPECT_EQ(console_.RowTrimmed(8), "Firmware Rev 2.54");
  EXPECT_EQ(memory_->Opens(), 2);
  // The first open, then one try every Reconnect::kRecheckMs for the 2 s the radio was away.
  EXPECT_LE(port_->open_calls, 1 + 2000 / terminal::Reconnect::kRecheckMs + 2);
  EXPECT_EQ(memory_->WireBytes(), (std::vector<std::uint8_t>{'3', '\r', '3', '\r'}));  // no q
  EXPECT_EQ(ctx_->errors.count, 1);
  EXPECT_FALSE(port_->IsOpen());

  // Time and direction, then the bytes as they went; the prompt is written once it was quiet.
  const std::vector<std::string> said = {
      "> 3\\x0D", "< 3\\x0D\\x0A", "< Firmware Rev 2.54\\x0D\\x0A", "< Choice> ",
      "> 3\\x0D", "< 3\\x0D\\x0A", "< Firmware Rev 2.54\\x0D\\x0A", "< Choice> "};
  ASSERT_EQ(record.size(), said.size());
  std::string previous = "2024-05-01T12:34:56.000Z";  // the session's start
  for (std::size_t i = 0; i < said.size(); ++i) {
    const std::string stamp = record[i].substr(0, 24);
    EXPECT_EQ(record[i], stamp + " " + said[i] + "\n");
    EXPECT_TRUE(stamp.starts_with("2024-05-01T12:34:5") && stamp[19] == '.' && stamp[23] == 'Z')
        << stamp;
    EXPECT_GE(stamp, previous) << i;
    previous = stamp;
  }
  EXPECT_GE(record[4].substr(0, 24), "2024-05-01T12:34:58.000Z");  // typed after the return
}

// A radio that never comes back: Q leaves while the screen waits, nothing more is sent.
TEST_F(RadioSetupReplugTest, QLeavesWhileTheScreenWaitsForTheRadio) {
  Start(sim::RadioConfig().Add(sim::Fault::kSetupHangUp, 1, 0.0));
  When([] { return true; }, [&] { console_.Feed("3"); });
  When([&] { return RowOf(kGone) != 0; }, [&] { console_.Feed("xQ1"); });
  Run();
  EXPECT_EQ(console_.KeysTaken(), (std::vector<std::string>{"3", "x", "Q"}));
  EXPECT_EQ(console_.KeysDiscarded(), std::vector<std::string>{"1"});
  EXPECT_EQ(memory_->WireBytes(), std::vector<std::uint8_t>{'3'});
  EXPECT_EQ(memory_->Opens(), 1);
  EXPECT_FALSE(link_.writer.joinable());
}

}  // namespace
}  // namespace tvx::testing
