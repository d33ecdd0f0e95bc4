// The menu's operator of the direct upload: a person at the keyboard, with the job's screen.
// It asks the set-up questions, answers the engine's decisions from the keys as the menu always
// has (a key at a wait opens its prompt, Escape gives up), draws every row, beeps, pauses for
// the operator to read a failure, runs the status line's error report, and waits for the
// closing key. It owns the run's context: console, link settings, error latch, progress
// counter.
#pragma once

#include <functional>

#include "direct/operator.h"
#include "job/run_context.h"

namespace tvx::direct {

class ScreenOperator final : public Operator {
 public:
  /// `on_end` (may be empty) is called once the outcome is known, before "Hit any key to
  /// return to main menu" (or, without a transfer, before the job's last pause).
  ScreenOperator(job::RunContext& ctx, std::function<void(const Result&)> on_end);

  /// The first question, before any port is opened: which of the radio's ports. False when the
  /// answer is none of them (or a stop was requested); `plan.diag_port` is set otherwise.
  bool AskPort(Plan& plan);

  bool StopRequested() override;
  console::NativeWaitHandle WakeHandle() override;
  bool InputPending() override;
  job::LookAgain NextLook(const WaitState& wait) override;
  void Doze(int ms) override;

  bool Confirm(Plan& plan) override;
  Decision AtWait(const WaitState& wait) override;
  Decision AtFault(const Fault& fault) override;
  bool NextRecord() override;
  bool AtMismatch(const Mismatch& mismatch) override;

  void OpenFailed(const Result& result) override;
  void Begin(Phase phase) override;
  void Pausing(int ms) override;
  void LineError(serial::ErrorNumber code) override;
  void NotARadio(const std::array<std::uint8_t, 4>& reply) override;
  void SerialNumber(std::uint32_t serial) override;
  void SerialOutOfRange(std::uint32_t serial) override;
  void UnexpectedByte(std::uint8_t byte) override;
  void RecordStarted(const image::ImageWalk& walk) override;
  void Checksum(const ChecksumReport& report) override;
  void TransferEnded(double seconds, bool show_time) override;
  void Finished(const Result& result) override;

 private:
  void ShowOutcome(const Result& result);

  job::RunContext& ctx_;
  std::function<void(const Result&)> on_end_;
  Phase phase_ = Phase::kHandshake;
};

}  // namespace tvx::direct
