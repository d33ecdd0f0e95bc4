#include "rf/broadcast.h"

#include <algorithm>
#include <vector>

#include "job/wait.h"
#include "rf/frames.h"

namespace tvx::rf {

namespace {

enum class CopyResult { kIntact, kNotIntact, kLineDead };

// One copy and its echo window. The bytes of an echo are taken as they come, so the wait
// sleeps until the next byte arrives and wakes on the last one; they are compared only once the
// whole frame's worth is in, as if they had waited in the receive queue.
CopyResult SendCopy(const Tools& tools, Operator& op, std::span<const std::uint8_t> frame,
                    CopyReport& report, Tally& tally) {
  job::Line& line = tools.line;
  job::Waiter waiter(line, tools.clock, [&op] { return op.StopRequested(); });
  RfFrameBuffer echo{};
  std::size_t got = 0;
  CopyResult result = CopyResult::kNotIntact;

  tools.priority.RaiseRealtime();
  const job::LineResult sent = line.Send(frame);
  if (sent.count > 0) ++tally.data_copies;
  report.written = sent.ok();
  // A write that failed otherwise shows as a missing echo: the copy is written again.
  if (sent.dead()) result = CopyResult::kLineDead;
  // The window ends at a fixed time, so that however the waits round it closes right there.
  const double window_end = tools.clock.Seconds() + kEchoWindowSeconds;
  // The echo cannot be back yet: sleep until the first of it arrives before asking.
  if (!sent.dead()) waiter.Sleep({.until = window_end});
  while (result == CopyResult::kNotIntact) {
    if (waiter.Over(window_end)) break;
    const job::LineResult waiting = line.Waiting();
    if (waiting.dead()) {
      result = CopyResult::kLineDead;
      break;
    }
    if (waiting.count == 0) {
      waiter.Sleep({.until = window_end});
      continue;
    }
    const std::size_t want = std::min(waiting.count, frame.size() - got);
    const job::LineResult taken = line.Receive(std::span(echo.data() + got, want));
    report.bytes_back += taken.count;
    if (taken.dead()) {
      result = CopyResult::kLineDead;
      break;
    }
    got += taken.count;
    if (got < frame.size()) continue;
    got = 0;
    const std::span<const std::uint8_t> whole(echo.data(), frame.size());
    std::int64_t differing = 0;
    for (std::size_t k = 0; k < frame.size(); ++k) differing += whole[k] != frame[k] ? 1 : 0;
    tally.mismatches += differing;
    op.EchoCompared(frame, whole, differing == 0);
    if (differing == 0) result = CopyResult::kIntact;
  }
  tools.priority.Normal();

  if (result == CopyResult::kNotIntact) {
    const job::LineResult dropped = line.Discard();
    report.bytes_back += dropped.count;
    if (dropped.dead()) result = CopyResult::kLineDead;
  }
  report.intact = result == CopyResult::kIntact;
  report.seconds = tools.clock.Seconds();
  return result;
}

}  // namespace

FrameResult BroadcastDataFrame(const Tools& tools, Operator& op, std::int32_t record,
                               std::span<const std::uint8_t> frame, std::int32_t copies,
                               Tally& tally) {
  for (std::int32_t good = 0; good < copies;) {
    CopyReport report;
    report.record = record;
    const CopyResult result = SendCopy(tools, op, frame, report, tally);
    if (result == CopyResult::kLineDead) return FrameResult::kLineDead;
    op.CopyDone(report);
    if (op.StopRequested()) return FrameResult::kStop;
    if (op.LeaveFrame()) return FrameResult::kLeft;
    if (result == CopyResult::kIntact) ++good;
  }
  return FrameResult::kSent;
}

FrameResult BroadcastHeader(const Tools& tools, Operator& op, std::span<const std::uint8_t> frame,
                            std::int32_t copies, Tally& tally) {
  job::Line& line = tools.line;
  job::Waiter waiter(line, tools.clock, [&op] { return op.StopRequested(); });
  for (std::int32_t i = 0; i < copies; ++i) {
    const job::LineResult sent = line.Send(frame);
    if (sent.count > 0) ++tally.header_copies;
    if (sent.dead()) return FrameResult::kLineDead;
    op.HeaderCopySent();
    if (!waiter.Pause(kHeaderPauseMs)) return FrameResult::kStop;
    const job::LineResult first = line.Waiting();
    if (first.dead()) return FrameResult::kLineDead;
    if (first.count <= 1) continue;
    // Asked again: more may have come since.
    const job::LineResult waiting = line.Waiting();
    if (waiting.dead()) return FrameResult::kLineDead;
    std::vector<std::uint8_t> replies(waiting.count);
    const job::LineResult got = line.Receive(replies);
    replies.resize(got.count);
    op.HeaderReply(replies);
    if (got.dead()) return FrameResult::kLineDead;
  }
  return FrameResult::kSent;
}

}  // namespace tvx::rf
