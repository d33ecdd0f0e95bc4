#include "rf/broadcast.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "console/format.h"
#include "console/stop_request.h"
#include "job/port_ops.h"
#include "rf/frames.h"

namespace tvx::rf {

namespace {

constexpr int kSentRow = 24;
constexpr int kEchoRow = 27;
constexpr int kDifferRow = 28;
constexpr int kHeaderPauseMs = 100;

enum class CopyResult { kIntact, kNotIntact, kLineDead };

// The bytes waiting, with the failure latched as job::BytesWaiting does; `dead` is set when this
// query found the line gone (a code left pending by an earlier port does not count).
std::size_t Waiting(job::RunContext& ctx, bool& dead) {
  const serial::WaitingCount waiting = ctx.port.BytesWaiting();
  ctx.errors.Latch(waiting.error);
  if (waiting.error == serial::kErrLineDead) dead = true;
  return waiting.error == serial::kNoError ? waiting.count : 0;
}

// Receives `count` bytes the queue reported; a short read on a line reported gone sets `dead`.
std::vector<std::uint8_t> Take(job::RunContext& ctx, std::size_t count, bool& dead) {
  std::vector<std::uint8_t> bytes = job::Receive(ctx, count);
  if (bytes.size() < count && ctx.errors.code == serial::kErrLineDead) dead = true;
  return bytes;
}

// What is left of the echo window, in whole milliseconds rounded up.
int WindowMs(double seconds) {
  return static_cast<int>(std::ceil(seconds * 1000.0));
}

int Column(std::size_t k) {
  return static_cast<int>(3 * k - 2);
}

// Compares a whole echo with the frame and shows it; true when every byte came back unchanged.
bool CompareEcho(job::RunContext& ctx, std::span<const std::uint8_t> frame,
                 std::span<const std::uint8_t> echo) {
  auto& screen = ctx.console.Screen();
  screen.Locate(kEchoRow, 2);
  screen.PrintText(std::string(console::kColumns, ' '));
  screen.NewLine();
  bool intact = true;
  for (std::size_t k = 1; k <= frame.size(); ++k) {
    const std::uint8_t sent = frame[k - 1];
    const std::uint8_t got = echo[k - 1];
    if (got != sent) {
      ++ctx.rf_mismatch_count;
      screen.Locate(kSentRow, Column(k));
      screen.PrintText(console::Hex(sent));
      screen.Locate(kDifferRow, Column(k));
      screen.PrintText(console::Hex(got));
      intact = false;
    }
    screen.Locate(kEchoRow, Column(k));
    screen.PrintText(console::Hex(got));
  }
  return intact;
}

// One copy and its echo window. The bytes of an echo are taken as they come, so the wait
// sleeps until the next byte arrives and wakes on the last one; they are compared only once the
// whole frame's worth is in, as if they had waited in the receive queue.
CopyResult SendCopy(job::RunContext& ctx, std::span<const std::uint8_t> frame) {
  RfFrameBuffer echo{};
  std::size_t got = 0;
  bool dead = false;
  CopyResult result = CopyResult::kNotIntact;

  ctx.priority.RaiseRealtime();
  (void)ctx.port.Write(frame);  // a failed write shows as a missing echo
  const double t0 = ctx.clock.Seconds();
  // The echo cannot be back yet: sleep until the first of it arrives before asking.
  ctx.port.AwaitActivity(console::kNoWaitHandle,
                         std::min(WindowMs(kEchoWindowSeconds), console::kStopCheckMs));
  for (;;) {
    const double left = kEchoWindowSeconds - (ctx.clock.Seconds() - t0);
    if (left <= 0.0 || job::StopRequested(ctx)) break;
    const std::size_t waiting = Waiting(ctx, dead);
    if (dead) {
      result = CopyResult::kLineDead;
      break;
    }
    if (waiting == 0) {
      ctx.port.AwaitActivity(console::kNoWaitHandle,
                             std::min(WindowMs(left), console::kStopCheckMs));
      continue;
    }
    const std::vector<std::uint8_t> bytes = Take(ctx, std::min(waiting, frame.size() - got), dead);
    if (dead) {
      result = CopyResult::kLineDead;
      break;
    }
    std::copy(bytes.begin(), bytes.end(), echo.begin() + static_cast<std::ptrdiff_t>(got));
    got += bytes.size();
    if (got < frame.size()) continue;
    got = 0;
    if (CompareEcho(ctx, frame, std::span<const std::uint8_t>(echo.data(), frame.size()))) {
      result = CopyResult::kIntact;
      break;
    }
  }
  ctx.priority.Normal();

  if (result == CopyResult::kNotIntact) {
    const std::size_t waiting = Waiting(ctx, dead);
    if (waiting > 0) (void)Take(ctx, waiting, dead);
    if (dead) result = CopyResult::kLineDead;
  }
  return result;
}

}  // namespace

FrameResult BroadcastDataFrame(job::RunContext& ctx, std::span<const std::uint8_t> frame,
                               std::int32_t copies) {
  for (std::int32_t good = 0; good < copies;) {
    const CopyResult result = SendCopy(ctx, frame);
    if (result == CopyResult::kLineDead) return FrameResult::kLineDead;
    if (job::StopRequested(ctx)) return FrameResult::kStop;
    if (ctx.console.KeyWaiting()) return FrameResult::kKeyWaiting;
    if (result == CopyResult::kIntact) ++good;
  }
  return FrameResult::kSent;
}

FrameResult BroadcastHeader(job::RunContext& ctx, std::span<const std::uint8_t> frame,
                            std::int32_t copies) {
  auto& screen = ctx.console.Screen();
  bool dead = false;
  for (std::int32_t i = 0; i < copies; ++i) {
    (void)ctx.port.Write(frame);
    if (!job::Pause(ctx, kHeaderPauseMs)) return FrameResult::kStop;
    if (Waiting(ctx, dead) <= 1) {
      if (dead) return FrameResult::kLineDead;
      continue;
    }
    const std::size_t waiting = Waiting(ctx, dead);
    for (std::size_t n = 0; n < waiting; ++n) {
      const std::vector<std::uint8_t> byte = Take(ctx, 1, dead);
      if (dead) return FrameResult::kLineDead;
      if (byte.empty()) break;
      screen.PrintText(console::Hex(byte[0]));
      screen.PrintText("  ");
    }
    screen.NewLine();
  }
  return dead ? FrameResult::kLineDead : FrameResult::kSent;
}

}  // namespace tvx::rf
