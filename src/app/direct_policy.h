// The operator of the direct sub-command: nobody at a keyboard, so the engine's decisions are
// answered from the options. A word is sent again up to `retries` times (each prompt of the
// word exchange, and each silence of `timeout_seconds` while its echo or reply is awaited),
// then the upload stops; a wait anywhere else that gets no answer for `timeout_seconds` ends
// the upload (0: wait for ever). Bytes that come but are not the answer are no silence: the
// end names them. Read-back differences are noted and the read-back goes on.
//
// Everything it tells goes through the LineSink: the phases, the progress, one note per
// retry, the open's failure as an error. What it learns on the way (the identity reply, the
// read-back's differences, where a wait gave up and how long it had waited) is kept for the
// outcome line (Facts, direct_sentences.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/direct_sentences.h"
#include "app/line_report.h"
#include "console/stop_request.h"
#include "direct/operator.h"
#include "job/clock.h"

namespace tvx::app {

class DirectPolicy final : public direct::Operator {
 public:
  /// `device` is the device opened, as the notes print it. `stop` is the request that ends the
  /// upload at its next safe point (the process's).
  DirectPolicy(LineSink& report, job::Clock& clock, Printable device, std::int32_t retries,
               double timeout_seconds,
               const console::StopRequest& stop = console::ProcessStopRequest());

  /// What the outcome line needs beside the result.
  const DirectFacts& Facts() const { return facts_; }

  bool StopRequested() override;
  console::NativeWaitHandle WakeHandle() override { return console::kNoWaitHandle; }
  bool InputPending() override { return false; }
  /// The time left until the wait's limit (-1 without one).
  job::LookAgain NextLook(const direct::WaitState& wait) override;
  void Doze(int ms) override;

  bool Confirm(direct::Plan& plan) override;
  direct::Decision AtWait(const direct::WaitState& wait) override;
  direct::Decision AtFault(const direct::Fault& fault) override;
  bool NextRecord() override { return true; }
  bool AtMismatch(const direct::Mismatch& mismatch) override;

  void Opened(const direct::Plan& plan) override;
  void OpenFailed(const direct::Result& result) override;
  void Begin(direct::Phase phase) override;
  void LineError(serial::ErrorNumber code) override;
  void NotARadio(const std::array<std::uint8_t, 4>& reply) override;
  void SerialNumber(std::uint32_t serial) override;
  void UnexpectedByte(std::uint8_t byte) override;
  void Progress(std::int64_t done, std::int64_t total) override;
  void Checksum(const direct::ChecksumReport& report) override;

 private:
  /// Sends the word again when retries are left (noting `what` and the retry), else gives up.
  direct::Decision RetryOrStop(const std::string& what);

  LineSink& report_;
  job::Clock& clock_;
  std::int32_t retries_;
  double timeout_seconds_;
  const console::StopRequest& stop_;
  DirectFacts facts_;
  direct::Phase phase_ = direct::Phase::kHandshake;
  std::int32_t retries_used_ = 0;  ///< of the word under way
  std::int64_t last_done_ = 0;
  bool opened_ = false;
  bool unexpected_told_ = false;
};

}  // namespace tvx::app
