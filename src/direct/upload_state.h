// What the phases of one direct upload hand to each other. Internal to the job.
#pragma once

#include <cstdint>

#include "job/run_context.h"

namespace tvx::direct {

struct UploadState {
  bool diag_port = false;
  std::uint8_t divisor = 0;     ///< sent to the radio; line rate = 460800 / divisor
  std::uint16_t challenge = 0;  ///< 1..65535, seeds the serial-number unmasking
  std::int32_t word_attempt_count = 0;
  std::uint8_t even_xor = 0;    ///< XOR of every attempted word's first byte
  std::uint8_t odd_xor = 0;     ///< XOR of every attempted word's second byte
  double transfer_start = 0.0;  ///< monotonic seconds (job::Clock::Seconds)
};

enum class SetupResult {
  kReady,       ///< erase acknowledged; the port is open at the transfer rate
  kBackToMenu,  ///< nothing more to do; the port may still need closing
};

enum class TransferResult {
  kWalkEnded,  ///< every word went out; the radio's checksum comes next
  kAborted,    ///< the operator gave up with Escape; nothing more goes to the radio
};

/// Questions, open, handshake, identity and erase. Blocks on the operator and the radio; every
/// wait can be left from the keyboard.
SetupResult RunSetup(job::RunContext& ctx, UploadState& state);

/// Walks the image and exchanges every word, with the operator prompts on row 30. Returns with
/// the priority class normal.
TransferResult RunTransfer(job::RunContext& ctx, UploadState& state);

/// After a complete walk: checksum, verdict, read-back on a mismatch, program time, close, and
/// the closing key.
void VerifyAndClose(job::RunContext& ctx, const UploadState& state);

/// After an abort: program time, close, and the closing key. Sends nothing to the radio.
void ShowTimeAndClose(job::RunContext& ctx, const UploadState& state);

}  // namespace tvx::direct
