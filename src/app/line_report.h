// What a sub-command tells its user, in line mode: notes, phases and the progress on standard
// error, the outcome on standard output. A script reads the outcome (or, with --json, the outcome
// record, the same object as the upload log's line) from standard output and nothing else; a
// person on a terminal watches the progress bar on standard error, redrawn in place and fitted
// to the terminal's width (looked up again as it is redrawn, so it follows a resize). Without a
// terminal there is no bar and no escape or carriage return: one plain line a note.
//
// --quiet drops progress and notes; errors and the outcome stay.
//
// Not thread-safe: one job's thread uses it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "job/clock.h"

namespace tvx::app {

struct LineOptions {
  std::FILE* out = stdout;  ///< the outcome line, or the JSON record
  std::FILE* err = stderr;  ///< notes, phases, progress, errors
  bool bar = false;         ///< `err` is a terminal: progress as one bar redrawn in place
  bool quiet = false;       ///< no notes, no progress
  bool json = false;        ///< the outcome as its JSON record instead of the text line
  /// The terminal's width in columns now (0 or none: 80).
  std::function<int()> columns;
};

/// Where a job's operator tells what happens, in line mode: the one job's LineReport, or one
/// port's share of the live lines of several uploads at once (multi_report.h). Calls come from
/// the job's own thread.
class LineSink {
 public:
  virtual ~LineSink() = default;
  /// A new phase, by its name for a person ("Waiting for Radio ID").
  virtual void Phase(std::string_view name) = 0;
  /// The same phase as a short state word ("identity"), for a line that shows the state.
  virtual void State(std::string_view word) { (void)word; }
  /// The radio's serial number, once known.
  virtual void Serial(std::uint32_t serial) { (void)serial; }
  virtual void Progress(std::int64_t done, std::int64_t total) = 0;
  virtual void Note(std::string_view text) = 0;
  virtual void Error(std::string_view text) = 0;
};

class LineReport final : public LineSink {
 public:
  /// `unit` names what the progress counts ("words", "frames").
  LineReport(LineOptions options, job::Clock& clock, std::string unit);
  ~LineReport();
  LineReport(const LineReport&) = delete;
  LineReport& operator=(const LineReport&) = delete;

  /// A new phase: one note line; the bar's rate and time left start again from here.
  void Phase(std::string_view name) override;
  /// `done` of `total` units through; redraws the bar at most ten times a second (and always
  /// at the end). Nothing without a terminal, nothing with --quiet.
  void Progress(std::int64_t done, std::int64_t total) override;
  /// A sentence for the user (dropped with --quiet).
  void Note(std::string_view text) override;
  /// A sentence on what went wrong (always written).
  void Error(std::string_view text) override;
  /// The outcome: `text` as one line on standard output, or `json_line` (a whole line with its
  /// end) with --json. Always written, once, at the end.
  void Outcome(std::string_view text, std::string_view json_line);

  const LineOptions& Options() const { return options_; }

 private:
  void EndBar();
  void Put(std::FILE* stream, std::string_view text);
  int Columns() const;

  LineOptions options_;
  job::Clock& clock_;
  std::string unit_;
  double phase_start_ = 0.0;
  double last_draw_ = -1.0;
  bool bar_shown_ = false;
  std::size_t bar_width_ = 0;  // what the drawn bar covers, for the next one to blank
};

/// A time left as the progress lines show it: whole minutes and seconds, "0:07", "12:30";
/// negative times show as "0:00".
std::string MinutesSeconds(double seconds);

/// The progress bar's text, at most `width` - 1 characters: a bar, done/total and the unit, the
/// rate per second and the time left (m:ss), e.g.
/// "[############------------]  16548/33097 words  1250 words/s  0:13 left". The bar takes what
/// the width leaves (24 cells at 80 columns, 8 at the least); what still does not fit is cut.
std::string ProgressBarText(std::int64_t done, std::int64_t total, double seconds,
                            std::string_view unit, int width = 80);

}  // namespace tvx::app
