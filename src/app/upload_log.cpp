#include "app/upload_log.h"

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "app/cli_platform.h"
#include "app/printable_text.h"
#include "image/firmware_image.h"
#include "image/sha256.h"

namespace tvx::app {
namespace {

std::string DirectOutcomeName(direct::Outcome outcome) {
  switch (outcome) {
    case direct::Outcome::kComplete:
      return "complete";
    case direct::Outcome::kChecksumError:
      return "checksum_error";
    case direct::Outcome::kStopped:
      return "stopped";
    case direct::Outcome::kRefused:
      return "refused";
    case direct::Outcome::kPortNotOpened:
      return "port_not_opened";
    case direct::Outcome::kInterrupted:
      return "interrupted";
    case direct::Outcome::kQuit:
      break;
  }
  return "quit";
}

std::string RfOutcomeName(const rf::Outcome& outcome) {
  if (outcome.interrupted) return "interrupted";
  switch (outcome.start) {
    case rf::Start::kQuit:
      return "quit";
    case rf::Start::kPortNotOpened:
      return "port_not_opened";
    case rf::Start::kBroadcast:
      break;
  }
  if (outcome.stopped) return "stopped";
  return outcome.nothing_sent == rf::NothingSent::kNo ? "complete" : "nothing_sent";
}

// Why an RF job did not complete, as a short stable token; empty when it did.
std::string RfReason(const rf::Outcome& outcome) {
  switch (outcome.reason) {
    case rf::StopReason::kOperator:
      return "operator";
    case rf::StopReason::kLineDead:
      return "line_dead";
    case rf::StopReason::kSignal:
      return "signal";
    case rf::StopReason::kRadioSilent:
      return "radio_silent";
    case rf::StopReason::kEchoesCorrupt:
      return "echoes_corrupt";
    case rf::StopReason::kPortNotOpened:
      return "port_not_opened";
    case rf::StopReason::kSettingsRefused:
      return "settings_refused";
    case rf::StopReason::kNone:
      break;
  }
  switch (outcome.nothing_sent) {
    case rf::NothingSent::kNoPass:
      return "no_pass";
    case rf::NothingSent::kNoCopies:
      return "no_copies";
    case rf::NothingSent::kStartPastEnd:
      return "start_past_end";
    case rf::NothingSent::kNo:
      break;
  }
  return {};
}

std::string HexPair(const std::array<std::uint8_t, 2>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

std::string UtcText(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto day = floor<days>(when);
  const year_month_day date{day};
  const hh_mm_ss time{floor<seconds>(when - day)};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int{date.year()},
                unsigned{date.month()}, unsigned{date.day()},
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

}  // namespace

#ifndef TVX_VERSION
#define TVX_VERSION "unknown"
#endif

std::string_view ProgramVersion() {
  return TVX_VERSION;
}

ImageIdentity IdentifyImage(std::span<const std::uint8_t> image, const std::string& source) {
  ImageIdentity identity;
  identity.sha256 = image::HexDigest(image::Sha256Of(image));
  identity.source = source;
  identity.records = image::WalkRecordCount(image);
  image::RecordBuffer buffer{};
  image::ImageWalk walk(image, buffer);
  image::PairChecksum sum;
  while (walk.NextRecord()) {
    for (image::Word word; walk.NextWord(word);) sum.Add(word.b0, word.b1);
  }
  identity.checksum = sum.Value();
  return identity;
}

std::string AccessCodeToken(bool supplied) {
  return supplied ? "supplied" : "built_in";
}

LogEntry DirectLogEntry(const direct::Result& result) {
  LogEntry entry;
  entry.job = "direct";
  entry.serial_number = result.serial_number;
  entry.outcome = DirectOutcomeName(result.outcome);
  entry.seconds = result.seconds;
  entry.resent_words = result.resent_words;
  entry.reason = direct::ReasonToken(result.reason);
  entry.detail = result.reason == direct::Reason::kLineDead ? result.line_error : result.open_error;
  // The word reached, for every upload that did not complete once it had begun.
  if (result.outcome != direct::Outcome::kComplete &&
      (result.transfer_started || result.outcome == direct::Outcome::kStopped ||
       result.outcome == direct::Outcome::kInterrupted)) {
    entry.word = result.words_done;
  }
  return entry;
}

LogEntry RfLogEntry(const rf::Outcome& outcome) {
  LogEntry entry;
  entry.job = "rf";
  entry.outcome = RfOutcomeName(outcome);
  entry.seconds = outcome.seconds;
  entry.echo_mismatches = outcome.mismatches;
  entry.passes = outcome.passes;
  entry.frames = outcome.frames;
  entry.reason = RfReason(outcome);
  entry.detail =
      outcome.reason == rf::StopReason::kLineDead ? outcome.line_error : outcome.open_error;
  // A stop in the wait between passes was at no record: the passes say how far it got.
  if (outcome.start == rf::Start::kBroadcast && outcome.stopped &&
      outcome.stop_place != rf::StopPlace::kCountdown) {
    entry.record = outcome.stop_record;
  }
  return entry;
}

std::string FormatLogLine(const LogEntry& entry, std::chrono::system_clock::time_point when) {
  nlohmann::ordered_json line;
  line["time"] = UtcText(when);
  line["version"] = ProgramVersion();
  line["job"] = entry.job;
  line["port"] = PrintableText(entry.port);
  line["device"] = PrintableText(entry.device);
  if (entry.job != "setup") {
    line["serial_number"] = entry.serial_number ? nlohmann::ordered_json(*entry.serial_number)
                                                : nlohmann::ordered_json(nullptr);
    line["image"] = {{"records", entry.image.records},
                     {"checksum", HexPair(entry.image.checksum)},
                     {"sha256", entry.image.sha256},
                     {"source", PrintableText(entry.image.source)}};
  }
  line["outcome"] = entry.outcome;
  if (entry.outcome != "complete") line["reason"] = entry.reason.empty() ? "unknown" : entry.reason;
  if (!entry.detail.empty()) line["detail"] = entry.detail;
  line["seconds"] = std::round(entry.seconds * 1000.0) / 1000.0;
  if (entry.resent_words) line["resent_words"] = *entry.resent_words;
  if (entry.echo_mismatches) line["echo_mismatches"] = *entry.echo_mismatches;
  if (entry.passes) line["passes"] = *entry.passes;
  if (entry.frames) line["frames"] = *entry.frames;
  if (entry.word) line["word"] = *entry.word;
  if (entry.record) line["record"] = *entry.record;
  if (!entry.access_code.empty()) line["access_code"] = entry.access_code;
  if (entry.step) {
    line["step"] = *entry.step;
    line["step_label"] = PrintableText(entry.step_label);
    nlohmann::ordered_json expects = nlohmann::ordered_json::array();
    for (const ExpectEntry& expect : entry.expects) {
      nlohmann::ordered_json captures = nlohmann::ordered_json::object();
      for (const auto& [name, value] : expect.captures) {
        captures[name] = value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
      }
      expects.push_back({{"step", expect.step},
                         {"seconds", std::round(expect.seconds * 1000.0) / 1000.0},
                         {"captures", std::move(captures)}});
    }
    line["expects"] = std::move(expects);
  }
  // Every text is UTF-8 by now; were one not, it is replaced rather than refused.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

UploadLog::UploadLog(const std::string& option) {
  if (!option.empty()) {
    path_ = option;
  } else if (const char* variable = std::getenv("TORVANDRIX_LOG");
             variable != nullptr && variable[0] != '\0') {
    path_ = variable;
  } else {
    path_ = DefaultLogPath();
    default_place_ = true;
  }
}

std::string UploadLog::Append(std::string_view line) {
  std::string failure;
  if (path_.empty()) {
    failure = "no place is known for the upload log (set HOME or TORVANDRIX_LOG): not written";
  } else if (const std::string error = AppendLine(path_, line, default_place_); !error.empty()) {
    // The reason may hold a folder's name: outside text too.
    failure = "the upload log " + Printable(path_) + " cannot be written: " + Printable(error);
  } else {
    return {};
  }
  if (lost_++ == 0) first_failure_ = failure;
  return failure;
}

std::string UploadLog::Append(const LogEntry& entry) {
  return Append(FormatLogLine(entry, std::chrono::system_clock::now()));
}

std::string UploadLog::Failure() const {
  if (lost_ <= 1) return first_failure_;
  return first_failure_ + " (" + std::to_string(lost_) + " lines lost)";
}

}  // namespace tvx::app
