// The menu's side of the RF engine: draws the broadcast on the full screen as it goes, counts
// the run's echo mismatches, reports line failures on the status line, reads the keyboard for
// the operator's decisions (a key waiting after a copy leaves the frame, the key itself then
// ends the broadcast) and waits at the end prompt.
#pragma once

#include <functional>
#include <utility>

#include "job/run_context.h"
#include "rf/operator.h"

namespace tvx::rf {

class ScreenOperator final : public Operator {
 public:
  /// Draws on ctx's console and counts on its run-wide counters. `on_end` (may be empty) runs
  /// once the outcome is known, before the end prompt.
  ScreenOperator(job::RunContext& ctx, std::function<void(const Outcome&)> on_end)
      : ctx_(ctx), on_end_(std::move(on_end)) {}

  /// The status-line report, "Can't Open Com Port" (the device did not open) or "Error Opening
  /// Com Port" (a setting was refused) and a line end, a beep and a 2 s pause to read it.
  void OpenFailed(const job::OpenResult& result) override;
  void FileBegins(std::int64_t pass) override;
  void RecordWalked(std::int32_t index) override;
  void FileMade(const DownloadFile& file, std::span<const std::uint8_t> header) override;
  void HeaderCopySent() override;
  void HeaderReply(std::span<const std::uint8_t> bytes) override;
  void FrameBuilt(std::int32_t index, std::span<const std::uint8_t> frame) override;
  void EchoCompared(std::span<const std::uint8_t> frame, std::span<const std::uint8_t> echo,
                    bool intact) override;
  void FrameDone(std::int64_t done, std::int64_t total) override;
  void Countdown(int seconds_left) override;
  void CountdownOver() override;
  /// The ErrorReport of the latched code.
  void LineError(serial::ErrorNumber code) override;
  /// `on_end`, then after a broadcast the outcome on row 32 and "Hit any key to return to main
  /// menu" until a key (or a stop request) comes; normal colours again.
  void Ended(const Outcome& outcome) override;

  bool StopRequested() override;
  /// A key is waiting (it is not taken here).
  bool LeaveFrame() override;
  /// Takes the waiting key: any key ends the broadcast.
  StopReason EndBroadcast() override;

 private:
  job::RunContext& ctx_;
  std::function<void(const Outcome&)> on_end_;
};

}  // namespace tvx::rf
