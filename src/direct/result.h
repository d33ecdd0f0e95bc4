// How one direct upload ended, as the engine reports it to whoever ran it: the outcome the menu
// and the log know, and enough beside it to name every end in a sentence (where it stopped, why,
// at which word and prompt, what the port said).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/error_codes.h"

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

/// Why an upload that did not complete ended. kNone for a complete one.
enum class Reason : std::uint8_t {
  kNone,
  kOperator,          ///< the operator left (a key, Escape, an answer to a question)
  kSignal,            ///< a stop request
  kLineDead,          ///< the line died: nothing more could pass
  kRetriesSpent,      ///< a word was tried as often as allowed
  kRadioSilent,       ///< the radio sent nothing for as long as the operator would wait
  kUnexpectedBytes,   ///< bytes came, but not the answer, for as long as the operator would wait
  kNotARadio,         ///< the identity reply did not start with the radio's marker
  kSerialOutOfRange,  ///< the radio's serial number is outside the accepted range
  kPortNotOpened,     ///< the device did not open
  kSettingsRefused,   ///< the device opened but refused a line setting
  kVerdictNotSent,    ///< the checksum verdict could not be written
  kChecksumMismatch,  ///< the radio's checksum differs from the words sent
};

/// The short stable token the log and the JSON record write for a reason ("line_dead", ...);
/// empty for kNone.
std::string_view ReasonToken(Reason reason);

/// The stretch of the job an upload ended in.
enum class Stage : std::uint8_t {
  kQuestions,  ///< before the port was opened, or at a question after it
  kOpen,       ///< opening the port and applying its settings
  kHandshake,  ///< programming command, access code, divisor, challenge
  kIdentity,   ///< waiting for and judging the radio's identity reply
  kErase,      ///< waiting for the radio's erase
  kTransfer,   ///< the word exchanges
  kChecksum,   ///< waiting for the radio's checksum, and the verdict
  kReadBack,   ///< the read-back after a rejected checksum
};

/// The operator prompts of the word exchange and the read-back, by what raised them.
enum class Prompt : std::uint8_t {
  kNone,
  kAddressWait,       ///< A: no echo of the address frame yet
  kAddressEcho,       ///< B: the echo differs from the address
  kDataTransmit,      ///< C: the data frame was not written whole
  kDataWait,          ///< D: no reply to the data frame yet
  kBadData,           ///< E: the reply differs from the one expected
  kReadBackMismatch,  ///< a word read back differs from the image
};

struct Result {
  Outcome outcome = Outcome::kQuit;
  std::optional<std::uint32_t> serial_number;  ///< once the identity reply was decoded
  double seconds = 0.0;              ///< from the start of the transfer to the end; 0 without one
  std::int32_t word_attempts = 0;    ///< address frames sent in the transfer
  std::int32_t resent_words = 0;     ///< words whose address frame went out more than once
  std::int64_t words_done = 0;       ///< words of the walk the radio answered correctly
  std::int64_t words_read_back = 0;  ///< words the radio returned in the read-back

  Reason reason = Reason::kNone;  ///< kNone exactly when the outcome is kComplete
  Stage stage = Stage::kQuestions;
  bool transfer_started = false;  ///< the transfer began (the end shows the program time)
  /// The word the upload stopped at (transfer or read-back): its index in the walk (the words
  /// before it were answered; for the read-back, the words read back), its address, the prompt
  /// it stopped at and how often it went out.
  std::int64_t word_total = 0;  ///< words of the walk of that stage
  std::uint16_t address = 0;
  Prompt prompt = Prompt::kNone;
  std::int32_t tries = 0;
  /// The open: the code of its failure (0: it opened), whether it was a refused line setting,
  /// and the system's own words for it (may be empty).
  serial::ErrorNumber open_code = serial::kNoError;
  bool settings_refused = false;
  std::string open_error;
  /// The code of the dead line or the last failure the engine reported; 0 when none.
  serial::ErrorNumber line_code = serial::kNoError;
  /// The system's own words for the dead line (may be empty).
  std::string line_error;
  /// Bytes that came at the wait the upload ended in without being its answer.
  std::int64_t unexpected_bytes = 0;
  /// The addresses of the words that went out more than once, in order (each once).
  std::vector<std::uint16_t> resent_addresses;
};

}  // namespace tvx::direct
