// The job's line against a recording port: the profiles' settings and what a failed open leaves,
// what every operation latches (the codes a job reports), and the upload's way back to the menu
// after an open failure; the one wait every job sleeps in.
#include "job/line.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "job/run_context.h"
#include "job/wait.h"
#include "support/fake_clock.h"
#include "support/scripted_console.h"

namespace tvx::testing {
namespace {

using serial::ErrorNumber;
using serial::LineSetting;

class RecordingPort final : public serial::SerialPort {
 public:
  ErrorNumber Open(std::string_view) override {
    open = open_result == 0;
    return open_result;
  }
  std::string OpenFailureText() const override { return "open words"; }
  std::string FailureText() const override { return "setting words"; }
  bool IsOpen() const override { return open; }
  ErrorNumber Close() override {
    open = false;
    return 0;
  }
  ErrorNumber Apply(LineSetting setting, std::uint32_t value) override {
    applied.emplace_back(setting, value);
    if (!open) return serial::kErrPortNotOpen;
    const auto refusal = refusals.find(setting);
    return refusal == refusals.end() ? 0 : refusal->second;
  }
  ErrorNumber GetTimeouts(serial::Timeouts& out) override {
    out = timeouts;
    return 0;
  }
  ErrorNumber SetTimeouts(const serial::Timeouts& t) override {
    timeouts = t;
    return 0;
  }
  ErrorNumber GetControlState(serial::ControlState&) override { return 0; }
  ErrorNumber SetControlState(const serial::ControlState& s) override {
    state = s;
    ++state_writes;
    return 0;
  }
  serial::WaitingCount BytesWaiting() override { return waiting; }
  std::size_t Read(std::span<std::uint8_t> into) override {
    read_asks.push_back(into.size());
    return std::min(into.size(), readable);
  }
  std::size_t Write(std::span<const std::uint8_t> bytes) override {
    return std::min(bytes.size(), writable);
  }
  bool LineDead() const override { return dead; }
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override {
    awaits.emplace_back(also, timeout_ms);
  }

  ErrorNumber open_result = 0;
  bool open = false;
  bool dead = false;
  std::map<LineSetting, ErrorNumber> refusals;
  std::vector<std::pair<LineSetting, std::uint32_t>> applied;
  serial::Timeouts timeouts{1, 2, 3, 4, 5};
  serial::ControlState state;
  int state_writes = 0;
  serial::WaitingCount waiting;
  std::size_t readable = SIZE_MAX;
  std::size_t writable = SIZE_MAX;
  std::vector<std::size_t> read_asks;
  std::vector<std::pair<console::NativeWaitHandle, int>> awaits;
};

class LineTest : public ::testing::Test {
 protected:
  RecordingPort port;
  job::ErrorState errors;
  job::Line line{port, errors};
};

TEST_F(LineTest, ProfilesApplyTheElevenSettingsInOrder) {
  const std::vector<std::pair<LineSetting, std::uint32_t>> rf = {
      {LineSetting::kLineRate, 115200},  {LineSetting::kDataBits, 8},
      {LineSetting::kParityCheck, 0},    {LineSetting::kStopBits, 1},
      {LineSetting::kTxQueueSize, 1024}, {LineSetting::kRxQueueSize, 2048},
      {LineSetting::kCtsOutputFlow, 0},  {LineSetting::kDsrOutputFlow, 0},
      {LineSetting::kDsrSensitivity, 0}, {LineSetting::kDtrHandshake, 0},
      {LineSetting::kDtrLine, 1}};
  EXPECT_TRUE(line.Open("dev", job::Profile::kRfUpload, 4800).ok());
  EXPECT_EQ(port.applied, rf);

  line.Close();
  port.applied.clear();
  EXPECT_TRUE(line.Open("dev", job::Profile::kTerminal, 4800).ok());
  ASSERT_EQ(port.applied.size(), 11u);
  EXPECT_EQ(port.applied[0].second, 4800u);  // the terminal runs at the settings' rate
  EXPECT_EQ(port.applied[5].second, 1024u);
  EXPECT_EQ(errors.code, 0);
}

// Every setting is attempted and the last refusal is the one kept; an upload's port is closed
// again, the terminal's stays open. A device that did not open gets no settings at all.
TEST_F(LineTest, WhatAFailedOpenLeaves) {
  struct Case {
    job::Profile profile;
    ErrorNumber open_result;
    std::size_t settings_applied;
    ErrorNumber code;
    bool settings_refused;
    std::string reason;
    bool left_open;
  };
  const Case cases[] = {
      {job::Profile::kDirectUpload, 0, 11, 51, true, "setting words", false},
      {job::Profile::kRfUpload, 0, 11, 51, true, "setting words", false},
      {job::Profile::kTerminal, 0, 11, 51, true, "setting words", true},
      {job::Profile::kDirectUpload, serial::kErrNoSuchPort, 0, 53, false, "open words", false},
      {job::Profile::kTerminal, serial::kErrAccessDenied, 0, 70, false, "open words", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.profile) * 100 + c.open_result);
    port.applied.clear();
    port.open_result = c.open_result;
    port.refusals = {{LineSetting::kLineRate, 5}, {LineSetting::kDtrHandshake, 51}};
    errors = {};
    const job::OpenResult opened = line.Open("dev", c.profile, 9600);
    EXPECT_EQ(port.applied.size(), c.settings_applied);
    EXPECT_EQ(opened.code, c.code);
    EXPECT_EQ(errors.code, c.code);
    EXPECT_EQ(opened.settings_refused, c.settings_refused);
    EXPECT_EQ(opened.reason, c.reason);
    EXPECT_EQ(port.IsOpen(), c.left_open);
    line.Close();
  }
}

TEST_F(LineTest, ACodePendingFromEarlierIsNotAnOpenFailure) {
  errors.code = serial::kErrLineError;
  EXPECT_TRUE(line.Open("dev", job::Profile::kRfUpload).ok());
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(errors.code, serial::kErrLineError);  // still pending for the job's own check
}

// What each operation gives and latches, open, closed, short and dead.
TEST_F(LineTest, EveryOperationSaysWhatItCameToAndLatchesItsFailure) {
  const std::uint8_t four[4] = {1, 2, 3, 4};
  std::uint8_t into[4] = {};
  struct Case {
    const char* name;
    bool open;
    bool dead;
    std::size_t moves;  ///< bytes a read or write moves
    bool send;          ///< else receive
    std::size_t count;
    ErrorNumber code;
  };
  const Case cases[] = {
      {"send whole", true, false, 4, true, 4, 0},
      {"send short", true, false, 3, true, 3, serial::kErrSendFailed},
      {"send closed", false, false, 4, true, 0, serial::kErrSendFailed},
      {"send dead", true, true, 0, true, 0, serial::kErrLineDead},
      {"receive whole", true, false, 4, false, 4, 0},
      {"receive short", true, false, 2, false, 2, 0},  // time-outs end it: no failure
      {"receive closed", false, false, 4, false, 0, serial::kErrPortNotOpen},
      {"receive dead", true, true, 1, false, 1, serial::kErrLineDead},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    port.open = c.open;
    port.dead = c.dead;
    port.writable = port.readable = c.moves;
    errors = {};
    const job::LineResult result = c.send ? line.Send(four) : line.Receive(into);
    EXPECT_EQ(result.count, c.count);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(errors.code, c.code);
    EXPECT_EQ(result.dead(), c.code == serial::kErrLineDead);
  }
}

TEST_F(LineTest, WaitingAndDiscardTakeWhatTheQueryReports) {
  port.open = true;
  port.waiting = {0, serial::kErrLineError};
  EXPECT_EQ(line.Discard().code, serial::kErrLineError);  // nothing read
  EXPECT_TRUE(port.read_asks.empty());
  EXPECT_EQ(errors.code, serial::kErrLineError);

  errors = {};
  port.waiting = {5, 0};
  EXPECT_EQ(line.Discard().count, 5u);
  EXPECT_EQ(port.read_asks, std::vector<std::size_t>{5});
  EXPECT_EQ(errors.code, 0);
}

TEST_F(LineTest, DeadIsLatchedOnceUntilReported) {
  port.open = true;
  EXPECT_FALSE(line.Dead());
  EXPECT_TRUE(line.Up());
  port.dead = true;
  EXPECT_FALSE(line.Up());
  EXPECT_EQ(errors.code, 0);  // Up latches nothing
  EXPECT_TRUE(line.Dead());
  EXPECT_EQ(line.Pending(), serial::kErrLineDead);
}

TEST_F(LineTest, TimeOutsAndTheRateSwitch) {
  port.open = true;
  line.BoundWrites(100);
  EXPECT_EQ(port.timeouts.read_interval, 1u);  // the read time-outs stay as found
  EXPECT_EQ(port.timeouts.read_total_constant, 3u);
  EXPECT_EQ(port.timeouts.write_total_per_byte, 0u);
  EXPECT_EQ(port.timeouts.write_total_constant, 100u);
  line.ZeroTimeouts();
  EXPECT_EQ(port.timeouts.read_interval + port.timeouts.write_total_constant, 0u);

  serial::ControlState snapshot;
  snapshot.line_rate = 19200;
  EXPECT_TRUE(line.SwitchRate(snapshot, 4).ok());
  EXPECT_EQ(port.state.line_rate, 115200u);
  EXPECT_TRUE(line.SwitchRate(snapshot, 24).ok());
  EXPECT_EQ(port.state.line_rate, 19200u);
  EXPECT_TRUE(line.SwitchRate(snapshot, 0).ok());  // no rate for divisor 0: nothing is written
  EXPECT_EQ(port.state_writes, 2);
}

// The menu's way back after an upload's port did not open: the pending code reported, the
// message at the cursor and a new line, a beep and a 2 s pause.
TEST(ShowOpenFailureTest, ReportsSaysWhyBeepsAndPauses) {
  for (const bool refused : {false, true}) {
    ScriptedConsole console;
    RecordingPort port;
    serial::NoPriority priority;
    FakeClock clock;
    job::RunContext ctx{console, port, priority, clock};
    ctx.errors.code = refused ? 51 : serial::kErrNoSuchPort;
    job::ShowOpenFailure(ctx, refused);
    EXPECT_EQ(console.RowText(51).substr(64, 12), refused ? "  1  51   0 " : "  1  53   0 ");
    EXPECT_EQ(console.RowTrimmed(1), refused ? "Error Opening Com Port" : "Can't Open Com Port");
    EXPECT_EQ(console.Screen().CursorRow(), 2);
    EXPECT_EQ(clock.SleptMs(), 2000);
    EXPECT_EQ(console.Beeps(), 2);  // the report's and the message's
    EXPECT_EQ(ctx.errors.code, 0);
  }
}

// A clock that stands at 10 s and notes the pauses asked of it.
class StillClock final : public job::Clock {
 public:
  double Seconds() override { return 10.0; }
  double TimeOfDaySeconds() override { return 0.0; }
  void SleepMs(int ms) override { pauses.push_back(ms); }
  std::vector<int> pauses;
};

// One sleep of a wait: the port's wait gets the key handle and the time to the nearer of the
// deadline (rounded up) and the job's own limit, no longer than the stop check while a stop is
// watched; a stop already requested sleeps not at all, in a wait or a pause.
TEST(WaiterTest, SleepsToTheNearestEndAndNotAtAllOnceStopped) {
  struct Case {
    const char* name;
    job::LookAgain look;
    bool watch_stop;
    int expected_ms;
  };
  const Case cases[] = {
      {"nothing but the stop check", {}, true, 100},
      {"no end at all", {}, false, -1},
      {"a deadline, rounded up", {.until = 10.0333}, true, 34},
      {"a deadline past the stop check", {.until = 12.0}, true, 100},
      {"a deadline without a stop to watch", {.until = 12.0}, false, 2000},
      {"a deadline passed", {.until = 9.0}, true, 0},
      {"a frame before the deadline", {.until = 10.05, .within_ms = 33}, false, 33},
      {"a deadline before the frame", {.until = 10.01, .within_ms = 33}, false, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingPort port;
    job::ErrorState errors;
    job::Line line(port, errors);
    StillClock clock;
    bool stop = false;
    job::Waiter waiter(line, clock,
                       c.watch_stop ? std::function<bool()>([&] { return stop; }) : nullptr, 7);
    EXPECT_TRUE(waiter.Sleep(c.look));
    ASSERT_EQ(port.awaits.size(), 1u);
    EXPECT_EQ(port.awaits[0].first, 7);
    EXPECT_EQ(port.awaits[0].second, c.expected_ms);
    EXPECT_TRUE(waiter.Pause(250));
    EXPECT_EQ(clock.pauses, std::vector<int>{250});
    if (!c.watch_stop) continue;
    stop = true;
    EXPECT_FALSE(waiter.Sleep(c.look));
    EXPECT_FALSE(waiter.Pause(250));
    EXPECT_EQ(port.awaits.size(), 1u);
    EXPECT_TRUE(waiter.Over(job::kNoDeadline));
  }
}

}  // namespace
}  // namespace tvx::testing
