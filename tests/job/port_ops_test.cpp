// The job-level port operations against a recording port: the order of the profile's settings,
// which failures end a job's open, the line-rate switch and the idle wait.
#include "job/port_ops.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "console/stop_request.h"
#include "support/fake_clock.h"

namespace tvx::testing {
namespace {

using serial::ErrorNumber;
using serial::LineSetting;

// No keys; Present(false) answers whether the screen is up to date.
class TestConsole final : public console::Console {
 public:
  std::string ReadKey() override { return ""; }
  bool KeyWaiting() override { return false; }
  void Beep() override { ++beeps; }
  bool Present(bool force) override {
    ++presents;
    return force || shows_everything;
  }
  void AwaitKey(int) override {}
  console::NativeWaitHandle KeyWaitHandle() const override { return 7; }

  int beeps = 0;
  int presents = 0;
  bool shows_everything = true;
};

class RecordingPort final : public serial::SerialPort {
 public:
  ErrorNumber Open(std::string_view) override {
    open = open_result == 0;
    return open_result;
  }
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
  ErrorNumber GetTimeouts(serial::Timeouts&) override { return 0; }
  ErrorNumber SetTimeouts(const serial::Timeouts&) override { return 0; }
  ErrorNumber GetControlState(serial::ControlState&) override { return 0; }
  ErrorNumber SetControlState(const serial::ControlState& s) override {
    state = s;
    ++state_writes;
    written_raised = raised_flag != nullptr && *raised_flag;
    return 0;
  }
  serial::WaitingCount BytesWaiting() override { return waiting; }
  std::size_t Read(std::span<std::uint8_t> into) override { return into.size(); }
  std::size_t Write(std::span<const std::uint8_t> bytes) override { return bytes.size(); }
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override {
    waits.emplace_back(also, timeout_ms);
  }

  ErrorNumber open_result = 0;
  bool open = false;
  std::map<LineSetting, ErrorNumber> refusals;
  std::vector<std::pair<LineSetting, std::uint32_t>> applied;
  serial::ControlState state;
  int state_writes = 0;
  const bool* raised_flag = nullptr;
  bool written_raised = false;
  serial::WaitingCount waiting;
  std::vector<std::pair<console::NativeWaitHandle, int>> waits;
};

// Remembers whether the priority was raised whenever the port's control state was written.
class WatchingPriority final : public serial::Priority {
 public:
  void RaiseRealtime() override { raised = true; }
  void Normal() override { raised = false; }
  bool raised = false;
};

class PortOpsTest : public ::testing::Test {
 protected:
  TestConsole console;
  RecordingPort port;
  WatchingPriority priority;
  FakeClock clock;
  job::RunContext ctx{console, port, priority, clock};
};

TEST_F(PortOpsTest, ProfilesApplyTheElevenSettingsInOrder) {
  const std::vector<std::pair<LineSetting, std::uint32_t>> rf = {
      {LineSetting::kLineRate, 115200},  {LineSetting::kDataBits, 8},
      {LineSetting::kParityCheck, 0},    {LineSetting::kStopBits, 1},
      {LineSetting::kTxQueueSize, 1024}, {LineSetting::kRxQueueSize, 2048},
      {LineSetting::kCtsOutputFlow, 0},  {LineSetting::kDsrOutputFlow, 0},
      {LineSetting::kDsrSensitivity, 0}, {LineSetting::kDtrHandshake, 0},
      {LineSetting::kDtrLine, 1}};
  ctx.link.baud_rate = 4800;
  EXPECT_TRUE(job::OpenPortForJob(ctx, job::Profile::kRfUpload));
  EXPECT_EQ(port.applied, rf);

  port.Close();
  port.applied.clear();
  EXPECT_TRUE(job::OpenPortForJob(ctx, job::Profile::kTerminal));
  ASSERT_EQ(port.applied.size(), 11u);
  EXPECT_EQ(port.applied[0].second, 4800u);  // the terminal runs at the settings' rate
  EXPECT_EQ(port.applied[5].second, 1024u);
  EXPECT_EQ(ctx.errors.code, 0);
  EXPECT_EQ(console.beeps, 0);
}

TEST_F(PortOpsTest, RefusedSettingsAreAllAttemptedAndTheLastCodeIsReported) {
  port.refusals = {{LineSetting::kLineRate, 5}, {LineSetting::kDtrHandshake, 51}};
  EXPECT_FALSE(job::OpenPortForJob(ctx, job::Profile::kDirectUpload));
  EXPECT_EQ(port.applied.size(), 11u);
  EXPECT_EQ(console.Screen().RowText(51).substr(64, 12), "  1  51   0 ");
  EXPECT_EQ(console.Screen().RowText(1).substr(0, 22), "Error Opening Com Port");
  EXPECT_EQ(console.Screen().CursorRow(), 2);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(clock.SleptMs(), 2000);
  EXPECT_EQ(console.beeps, 2);  // the report's and the message's
  EXPECT_EQ(ctx.errors.code, 0);
}

TEST_F(PortOpsTest, CodePendingFromEarlierIsNotAnOpenFailure) {
  ctx.errors.code = serial::kErrLineError;
  EXPECT_TRUE(job::OpenPortForJob(ctx, job::Profile::kRfUpload));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(ctx.errors.code, serial::kErrLineError);  // still pending for the job's own check
  EXPECT_EQ(ctx.errors.count, 0);
}

TEST_F(PortOpsTest, TerminalGoesOnAfterAFailedOpenWithPortNotOpenPending) {
  port.open_result = serial::kErrNoSuchPort;
  EXPECT_TRUE(job::OpenPortForJob(ctx, job::Profile::kTerminal));
  EXPECT_EQ(console.Screen().RowText(51).substr(64, 12), "  1  53   0 ");
  EXPECT_EQ(port.applied.size(), 11u);
  EXPECT_EQ(ctx.errors.code, serial::kErrPortNotOpen);
  EXPECT_EQ(clock.SleptMs(), 0);
}

TEST_F(PortOpsTest, SwitchLineRateWritesTheSnapshotUnderRaisedPriority) {
  port.raised_flag = &priority.raised;
  port.Open("Com1");
  serial::ControlState snapshot;
  snapshot.line_rate = 19200;
  job::SwitchLineRate(ctx, snapshot, 4);
  EXPECT_EQ(port.state.line_rate, 115200u);
  EXPECT_TRUE(port.written_raised);
  EXPECT_FALSE(priority.raised);
  job::SwitchLineRate(ctx, snapshot, 24);
  EXPECT_EQ(port.state.line_rate, 19200u);
  job::SwitchLineRate(ctx, snapshot, 0);  // no rate for divisor 0: nothing is written
  EXPECT_EQ(port.state_writes, 2);
}

TEST_F(PortOpsTest, DiscardInputReportsOnlyWhenItReadSomething) {
  port.Open("Com1");
  port.waiting = {0, serial::kErrLineError};
  job::DiscardInput(ctx);
  EXPECT_EQ(ctx.errors.code, serial::kErrLineError);  // left pending
  EXPECT_EQ(ctx.errors.count, 0);

  port.waiting = {5, 0};
  job::DiscardInput(ctx);
  EXPECT_EQ(ctx.errors.code, 0);
  EXPECT_EQ(ctx.errors.count, 1);
}

// No wait is longer than the stop check: a stop signal that lands just before a sleep is seen
// within it.
TEST_F(PortOpsTest, IdleWaitsOnPortAndKeysAndShortensWhileTheScreenLags) {
  job::Idle(ctx);
  job::Idle(ctx, 500);
  console.shows_everything = false;
  job::Idle(ctx);
  job::Idle(ctx, 500);
  job::Idle(ctx, 10);
  const std::vector<std::pair<console::NativeWaitHandle, int>> expected = {
      {7, console::kStopCheckMs}, {7, console::kStopCheckMs}, {7, 35}, {7, 35}, {7, 10}};
  EXPECT_EQ(port.waits, expected);
  EXPECT_EQ(console.presents, 5);
}

}  // namespace
}  // namespace tvx::testing
