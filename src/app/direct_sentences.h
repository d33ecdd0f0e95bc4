// What the direct sub-command says at its end: one outcome line that names how the upload
// ended (where, why, at which word, and what that means for the radio), the error for a port
// that would not open, and the exit status. Pure.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/printable_text.h"
#include "direct/operator.h"
#include "direct/result.h"

namespace tvx::app {

/// What the policy operator learnt on the way that the result does not hold.
struct DirectFacts {
  Printable device;
  double timeout_seconds = 0.0;
  /// The identity reply, when it was not a radio's.
  std::array<std::uint8_t, 4> identity_reply{};
  /// Read-back words that differed from the image.
  std::int64_t read_back_differences = 0;
  /// The wait the upload gave up at because its limit passed, and how long it had waited.
  bool gave_up_at_limit = false;
  direct::WaitState limit_wait;
  double waited_seconds = 0.0;
  /// The read-back was left because the line died.
  bool read_back_line_died = false;
};

/// The outcome line (no line end), e.g. "Upload complete: radio 9123456 accepted the checksum,
/// 33097 words in 26.11 s."
std::string DirectOutcomeLine(const direct::Result& result, const DirectFacts& facts);

/// The error for a port that did not open: the status line's code, what it means, the
/// system's own words and what to do, e.g. "Cannot open /dev/ttyUSB0: code 75, the system
/// refused access (Permission denied). Join the dialout group ...".
std::string OpenFailureSentence(const direct::Result& result, const Printable& device,
                                std::string_view permission_hint);

/// The program's exit status for the result (before a stop request's 128 + N).
int DirectExitStatus(const direct::Result& result);

/// "word 40 (address 8050)": a word by its index in the walk and its address.
std::string WordLabel(std::int64_t word, std::uint16_t address);

}  // namespace tvx::app
