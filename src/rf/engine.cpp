#include "rf/engine.h"

#include <algorithm>

#include "job/wait.h"
#include "rf/download_file.h"
#include "rf/frames.h"

namespace tvx::rf {

namespace {

constexpr int kSecondMs = 1000;

NothingSent WhyNothingIsSent(const Plan& plan, std::int32_t first, std::int32_t record_count) {
  if (plan.passes <= 0) return NothingSent::kNoPass;
  if (plan.copies <= 0) return NothingSent::kNoCopies;
  if (first >= record_count) return NothingSent::kStartPastEnd;
  return NothingSent::kNo;
}

class Broadcast {
 public:
  Broadcast(const Plan& plan, const Tools& tools, Operator& op, Outcome& outcome)
      : plan_(plan),
        tools_(tools),
        op_(op),
        outcome_(outcome),
        waiter_(tools.line, tools.clock, [&op] { return op.StopRequested(); }) {}

  void Run();

 private:
  // One pass from the discard to its last record; false when the broadcast ends in it.
  bool RunPass(std::int64_t pass);
  // The data frames of a pass from the first record on; false when the broadcast ends.
  bool SendRecords(std::int64_t pass, std::int32_t record_count);
  // The six seconds between passes; false when a stop request cut them short.
  bool Countdown();
  bool Stop() { return op_.StopRequested(); }
  void Stopped(StopReason reason, StopPlace place, std::int32_t record, std::int64_t pass);
  // The one way out on a dead line: reported once, the broadcast ends where it was.
  void LineDied(StopPlace place, std::int32_t record, std::int64_t pass);

  const Plan& plan_;
  const Tools& tools_;
  Operator& op_;
  Outcome& outcome_;
  job::Waiter waiter_;  ///< the pauses, which a stop request cuts short
  Tally tally_;
  RfFrameBuffer frame_{};
  std::int64_t frames_done_ = 0;
  std::int64_t total_frames_ = 0;
  bool dead_ = false;
  StopReason end_reason_ = StopReason::kNone;  ///< why the operator ended the broadcast
};

void Broadcast::Stopped(StopReason reason, StopPlace place, std::int32_t record,
                        std::int64_t pass) {
  outcome_.stopped = true;
  outcome_.reason = reason;
  outcome_.stop_place = place;
  outcome_.stop_record = record;
  outcome_.stop_pass = pass;
  if (reason == StopReason::kSignal) outcome_.interrupted = true;
}

void Broadcast::LineDied(StopPlace place, std::int32_t record, std::int64_t pass) {
  dead_ = true;
  outcome_.line_error = tools_.line.FailureText();
  op_.LineError(tools_.line.Pending());
  Stopped(StopReason::kLineDead, place, record, pass);
}

void Broadcast::Run() {
  const std::int32_t first = outcome_.first_record;
  // The frames the operator hears of: every record from S on, in every pass.
  const std::int64_t per_pass = std::max<std::int64_t>(0, outcome_.record_count - first);
  total_frames_ = per_pass * std::max<std::int64_t>(0, plan_.passes);
  // Wider than a menu's answer, so no repeat count can make it overflow.
  for (std::int64_t pass = 0; pass < plan_.passes;) {
    const bool went_on = RunPass(pass);
    if (dead_ || outcome_.interrupted) break;
    if (went_on) ++outcome_.passes;
    // A person's end (a key) counts as the last pass: one more countdown when there were to be
    // more. A run that gave up (the radio silent for the operator's limit) waits for nothing.
    const bool ended = end_reason_ != StopReason::kNone;
    pass = ended ? plan_.passes + 1 : pass + 1;
    if (ended && end_reason_ != StopReason::kOperator) break;
    if (plan_.passes != 1 && pass != plan_.passes && !Countdown()) {
      if (outcome_.stopped) {
        outcome_.interrupted = true;  // where the operator stopped it stays the stop's place
        outcome_.reason = StopReason::kSignal;
      } else {
        Stopped(StopReason::kSignal, StopPlace::kCountdown, first, outcome_.passes);
      }
      break;
    }
  }
  outcome_.header_copies = tally_.header_copies;
  outcome_.data_copies = tally_.data_copies;
  outcome_.mismatches = tally_.mismatches;
}

bool Broadcast::RunPass(std::int64_t pass) {
  const std::int32_t first = outcome_.first_record;
  const StopPlace start_place = first == 0 ? StopPlace::kHeader : StopPlace::kRecord;
  const job::LineResult dropped = tools_.line.Discard();
  if (dropped.dead()) {
    LineDied(start_place, first, pass);
    return false;
  }
  // Bytes thrown away with a failure latched: reported, and the pass goes on.
  if (dropped.count > 0 && tools_.line.Pending() != serial::kNoError) {
    op_.LineError(tools_.line.Pending());
  }
  op_.PassBegins(pass, plan_.passes);
  op_.FileBegins(pass);
  const DownloadFile file =
      WalkDownloadFile(tools_.clock, tools_.image, tools_.record_buffer,
                       [this](std::int32_t index) { op_.RecordWalked(index); });
  const std::size_t header_length = RfHeaderFrame(frame_, file.record_count, file.checksum);
  const std::span<const std::uint8_t> header(frame_.data(), header_length);
  op_.FileMade(file, header);

  if (first == 0) {
    const FrameResult sent = BroadcastHeader(tools_, op_, header, plan_.copies, tally_);
    if (sent == FrameResult::kLineDead) {
      LineDied(StopPlace::kHeader, first, pass);
      return false;
    }
    if (sent == FrameResult::kStop) {
      Stopped(StopReason::kSignal, StopPlace::kHeader, first, pass);
      return false;
    }
  }
  return SendRecords(pass, file.record_count);
}

bool Broadcast::SendRecords(std::int64_t pass, std::int32_t record_count) {
  for (std::int32_t record = outcome_.first_record; record < record_count; ++record) {
    // A stop request ends the pass before a new record goes out.
    if (Stop()) {
      Stopped(StopReason::kSignal, StopPlace::kRecord, record, pass);
      return false;
    }
    image::FetchRecord(tools_.image, record, tools_.record_buffer);
    const std::uint8_t s = RandomByte(tools_.random.Next());
    const std::size_t length = RfDataFrame(frame_, tools_.record_buffer, record, s);
    const std::span<const std::uint8_t> frame(frame_.data(), length);
    op_.FrameBuilt(record, frame);
    const FrameResult result = BroadcastDataFrame(tools_, op_, record, frame, plan_.copies, tally_);
    if (result == FrameResult::kLineDead) {
      LineDied(StopPlace::kRecord, record, pass);
      return false;
    }
    if (result == FrameResult::kStop) {
      Stopped(StopReason::kSignal, StopPlace::kRecord, record, pass);
      return false;
    }
    if (result == FrameResult::kSent && plan_.copies > 0) ++outcome_.frames;
    op_.FrameDone(++frames_done_, total_frames_);
    // After the last copy the operator was just asked; what it decides in the moment since
    // counts after the next frame's first copy.
    if (result == FrameResult::kLeft || plan_.copies <= 0) {
      if (const StopReason why = op_.EndBroadcast(); why != StopReason::kNone) {
        Stopped(why, StopPlace::kRecord, record, pass);
        end_reason_ = why;
        return false;
      }
    }
  }
  return true;
}

bool Broadcast::Countdown() {
  for (int t = kCountdownFrom; t >= 0; --t) {
    op_.Countdown(t);
    if (!waiter_.Pause(kSecondMs)) return false;
  }
  op_.CountdownOver();
  return true;
}

}  // namespace

Outcome RunBroadcast(const Plan& plan, const Tools& tools, Operator& op) {
  Outcome outcome;
  outcome.passes_asked = plan.passes;
  // Records count from 0; a negative start would fetch from before the image.
  outcome.first_record = std::max(plan.start_record, 0);
  outcome.record_count = image::WalkRecordCount(tools.image);
  outcome.nothing_sent = WhyNothingIsSent(plan, outcome.first_record, outcome.record_count);

  const job::OpenResult opened = tools.line.Open(plan.device, job::Profile::kRfUpload);
  if (!opened.ok()) {
    outcome.start = Start::kPortNotOpened;
    outcome.reason =
        opened.settings_refused ? StopReason::kSettingsRefused : StopReason::kPortNotOpened;
    outcome.open_code = opened.code;
    outcome.open_error = opened.reason;
    op.OpenFailed(opened);
    op.Ended(outcome);
    return outcome;
  }
  tools.line.ZeroTimeouts();
  op.Opened(plan);

  const double start = tools.clock.Seconds();
  Broadcast(plan, tools, op, outcome).Run();
  outcome.seconds = tools.clock.Seconds() - start;
  op.Ended(outcome);
  tools.line.Close();
  return outcome;
}

}  // namespace tvx::rf
