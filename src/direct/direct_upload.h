// Menu key "1": the direct upload of the firmware image into a radio wired to the port, from
// the set-up questions through the word-by-word transfer to the checksum verdict, read-back,
// program time, the outcome line on row 32 and "Hit any key to return to main menu". Codes the
// job latched are reported before it ends. Returns with the port closed; the
// caller draws the menu again.
#pragma once

#include <cstdint>
#include <optional>

#include "job/run_context.h"

namespace tvx::direct {

/// How a direct upload ended.
enum class Outcome {
  kComplete,       ///< the radio accepted the checksum (verdict 0xAA sent)
  kChecksumError,  ///< the checksum was wrong (verdict 0x55 sent, read-back run or left)
  kStopped,        ///< left before a verdict went out: Escape, a key, a dead line
  kRefused,        ///< the identity reply was not a radio's, or its serial number out of range
  kPortNotOpened,  ///< the port could not be opened or set
  kQuit,           ///< the operator left at a question
  kInterrupted,    ///< a stop request (a signal) ended it at a safe point, before its end
};

struct Result {
  Outcome outcome = Outcome::kQuit;
  std::optional<std::uint32_t> serial_number;  ///< once the identity reply was decoded
  double seconds = 0.0;            ///< from the start of the transfer to the end; 0 without one
  std::int32_t word_attempts = 0;  ///< address frames sent in the transfer
  std::int32_t resent_words = 0;   ///< words whose address frame went out more than once
  std::int64_t words_done = 0;     ///< words of the walk the radio answered correctly
};

Result RunDirectUpload(job::RunContext& ctx);

}  // namespace tvx::direct
