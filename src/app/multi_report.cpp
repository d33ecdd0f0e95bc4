#include "app/multi_report.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace tvx::app {
namespace {

constexpr int kDefaultColumns = 80;
constexpr std::size_t kStateWidth = 9;  // "handshake", "read-back"
constexpr int kMinBarCells = 4;
constexpr int kTailRoom = 36;  // "  100%  33097/33097  1250/s  0:13 left"
constexpr int kMaxBarCells = 24;
constexpr double kRedrawSeconds = 0.1;
// How often one upload hands its progress to the board, in its own clock's seconds.
constexpr double kSendSeconds = 0.05;

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

}  // namespace

std::string LiveLineText(const LiveLine& line, std::size_t device_width, int width) {
  if (width <= 0) width = kDefaultColumns;
  const std::string head = Padded(line.device, device_width) + "  " +
                           Padded(line.serial ? std::to_string(*line.serial) : "-", 7) + "  " +
                           Padded(line.state, kStateWidth) + "  ";
  const double fraction =
      line.total > 0
          ? std::clamp(static_cast<double>(line.done) / static_cast<double>(line.total), 0.0, 1.0)
          : 0.0;
  const std::string percent = std::to_string(static_cast<int>(fraction * 100.0));
  std::vector<std::string> tail = {
      "  " + std::string(3 - std::min<std::size_t>(3, percent.size()), ' ') + percent + "%"};
  if (line.total > 0) {
    tail.push_back("  " + std::to_string(line.done) + "/" + std::to_string(line.total));
  }
  if (line.seconds > 0.0 && line.done > 0) {
    const double rate = static_cast<double>(line.done) / line.seconds;
    tail.push_back("  " + std::to_string(std::llround(rate)) + "/s");
    if (line.done < line.total) {
      tail.push_back("  " + MinutesSeconds(static_cast<double>(line.total - line.done) / rate) +
                     " left");
    }
  }
  // The bar takes what the width leaves beside the longest tail, so that it keeps its size as
  // the tail grows and the bars of all lines line up; the last column stays free (a terminal
  // that wraps at the edge would start a new line and the redraw would lose its place).
  const int room = width - 1 - static_cast<int>(head.size()) - 2 - kTailRoom;
  const int cells = std::clamp(room, kMinBarCells, kMaxBarCells);
  const int filled = static_cast<int>(fraction * cells);
  std::string text = head + "[" + std::string(filled, '#') + std::string(cells - filled, '-') + "]";
  // Whole fields that do not fit are left out, the last ones first.
  const auto fit = static_cast<std::size_t>(std::max(1, width - 1));
  std::size_t length = text.size();
  std::size_t fields = 0;
  while (fields < tail.size() && length + tail[fields].size() <= fit)
    length += tail[fields++].size();
  for (std::size_t i = 0; i < fields; ++i) text += tail[i];
  if (text.size() > fit) text.resize(fit);
  return text;
}

LiveBoard::LiveBoard(LineOptions options, job::Clock& clock, std::vector<std::string> devices)
    : options_(std::move(options)), clock_(clock) {
  live_ = options_.bar && !options_.quiet;
  for (std::string& device : devices) {
    device_width_ = std::max(device_width_, device.size());
    LiveLine line;
    line.device = std::move(device);
    lines_.push_back(std::move(line));
  }
  if (live_) Redraw(true);
}

LiveBoard::~LiveBoard() {
  End();
}

int LiveBoard::Columns() const {
  const int columns = options_.columns ? options_.columns() : 0;
  return columns > 0 ? columns : kDefaultColumns;
}

void LiveBoard::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), options_.err);
  std::fflush(options_.err);
}

std::string LiveBoard::Lines(bool over) const {
  std::string text;
  if (over) text = "\x1b[" + std::to_string(lines_.size()) + "A\r";
  const int columns = Columns();
  for (const LiveLine& line : lines_) {
    text += LiveLineText(line, device_width_, columns) + "\x1b[K\n";
  }
  return text;
}

// Called with the mutex held.
void LiveBoard::Redraw(bool force) {
  if (!live_ || ended_) return;
  const double now = clock_.Seconds();
  if (!force && last_draw_ >= 0.0 && now - last_draw_ < kRedrawSeconds) return;
  last_draw_ = now;
  Write(Lines(drawn_));
  drawn_ = true;
}

// Called with the mutex held. On a terminal the note goes where the lines were, and they are
// drawn again under it.
void LiveBoard::Put(std::size_t row, std::string_view text) {
  std::string line = lines_[row].device + ": " + std::string(text) + "\n";
  if (live_ && drawn_ && !ended_) {
    line = "\x1b[" + std::to_string(lines_.size()) + "A\r\x1b[J" + line + Lines(false);
    last_draw_ = clock_.Seconds();
  }
  Write(line);
}

void LiveBoard::Note(std::size_t row, std::string_view text) {
  if (options_.quiet) return;
  const std::lock_guard lock(mutex_);
  Put(row, text);
}

void LiveBoard::Error(std::size_t row, std::string_view text) {
  const std::lock_guard lock(mutex_);
  Put(row, text);
}

void LiveBoard::SetState(std::size_t row, std::string_view state) {
  const std::lock_guard lock(mutex_);
  lines_[row].state = std::string(state);
  Redraw(true);
}

void LiveBoard::SetSerial(std::size_t row, std::uint32_t serial) {
  const std::lock_guard lock(mutex_);
  lines_[row].serial = serial;
  Redraw(true);
}

void LiveBoard::SetProgress(std::size_t row, std::int64_t done, std::int64_t total,
                            double seconds) {
  if (!live_) return;
  const std::lock_guard lock(mutex_);
  LiveLine& line = lines_[row];
  line.done = done;
  line.total = total;
  line.seconds = seconds;
  Redraw(done >= total);
}

void LiveBoard::End() {
  const std::lock_guard lock(mutex_);
  Redraw(true);
  ended_ = true;
}

PortSink::PortSink(LiveBoard& board, std::size_t row, job::Clock& clock)
    : board_(board), row_(row), clock_(clock) {
  phase_start_ = clock_.Seconds();
}

// On a terminal the live line's state tells the phase; without one it is a note.
void PortSink::Phase(std::string_view name) {
  if (!board_.Live()) board_.Note(row_, name);
  phase_start_ = clock_.Seconds();
  last_sent_ = -1.0;
}

void PortSink::State(std::string_view word) {
  board_.SetState(row_, word);
}

void PortSink::Serial(std::uint32_t serial) {
  board_.SetSerial(row_, serial);
}

// Called for every word: only a share of them reaches the board (and its mutex).
void PortSink::Progress(std::int64_t done, std::int64_t total) {
  if (!board_.Live()) return;
  const double now = clock_.Seconds();
  if (done < total && last_sent_ >= 0.0 && now - last_sent_ < kSendSeconds) return;
  last_sent_ = now;
  board_.SetProgress(row_, done, total, now - phase_start_);
}

void PortSink::Note(std::string_view text) {
  board_.Note(row_, text);
}

void PortSink::Error(std::string_view text) {
  board_.Error(row_, text);
}

}  // namespace tvx::app
