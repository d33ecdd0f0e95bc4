// What the phases of one direct upload hand to each other. Internal to the job.
#pragma once

#include <cstdint>
#include <optional>

#include "direct/direct_upload.h"
#include "image/firmware_image.h"
#include "job/run_context.h"

namespace tvx::direct {

struct UploadState {
  bool diag_port = false;
  std::uint8_t divisor = 0;     ///< sent to the radio; line rate = 460800 / divisor
  std::uint16_t challenge = 0;  ///< 1..65535, seeds the serial-number unmasking
  /// Complete address frames sent in the transfer; the radio counts the same frames.
  std::int32_t word_attempt_count = 0;
  std::int32_t resent_words = 0;  ///< words whose address frame went out more than once
  std::int64_t words_done = 0;    ///< words of the walk answered correctly
  std::uint8_t even_xor = 0;      ///< XOR of every attempted word's first byte
  std::uint8_t odd_xor = 0;       ///< XOR of every attempted word's second byte
  double transfer_start = 0.0;    ///< monotonic seconds (job::Clock::Seconds)
  double transfer_seconds = 0.0;  ///< from transfer_start to the end of the job
  /// How the job ended so far: the set-up sets it on every way back, the end on every close.
  Outcome outcome = Outcome::kQuit;
  std::optional<std::uint32_t> serial_number;
};

enum class SetupResult {
  kReady,       ///< erase acknowledged; the port is open at the transfer rate
  kBackToMenu,  ///< nothing more to do; the port may still need closing
};

enum class TransferResult {
  kWalkEnded,    ///< every word went out; the radio's checksum comes next
  kAborted,      ///< the operator gave up with Escape; nothing more goes to the radio
  kLineDead,     ///< the line died (reported); nothing more can go to the radio
  kInterrupted,  ///< a stop request ended it after the word on the wire
};

/// Questions, open, handshake, identity and erase. Blocks on the operator and the radio; every
/// wait can be left from the keyboard. A dead line is reported and announced with "Radio not
/// answering: the line is dead." and a 2 s pause before kBackToMenu.
SetupResult RunSetup(job::RunContext& ctx, UploadState& state);

/// Walks the image and exchanges every word, with the operator prompts on row 30. A stop request
/// ends it once the word on the wire is answered, or at the wait or prompt it meets. Returns with
/// the priority class normal.
TransferResult RunTransfer(job::RunContext& ctx, UploadState& state);

/// The words an upload walk of the run's image sends (and a read-back asks for), for the
/// progress the monitor hears.
std::int64_t CountWords(const job::RunContext& ctx);

/// Writes the record progress line at row 25, column 1 (the transfer every eighth record, the
/// read-back every record): the record index with "#####   ", the address in hexadecimal, a
/// zone step and the data count as a plain number; the line is not ended.
void ShowProgressLine(job::RunContext& ctx, const image::ImageWalk& walk);

/// After a complete walk: checksum, verdict, read-back on a mismatch, then the end (below).
/// Sets the outcome and the transfer time in `state`.
void VerifyAndClose(job::RunContext& ctx, UploadState& state);

/// After an abort, a dead line or a stop request in the transfer: the end, sending nothing to
/// the radio. Sets the outcome (stopped or interrupted) and the transfer time in `state`.
void ShowTimeAndClose(job::RunContext& ctx, UploadState& state, Outcome outcome);

}  // namespace tvx::direct
