// One run of the direct engine, shared by its three files: the set-up (engine.cpp), the word
// transfer (engine_transfer.cpp) and the verification (engine_verify.cpp). Internal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "direct/engine.h"
#include "image/firmware_image.h"
#include "job/line.h"
#include "job/wait.h"

namespace tvx::direct {

class EngineRun {
 public:
  EngineRun(Plan plan, const Parts& parts, Operator& op);
  Result Run();

 private:
  // How a wait ended.
  enum class Got : std::uint8_t { kAnswer, kRetry, kGiveUp, kDead, kStop };
  // How the transfer of the walk ended.
  enum class Walked : std::uint8_t { kEnded, kLeft };
  // How a frame of single-byte sends went out.
  enum class Sent : std::uint8_t { kWhole, kShort, kDead };

  // --- engine.cpp: the set-up and the ends ---
  bool OpenPort();
  bool Handshake();
  bool SendChecked(std::uint8_t byte, int pause_ms);
  void Discard();
  bool Pause(int ms);
  /// Waits until `w.expected` bytes are waiting, asking the operator at every look; the order
  /// of the checks: the answer, a dead line, a stop request, the operator.
  Got Await(WaitState& w);
  /// What a stop request makes of wait `w`: kStop, but at the reply wait the reply is awaited
  /// first (kAnswer when it comes in time, kDead on a dead line).
  Got StopAt(const WaitState& w);
  void Sleep(const WaitState& w);
  /// Reports the latched code, if any, to the operator (once) and clears the latch.
  void ReportPending();
  /// The one way out on a dead line: reported, then the end of the stage it met it in.
  void MetDeadLine(Outcome outcome);
  /// Sets how the upload ended after a wait or a decision that did not go on: a dead line
  /// (kLineDead), a stop request (interrupted, kSignal, whatever the operator said), else
  /// `outcome` for `reason`.
  void Leave(Got got, Outcome outcome, Reason reason);
  /// Ends every upload: the priority normal, the program time told after a transfer, the port
  /// closed, what is left latched reported, the operator told the end.
  Result Finish();

  // --- engine_transfer.cpp ---
  Walked Transfer();
  /// One word, attempted until it is answered, the operator gives up or the line dies.
  Got ExchangeWord(std::uint8_t space_byte, const image::Word& word, std::int64_t index);
  Sent SendAddressFrame(std::uint8_t space_byte, std::uint16_t address);
  /// False on a dead line (reported).
  bool Resync();
  /// The raw write of the protocol's frames: a short write latches nothing (the prompt deals
  /// with it), a dead line latches 59.
  job::LineResult RawWrite(std::span<const std::uint8_t> bytes);

  // --- engine_verify.cpp ---
  void Verify();
  /// Writes the verdict byte. False when it did not go out (the outcome says why).
  bool SendVerdict(std::uint8_t verdict);
  /// kAnswer: the read-back ran to its end.
  Got ReadBack();

  Plan plan_;
  job::Line line_;
  job::ErrorState& errors_;
  serial::Priority& priority_;
  job::Clock& clock_;
  job::Random& random_;
  std::span<const std::uint8_t> image_;
  Operator& op_;
  job::Waiter waiter_;  ///< the port, the operator's wake handle and its stop request
  Result result_;
  Reason give_up_reason_ = Reason::kOperator;  ///< of the last kGiveUp
  bool show_time_ = true;  ///< the program time is told at the end (not after a whole read-back)

  image::RecordBuffer record_buffer_{};
  std::array<std::uint8_t, 4> send_buffer_{};
  std::uint16_t challenge_ = 0;
  std::uint8_t even_xor_ = 0;
  std::uint8_t odd_xor_ = 0;
  double transfer_start_ = 0.0;
};

}  // namespace tvx::direct
