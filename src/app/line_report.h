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

/// A time left as the progress lines show it: whole minutes and seconds, "0:07", "12:30";
/// negative times show as "0:00".
std::string MinutesSeconds(double seconds);

// --- The progress bar, as one upload's bar and the live lines of several draw it ------------

/// What a bar shows of `done` of `total` units, `seconds` into the phase that counts them.
struct BarFigures {
  BarFigures(std::int64_t done, std::int64_t total, double seconds);
  double fraction = 0.0;  ///< done / total within 0..1; 0 while the total is unknown
  bool timed = false;     ///< some time passed and something is done: the rate is known
  long long rate = 0;     ///< units a second, rounded (when timed)
  std::string left;       ///< the time left at that rate, m:ss (when timed)
};

/// The bar itself, "[####----]": `cells` cells, filled for `fraction` (0..1).
std::string BarCells(double fraction, int cells);

/// A terminal's width as the bars take it: `columns`, or 80 when it is 0 or less.
int BarWidth(int columns);
/// The columns a line may fill in a terminal `width` columns wide (80 when 0 or less): all
/// but the last, which stays free, as a terminal that wraps at the edge would start a new line
/// and the redraw in place would lose its line.
std::size_t LineRoom(int width);

/// Paces the redraws of a bar: at most one per `seconds` of its clock, but for those forced.
class RedrawPace {
 public:
  explicit RedrawPace(double seconds) : seconds_(seconds) {}
  /// Whether to draw at `now` (seconds): when `force`, at the first, and once `seconds` passed
  /// since the last draw; a draw is then counted at `now`.
  bool Due(double now, bool force) {
    if (!force && last_ >= 0.0 && now - last_ < seconds_) return false;
    last_ = now;
    return true;
  }
  /// A draw made at `now` without asking.
  void Drew(double now) { last_ = now; }
  /// The next draw is due at once.
  void Restart() { last_ = -1.0; }

 private:
  double seconds_;
  double last_ = -1.0;
};

/// The progress bar's text, at most `width` - 1 characters: a bar, done/total and the unit, the
/// rate per second and the time left (m:ss), e.g.
/// "[############------------]  16548/33097 words  1250 words/s  0:13 left". The bar takes what
/// the width leaves (24 cells at 80 columns, 8 at the least); what still does not fit is cut.
std::string ProgressBarText(std::int64_t done, std::int64_t total, double seconds,
                            std::string_view unit, int width = 80);

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

 private:
  void EndBar();
  void Put(std::FILE* stream, std::string_view text);

  LineOptions options_;
  job::Clock& clock_;
  std::string unit_;
  double phase_start_ = 0.0;
  RedrawPace pace_;
  bool bar_shown_ = false;
  std::size_t bar_width_ = 0;  // what the drawn bar covers, for the next one to blank
};

}  // namespace tvx::app
