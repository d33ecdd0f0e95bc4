#include "app/direct_sentences.h"

#include <cstdio>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/open_failure.h"
#include "console/format.h"
#include "direct/protocol.h"

namespace tvx::app {
namespace {

using direct::Outcome;
using direct::Reason;
using direct::Stage;

// At most this many resent words are named; the rest are counted.
constexpr std::size_t kNamedResentWords = 8;

constexpr std::string_view kIncomplete = "the radio's firmware is incomplete; load it again.";
constexpr std::string_view kNothingWritten = "nothing was written to the radio.";

std::string OneDecimal(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

std::string Radio(const direct::Result& result) {
  return result.serial_number ? "radio " + std::to_string(*result.serial_number) : "the radio";
}

// Before the erase began, the radio's firmware is as it was.
bool FirmwareTouched(const direct::Result& result) {
  return result.stage == Stage::kErase || result.transfer_started;
}

std::string_view WhatItMeans(const direct::Result& result) {
  return FirmwareTouched(result) ? kIncomplete : kNothingWritten;
}

// Where in the job the upload ended, as words that follow a verb ("died ...").
std::string Where(const direct::Result& result) {
  switch (result.stage) {
    case Stage::kQuestions:
    case Stage::kOpen:
      return "before the handshake";
    case Stage::kHandshake:
      return "during the handshake";
    case Stage::kIdentity:
      return "while waiting for the radio's identity";
    case Stage::kErase:
      return "while the radio was erasing";
    case Stage::kTransfer:
      return "at " + WordLabel(result.words_done, result.address);
    case Stage::kChecksum:
      return "while waiting for the radio's checksum";
    case Stage::kReadBack:
      return "in the read-back at " + WordLabel(result.words_read_back, result.address);
  }
  return {};
}

std::string_view PromptName(direct::Prompt prompt) {
  switch (prompt) {
    case direct::Prompt::kAddressWait:
      return "no echo of the address";
    case direct::Prompt::kAddressEcho:
      return "wrong echo of the address";
    case direct::Prompt::kDataTransmit:
      return "data frame not written whole";
    case direct::Prompt::kDataWait:
      return "no reply to the data";
    case direct::Prompt::kBadData:
      return "wrong reply to the data";
    case direct::Prompt::kReadBackMismatch:
      return "read-back difference";
    case direct::Prompt::kNone:
      break;
  }
  return "none";
}

// What the wait was for, as the object of "none of them ...".
std::string_view Answer(direct::Wait wait) {
  switch (wait) {
    case direct::Wait::kIdentity:
      return "its identity reply";
    case direct::Wait::kErase:
      return "the erase acknowledgement";
    case direct::Wait::kChecksum:
      return "the checksum";
    case direct::Wait::kReadBack:
      return "the word read back";
    case direct::Wait::kEcho:
      return "the echo";
    case direct::Wait::kReply:
      return "the reply";
  }
  return "the answer";
}

std::string CompleteLine(const direct::Result& result) {
  std::string line = "Upload complete: " + Radio(result) + " accepted the checksum, " +
                     std::to_string(result.word_attempts) + " words in " + Seconds(result.seconds);
  if (result.resent_words == 0) return line + ".";
  // A word that went out twice cancels out of the radio's checksum: it vouches for none of them.
  const auto& addresses = result.resent_addresses;
  line += ", but " + std::to_string(result.resent_words) +
          (result.resent_words == 1 ? " resent word is" : " resent words are") +
          " not covered by the checksum (address";
  line += addresses.size() == 1 ? " " : "es ";
  for (std::size_t i = 0; i < addresses.size() && i < kNamedResentWords; ++i) {
    if (i > 0) line += ", ";
    line += console::Hex(addresses[i]);
  }
  if (addresses.size() > kNamedResentWords) {
    line += " and " + std::to_string(addresses.size() - kNamedResentWords) + " more";
  }
  return line + "): load it again to be sure.";
}

std::string ChecksumErrorLine(const direct::Result& result, const DirectFacts& facts) {
  std::string line = "Upload failed: checksum error from " + Radio(result) +
                     ". Upload again before using the radio.";
  if (result.words_read_back >= result.word_total && result.word_total > 0) {
    return line + " The read-back found " + std::to_string(facts.read_back_differences) + " of " +
           std::to_string(result.word_total) + " words stored wrongly.";
  }
  line += " The read-back stopped after " + std::to_string(result.words_read_back) + " of " +
          std::to_string(result.word_total) + " words";
  if (facts.read_back_line_died) return line + ": the line died.";
  if (facts.gave_up_at_limit)
    return line + ": the radio was silent for " + OneDecimal(facts.waited_seconds) + ".";
  return line + ".";
}

// A wait whose limit passed: silence, or bytes that were not the answer.
std::string LimitLine(const direct::Result& result, const DirectFacts& facts) {
  const direct::WaitState& w = facts.limit_wait;
  const std::string waited = OneDecimal(facts.waited_seconds);
  if (result.reason == Reason::kUnexpectedBytes) {
    const std::int64_t came = w.unexpected + static_cast<std::int64_t>(w.waiting);
    return "Upload stopped " + Where(result) + ": in " + waited + " the radio sent " +
           std::to_string(came) + (came == 1 ? " byte" : " bytes") + ", but not " +
           std::string(Answer(w.wait)) + "; " + std::string(WhatItMeans(result));
  }
  switch (w.wait) {
    case direct::Wait::kIdentity:
      return "Upload stopped: the radio did not answer the identity request in " + waited +
             "; nothing was written to it. Check the cable, that the radio is in set-up mode, "
             "and that it takes this program's access code.";
    case direct::Wait::kErase:
      return "Upload stopped: the radio did not report its erase done in " + waited + "; " +
             std::string(kIncomplete);
    case direct::Wait::kChecksum:
      return "Upload stopped: every word went out, but the radio sent no checksum in " + waited +
             " and got no verdict; " + std::string(kIncomplete);
    default:
      break;
  }
  return "Upload stopped " + Where(result) + ": the radio was silent for " + waited + "; " +
         std::string(WhatItMeans(result));
}

std::string StoppedLine(const direct::Result& result, const DirectFacts& facts) {
  switch (result.reason) {
    case Reason::kLineDead:
      return "Upload stopped: the line died " + Where(result) +
             (result.line_error.empty() ? "" : " (" + result.line_error + ")") + "; " +
             std::string(WhatItMeans(result));
    case Reason::kRetriesSpent:
      return "Upload stopped before the end (retries spent): " +
             WordLabel(result.words_done, result.address) + " went out " +
             std::to_string(result.tries) + (result.tries == 1 ? " time" : " times") +
             ", the last stopped at \"" + std::string(PromptName(result.prompt)) + "\"; " +
             std::string(kIncomplete);
    case Reason::kRadioSilent:
    case Reason::kUnexpectedBytes:
      return LimitLine(result, facts);
    case Reason::kVerdictNotSent:
      return "Upload stopped: every word went out, but the checksum verdict could not be written "
             "to the radio; " +
             std::string(kIncomplete);
    default:
      break;
  }
  return "Upload stopped before the end " + Where(result) + "; " + std::string(WhatItMeans(result));
}

std::string RefusedLine(const direct::Result& result, const DirectFacts& facts) {
  if (result.reason == Reason::kSerialOutOfRange && result.serial_number) {
    return "Radio refused: serial number " + std::to_string(*result.serial_number) +
           " is outside " + std::to_string(direct::kSerialMin) + " to " +
           std::to_string(direct::kSerialMax) + ": not a Torvandrix radio; " +
           std::string(kNothingWritten);
  }
  return "Radio refused: its identity reply begins with " + console::Hex(facts.identity_reply[0]) +
         ", not " + console::Hex(direct::kIdentityMarker) + ": not a Torvandrix radio; " +
         std::string(kNothingWritten);
}

}  // namespace

std::string WordLabel(std::int64_t word, std::uint16_t address) {
  return "word " + std::to_string(word) + " (address " + console::Hex(address) + ")";
}

std::string DirectOutcomeLine(const direct::Result& result, const DirectFacts& facts) {
  switch (result.outcome) {
    case Outcome::kComplete:
      return CompleteLine(result);
    case Outcome::kChecksumError:
      return ChecksumErrorLine(result, facts);
    case Outcome::kRefused:
      return RefusedLine(result, facts);
    case Outcome::kPortNotOpened:
      return "The port " + facts.device + " could not be opened: code " +
             std::to_string(result.open_code) + ", " +
             std::string(OpenFailureMeaning(result.open_code, result.settings_refused)) + ".";
    case Outcome::kInterrupted:
      if (result.stage == Stage::kTransfer) {
        return "Upload interrupted by " + SignalText() + " at word " +
               std::to_string(result.words_done) + ": " + std::string(kIncomplete);
      }
      return "Upload interrupted by " + SignalText() + " " + Where(result) + "; " +
             std::string(WhatItMeans(result));
    case Outcome::kStopped:
      return StoppedLine(result, facts);
    case Outcome::kQuit:
      break;
  }
  return "Upload not started; " + std::string(kNothingWritten);
}

std::string OpenFailureSentence(const direct::Result& result, const Printable& device,
                                std::string_view permission_hint) {
  // The system's own words are outside text too.
  return PortOpenFailure(device.Text(), result.open_code, result.settings_refused,
                         Printable(result.open_error).Text(), permission_hint);
}

int DirectExitStatus(const direct::Result& result) {
  switch (result.outcome) {
    case Outcome::kComplete:
      return result.resent_words > 0 ? kExitResentWords : kExitComplete;
    case Outcome::kChecksumError:
      return kExitChecksumError;
    case Outcome::kRefused:
      return kExitRefused;
    case Outcome::kPortNotOpened:
      return kExitPortNotOpened;
    case Outcome::kStopped:
    case Outcome::kQuit:
    case Outcome::kInterrupted:
      break;
  }
  return kExitStopped;
}

}  // namespace tvx::app
