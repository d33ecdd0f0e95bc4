#include "app/line_report.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tvx::app {
namespace {

constexpr int kDefaultColumns = 80;
constexpr int kBarCellsAt80 = 24;
constexpr int kMinBarCells = 8;
constexpr int kMaxBarCells = 50;
constexpr double kRedrawSeconds = 0.1;

}  // namespace

std::string MinutesSeconds(double seconds) {
  const auto total = static_cast<long long>(std::llround(std::max(0.0, seconds)));
  const long long s = total % 60;
  return std::to_string(total / 60) + (s < 10 ? ":0" : ":") + std::to_string(s);
}

std::string ProgressBarText(std::int64_t done, std::int64_t total, double seconds,
                            std::string_view unit, int width) {
  if (width <= 0) width = kDefaultColumns;
  const double fraction =
      total > 0 ? std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0)
                : 0.0;
  const int cells =
      std::clamp(kBarCellsAt80 + (width - kDefaultColumns), kMinBarCells, kMaxBarCells);
  const int filled = static_cast<int>(fraction * cells);
  std::string text(1, '[');
  text.append(filled, '#');
  text.append(cells - filled, '-');
  text += "]  ";
  text += std::to_string(done) + "/" + std::to_string(total) + " " + std::string(unit);
  if (seconds > 0.0 && done > 0) {
    const double rate = static_cast<double>(done) / seconds;
    text += "  " + std::to_string(std::llround(rate)) + " " + std::string(unit) + "/s";
    text += "  " + MinutesSeconds(static_cast<double>(total - done) / rate) + " left";
  }
  // The last column stays free: a terminal that wraps at the edge would start a new line.
  const auto fit = static_cast<std::size_t>(std::max(1, width - 1));
  if (text.size() > fit) text.resize(fit);
  return text;
}

LineReport::LineReport(LineOptions options, job::Clock& clock, std::string unit)
    : options_(std::move(options)), clock_(clock), unit_(std::move(unit)) {
  phase_start_ = clock_.Seconds();
}

LineReport::~LineReport() {
  EndBar();
}

int LineReport::Columns() const {
  const int columns = options_.columns ? options_.columns() : 0;
  return columns > 0 ? columns : kDefaultColumns;
}

void LineReport::Put(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

void LineReport::EndBar() {
  if (!bar_shown_) return;
  Put(options_.err, "\n");
  bar_shown_ = false;
  bar_width_ = 0;
}

void LineReport::Phase(std::string_view name) {
  Note(name);
  phase_start_ = clock_.Seconds();
  last_draw_ = -1.0;
}

void LineReport::Progress(std::int64_t done, std::int64_t total) {
  if (options_.quiet || !options_.bar) return;
  const double now = clock_.Seconds();
  if (done < total && last_draw_ >= 0.0 && now - last_draw_ < kRedrawSeconds) return;
  last_draw_ = now;
  std::string text = ProgressBarText(done, total, now - phase_start_, unit_, Columns());
  const std::size_t width = text.size();
  // Blanks cover what a longer bar (or a wider terminal) left behind.
  if (bar_width_ > width) text.append(bar_width_ - width, ' ');
  Put(options_.err, "\r" + text);
  bar_shown_ = true;
  bar_width_ = width;
}

void LineReport::Note(std::string_view text) {
  if (options_.quiet) return;
  EndBar();
  Put(options_.err, std::string(text) + "\n");
}

void LineReport::Error(std::string_view text) {
  EndBar();
  Put(options_.err, std::string(text) + "\n");
}

void LineReport::Outcome(std::string_view text, std::string_view json_line) {
  EndBar();
  if (options_.json) {
    Put(options_.out, json_line);
  } else {
    Put(options_.out, std::string(text) + "\n");
  }
}

}  // namespace tvx::app
