// The upload log: one line of JSON per job outcome, appended to a file that both forms of the
// program share (the menu and the scripted commands). A log that cannot be written never stops
// an upload, and no line is lost without a word: every append that fails says so, and the menu,
// which cannot print while its screen is up, reports the first failure and the count at its end.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "direct/direct_upload.h"
#include "rf/rf_upload.h"

namespace tvx::app {

/// What identifies the image a job sent: its record count and pair checksum, as the RF header
/// states them, the SHA-256 of its stored form and where it came from.
struct ImageIdentity {
  std::int32_t records = 0;
  std::array<std::uint8_t, 2> checksum{};
  std::string sha256;  ///< 64 lower-case hex digits, as sha256sum prints them
  std::string source;  ///< "built_in" or the image file's path
};
ImageIdentity IdentifyImage(std::span<const std::uint8_t> image,
                            const std::string& source = "built_in");

/// A set-up script's expect that matched: its step (from 1), when (seconds from the start of
/// the run) and its named groups (no value: the group took no part in the match).
struct ExpectEntry {
  std::int64_t step = 0;
  double seconds = 0.0;
  std::vector<std::pair<std::string, std::optional<std::string>>> captures;
};

/// One line of the log.
struct LogEntry {
  std::string job;  ///< "direct" or "rf"
  std::string port;
  std::string device;
  std::optional<std::uint32_t> serial_number;
  ImageIdentity image;
  /// complete, checksum_error, stopped, refused, port_not_opened, quit, interrupted (and what
  /// a job adds, e.g. nothing_sent)
  std::string outcome;
  /// Why a job that did not complete ended, as a short stable token ("line_dead",
  /// "retries_spent", ...); written for every outcome but "complete".
  std::string reason;
  /// The system's own words behind the reason (a dead line, a refused setting, a port that did
  /// not open), written beside it when there are any.
  std::string detail;
  double seconds = 0.0;
  std::optional<std::int64_t> resent_words;     ///< direct
  std::optional<std::int64_t> echo_mismatches;  ///< rf
  std::optional<std::int64_t> passes;           ///< rf: passes run to their end
  std::optional<std::int64_t> frames;           ///< rf: frames with every copy intact
  /// direct, when it did not complete: the words the radio answered, i.e. the index of the word
  /// at which it stopped
  std::optional<std::int64_t> word;
  std::optional<std::int64_t> record;  ///< rf, when stopped: the record it stopped at
  /// direct: which access code opened the radio's programming mode, "built_in" or "supplied"
  /// (never the code itself); empty: not written.
  std::string access_code;
  /// setup: the step reached (from 1; the number of steps when every one passed), how it reads
  /// ("expect \"ID (\\d+)\"", never a secret's text), and every expect that matched. A setup
  /// line has no serial number and no image.
  std::optional<std::int64_t> step;
  std::string step_label;
  std::vector<ExpectEntry> expects;
};

/// The log's word for the access code a direct upload sent: "supplied" or "built_in".
std::string AccessCodeToken(bool supplied);

LogEntry DirectLogEntry(const direct::Result& result);
LogEntry RfLogEntry(const rf::Outcome& outcome);

/// The program's version, as every log line records it.
std::string_view ProgramVersion();

/// The entry as one line of JSON with its line end; `when` is written as UTC,
/// "2024-05-01T12:34:56Z". Every line carries the program's version. The port and the device
/// are written as the messages show them (PrintableText: `\xHH` for a control byte or a byte
/// that is not UTF-8, `\\` for a backslash), so that two names never become one. The record
/// that --json prints is this same line: build it once and hand it to both.
std::string FormatLogLine(const LogEntry& entry, std::chrono::system_clock::time_point when);

class UploadLog {
 public:
  /// `option`: the --log value (empty: none). Then TORVANDRIX_LOG, then the default place,
  /// whose folders are made when missing.
  explicit UploadLog(const std::string& option);

  /// Appends `line` (a whole record from FormatLogLine). Returns an empty text, or the sentence
  /// that says this line was not written, e.g. "the upload log /x/uploads.jsonl cannot be
  /// written: Permission denied" (names and the system's words printable). Blocks for one
  /// append (a brief lock); call from one thread at a time.
  std::string Append(std::string_view line);
  /// Appends the entry stamped with the time now (same contract).
  std::string Append(const LogEntry& entry);
  const std::string& Path() const { return path_; }
  /// What the menu reports at its end: the first failure, and how many lines were not written
  /// when more than one; empty when every line was written.
  std::string Failure() const;

 private:
  std::string path_;
  bool default_place_ = false;
  std::string first_failure_;
  int lost_ = 0;
};

}  // namespace tvx::app
