// The rf sub-command's side of the RF engine: no screen, no keyboard. It answers the engine's
// decisions from the options: a broadcast goes on while intact echoes come back, and gives up
// once --timeout seconds passed without one (0: never), naming why: the local radio silent, or
// bytes that came back but were never an intact echo. A stop request (a signal) ends it at the
// next safe point. It reports the port it opened, each pass and the wait between passes as
// notes, the frames of the pass as progress, through the line report.
#pragma once

#include <cstdint>

#include "app/line_report.h"
#include "console/stop_request.h"
#include "job/clock.h"
#include "rf/operator.h"

namespace tvx::app {

class RfPolicy final : public rf::Operator {
 public:
  /// `timeout_seconds`: how long without an intact echo before it gives up (0: never); judged
  /// on `clock` after every copy, so it gives up within one echo window (0.5 s) of the limit.
  RfPolicy(LineReport& report, job::Clock& clock, double timeout_seconds,
           const console::StopRequest& stop = console::ProcessStopRequest());

  /// Nothing: the runner says why at the end.
  void OpenFailed(const job::OpenResult&) override {}
  /// "Opened /dev/ttyUSB0." (or "Opened Com3 (/dev/ttyS2)." for a port named ComN).
  void Opened(const rf::Plan& plan) override;
  void PassBegins(std::int64_t pass, std::int64_t passes) override;
  void FrameBuilt(std::int32_t index, std::span<const std::uint8_t> frame) override;
  void EchoCompared(std::span<const std::uint8_t> frame, std::span<const std::uint8_t> echo,
                    bool intact) override;
  void CopyDone(const rf::CopyReport& copy) override;
  /// Progress counts the frames of the current pass.
  void FrameDone(std::int64_t done, std::int64_t total) override;
  void Countdown(int seconds_left) override;
  /// A failure the discard met is told as a note; a dead line is left to the end sentence.
  void LineError(serial::ErrorNumber code) override;

  bool StopRequested() override { return stop_.Requested(); }
  /// True once the limit passed without an intact echo.
  bool LeaveFrame() override;
  /// Why it gave up (kRadioSilent, kEchoesCorrupt), or kNone.
  rf::StopReason EndBroadcast() override { return gave_up_; }

  /// When it gave up: how long no intact echo had come and what came back meanwhile.
  double WaitedSeconds() const { return waited_; }
  std::int64_t BytesBack() const { return bytes_back_; }
  std::int64_t CorruptEchoes() const { return corrupt_echoes_; }

 private:
  LineReport& report_;
  job::Clock& clock_;
  double timeout_;
  const console::StopRequest& stop_;

  bool fresh_pass_ = false;      // no frame built yet in this pass
  double quiet_since_ = 0.0;     // the last intact echo, or the start of the pass's frames
  std::int64_t bytes_back_ = 0;  // since then
  std::int64_t corrupt_echoes_ = 0;
  double waited_ = 0.0;
  rf::StopReason gave_up_ = rf::StopReason::kNone;
  std::int64_t pass_base_ = 0;  // frames done before this pass
  std::int64_t passes_ = 1;
  std::int64_t last_done_ = 0;
};

}  // namespace tvx::app
