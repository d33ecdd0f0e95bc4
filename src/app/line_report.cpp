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

BarFigures::BarFigures(std::int64_t done, std::int64_t total, double seconds) {
  if (total > 0) {
    fraction = std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0);
  }
  timed = seconds > 0.0 && done > 0;
  if (!timed) return;
  const double per_second = static_cast<double>(done) / seconds;
  rate = std::llround(per_second);
  left = MinutesSeconds(static_cast<double>(total - done) / per_second);
}

std::string BarCells(double fraction, int cells) {
  const int filled = static_cast<int>(fraction * cells);
  return "[" + std::string(filled, '#') + std::string(cells - filled, '-') + "]";
}

int BarWidth(int columns) {
  return columns > 0 ? columns : kDefaultColumns;
}

std::size_t LineRoom(int width) {
  return static_cast<std::size_t>(std::max(1, BarWidth(width) - 1));
}

std::string ProgressBarText(std::int64_t done, std::int64_t total, double seconds,
                            std::string_view unit, int width) {
  width = BarWidth(width);
  const BarFigures figures(done, total, seconds);
  const int cells =
      std::clamp(kBarCellsAt80 + (width - kDefaultColumns), kMinBarCells, kMaxBarCells);
  std::string text = BarCells(figures.fraction, cells) + "  ";
  text += std::to_string(done) + "/" + std::to_string(total) + " " + std::string(unit);
  if (figures.timed) {
    text += "  " + std::to_string(figures.rate) + " " + std::string(unit) + "/s";
    text += "  " + figures.left + " left";
  }
  if (text.size() > LineRoom(width)) text.resize(LineRoom(width));
  return text;
}

LineReport::LineReport(LineOptions options, job::Clock& clock, std::string unit)
    : options_(std::move(options)), clock_(clock), unit_(std::move(unit)), pace_(kRedrawSeconds) {
  phase_start_ = clock_.Seconds();
}

LineReport::~LineReport() {
  EndBar();
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
  pace_.Restart();
}

void LineReport::Progress(std::int64_t done, std::int64_t total) {
  if (options_.quiet || !options_.bar) return;
  const double now = clock_.Seconds();
  if (!pace_.Due(now, done >= total)) return;
  std::string text = ProgressBarText(done, total, now - phase_start_, unit_,
                                     options_.columns ? options_.columns() : 0);
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
