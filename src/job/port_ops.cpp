#include "job/port_ops.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "console/stop_request.h"
#include "job/error_state.h"

namespace tvx::job {
using namespace serial;

namespace {

constexpr int kFailurePauseMs = 2000;
// While the console still holds changes back, a wait is cut to about one frame so they appear.
constexpr int kFrameWaitMs = 35;

// An upload job's way out after a failed open: report, say why, beep, close, pause.
void AbandonOpen(RunContext& ctx, std::string_view message) {
  ErrorReport(ctx.errors, ctx.console);
  ctx.monitor->Message(message);
  auto& screen = ctx.console.Screen();
  screen.PrintText(message);
  screen.NewLine();
  ctx.console.Beep();
  CloseAllPorts(ctx);
  Pause(ctx, kFailurePauseMs);
}

}  // namespace

std::array<std::pair<LineSetting, std::uint32_t>, 11> ProfileSettings(Profile profile,
                                                                      std::uint32_t terminal_rate) {
  std::uint32_t rate = terminal_rate;
  std::uint32_t rx_queue = 1024;
  if (profile == Profile::kRfUpload) {
    rate = 115200;
    rx_queue = 2048;
  } else if (profile == Profile::kDirectUpload) {
    rate = 19200;
    rx_queue = 2048;
  }
  return {{
      {LineSetting::kLineRate, rate},
      {LineSetting::kDataBits, 8},
      {LineSetting::kParityCheck, 0},
      {LineSetting::kStopBits, 1},
      {LineSetting::kTxQueueSize, 1024},
      {LineSetting::kRxQueueSize, rx_queue},
      {LineSetting::kCtsOutputFlow, 0},
      {LineSetting::kDsrOutputFlow, 0},
      {LineSetting::kDsrSensitivity, 0},
      {LineSetting::kDtrHandshake, 0},
      {LineSetting::kDtrLine, 1},
  }};
}

bool OpenPortForJob(RunContext& ctx, Profile profile) {
  SerialPort& port = ctx.port;
  const bool upload = profile != Profile::kTerminal;

  // The failure checks look at what this open and these settings did: a code still pending from
  // an earlier operation is not a failure of this port.
  const ErrorNumber open_result = port.Open(ctx.link.DeviceOf(ctx.link.port_name));
  ctx.errors.Latch(open_result);
  if (open_result != kNoError) {
    if (upload) {
      AbandonOpen(ctx, "Can't Open Com Port");
      return false;
    }
    ErrorReport(ctx.errors, ctx.console);
  }

  const auto settings = ProfileSettings(profile, static_cast<std::uint32_t>(ctx.link.baud_rate));
  bool refused = false;
  for (const auto& [setting, value] : settings) {
    const ErrorNumber result = port.Apply(setting, value);
    ctx.errors.Latch(result);
    refused = refused || result != kNoError;
  }
  if (upload && refused) {
    AbandonOpen(ctx, "Error Opening Com Port");
    return false;
  }

  if (!port.IsOpen()) ctx.errors.Latch(kErrPortNotOpen);
  return true;
}

void ZeroTimeouts(RunContext& ctx) {
  Timeouts timeouts;
  ctx.port.GetTimeouts(timeouts);
  timeouts = Timeouts{};
  ctx.port.SetTimeouts(timeouts);
}

void DiscardInput(RunContext& ctx) {
  const std::size_t waiting = BytesWaiting(ctx);
  if (waiting == 0) return;
  Receive(ctx, waiting);
  if (ctx.errors.code != kNoError) ErrorReport(ctx.errors, ctx.console);
}

void SwitchLineRate(RunContext& ctx, ControlState& snapshot, std::uint8_t divisor) {
  if (divisor == 0) return;  // no rate to switch to; the line stays as it is
  ctx.priority.RaiseRealtime();
  snapshot.line_rate = 460800u / divisor;
  ctx.port.SetControlState(snapshot);
  ctx.priority.Normal();
}

void CloseAllPorts(RunContext& ctx) {
  ctx.port.Close();
}

std::size_t BytesWaiting(RunContext& ctx) {
  const WaitingCount waiting = ctx.port.BytesWaiting();
  ctx.errors.Latch(waiting.error);
  return waiting.error == kNoError ? waiting.count : 0;
}

std::vector<std::uint8_t> Receive(RunContext& ctx, std::size_t count) {
  if (!ctx.port.IsOpen()) {
    ctx.errors.Latch(kErrPortNotOpen);
    return {};
  }
  std::vector<std::uint8_t> bytes(count);
  bytes.resize(ctx.port.Read(bytes));
  if (bytes.size() < count && ctx.port.LineDead()) ctx.errors.Latch(kErrLineDead);
  return bytes;
}

bool Send(RunContext& ctx, std::span<const std::uint8_t> bytes) {
  if (ctx.port.IsOpen() && ctx.port.Write(bytes) == bytes.size()) return true;
  ctx.errors.Latch(ctx.port.LineDead() ? kErrLineDead : kErrSendFailed);
  return false;
}

bool LineDead(RunContext& ctx) {
  if (ctx.errors.code == kErrLineDead) return true;
  if (!ctx.port.LineDead()) return false;
  ctx.errors.Latch(kErrLineDead);
  return true;
}

void ReportPending(RunContext& ctx) {
  if (ctx.errors.code != kNoError) ErrorReport(ctx.errors, ctx.console);
}

bool SendByte(RunContext& ctx, std::uint8_t byte) {
  return Send(ctx, std::span<const std::uint8_t>(&byte, 1));
}

bool StopRequested(const RunContext& ctx) {
  return ctx.console.StopRequested();
}

bool Pause(RunContext& ctx, int ms) {
  ctx.console.Present(true);
  return ctx.clock.SleepMsUnless(ms, console::kStopCheckMs, [&ctx] { return StopRequested(ctx); });
}

void Idle(RunContext& ctx, int timeout_ms) {
  if (StopRequested(ctx)) return;
  // A stop signal that lands just before the sleep begins does not end it: sleep no longer
  // than the stop check allows.
  int wait = timeout_ms < 0 ? console::kStopCheckMs : std::min(timeout_ms, console::kStopCheckMs);
  if (!ctx.console.Present(false) && (wait < 0 || wait > kFrameWaitMs)) wait = kFrameWaitMs;
  ctx.port.AwaitActivity(ctx.console.KeyWaitHandle(), wait);
}

}  // namespace tvx::job
