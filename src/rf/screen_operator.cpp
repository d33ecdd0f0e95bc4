#include "rf/screen_operator.h"

#include <string>
#include <string_view>

#include "job/run_context.h"
#include "rf/screen_rows.h"

namespace tvx::rf {

void ScreenOperator::OpenFailed(const job::OpenResult& result) {
  job::ShowOpenFailure(ctx_, result.settings_refused);
}

void ScreenOperator::FileBegins(std::int64_t pass) {
  ShowFileBegins(ctx_.console.Screen(), pass);
}

void ScreenOperator::RecordWalked(std::int32_t index) {
  CountWalkedRecord(ctx_.console.Screen(), ctx_.progress_counter, index);
}

void ScreenOperator::FileMade(const DownloadFile& file, std::span<const std::uint8_t> header) {
  ShowDownloadFile(ctx_.console.Screen(), file);
  ShowHeaderFrame(ctx_.console.Screen(), header);
}

void ScreenOperator::HeaderCopySent() {
  // The pause that follows is the moment to show what led to it.
  ctx_.console.Present(true);
}

void ScreenOperator::HeaderReply(std::span<const std::uint8_t> bytes) {
  ShowHeaderReply(ctx_.console.Screen(), bytes);
}

void ScreenOperator::FrameBuilt(std::int32_t index, std::span<const std::uint8_t> frame) {
  ShowDataFrame(ctx_.console.Screen(), frame, index, ctx_.rf_mismatch_count);
}

void ScreenOperator::EchoCompared(std::span<const std::uint8_t> frame,
                                  std::span<const std::uint8_t> echo, bool) {
  ShowEcho(ctx_.console.Screen(), frame, echo, ctx_.rf_mismatch_count);
}

void ScreenOperator::FrameDone(std::int64_t, std::int64_t) {
  ctx_.console.Present(false);
}

void ScreenOperator::Countdown(int seconds_left) {
  ShowCountdown(ctx_.console.Screen(), seconds_left);
  ctx_.console.Present(true);
}

void ScreenOperator::CountdownOver() {
  ClearCountdown(ctx_.console.Screen());
}

void ScreenOperator::LineError(serial::ErrorNumber) {
  job::ErrorReport(ctx_.errors, ctx_.console);
}

void ScreenOperator::Ended(const Outcome& outcome) {
  if (on_end_) on_end_(outcome);
  if (outcome.start != Start::kBroadcast) return;
  auto& screen = ctx_.console.Screen();
  ShowEnd(screen, outcome);
  (void)console::WaitForKey(ctx_.console);  // returns at once on a stop request
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
}

bool ScreenOperator::StopRequested() {
  return job::StopRequested(ctx_);
}

bool ScreenOperator::LeaveFrame() {
  return ctx_.console.KeyWaiting();
}

StopReason ScreenOperator::EndBroadcast() {
  return ctx_.console.ReadKey().empty() ? StopReason::kNone : StopReason::kOperator;
}

}  // namespace tvx::rf
