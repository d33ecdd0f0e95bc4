#include "app/multi_report.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "serial/network_port_name.h"
#include "serial/port_name.h"

namespace tvx::app {
namespace {

constexpr std::size_t kStateWidth = 9;  // "handshake", "read-back"
// What follows the name: "  9123456  " and the state with its two blanks.
constexpr std::size_t kAfterName = 2 + 7 + 2 + kStateWidth + 2;
constexpr int kMinBarCells = 4;
constexpr int kTailRoom = 36;  // "  100%  33097/33097  1250/s  0:13 left"
constexpr int kKeptTail = 18;  // "  100%" and "  12:30 left": never left out for the name
constexpr std::size_t kMinNameWidth = 8;
constexpr int kMaxBarCells = 24;
constexpr double kRedrawSeconds = 0.1;
// How often one upload hands its progress to the board, in its own clock's seconds.
constexpr double kSendSeconds = 0.05;

// The columns a printable text takes: one a character (bytes 0x80-0xBF continue one).
std::size_t TextColumns(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// `text` in `width` columns: cut (at a character, marked "~") or padded with blanks.
std::string Fitted(std::string_view text, std::size_t width) {
  if (width == 0) return {};
  std::string fitted(text);
  if (TextColumns(fitted) > width) {
    std::size_t end = 0;
    for (std::size_t kept = 0; kept + 1 < width; ++kept) {
      do ++end;
      while (end < fitted.size() && (static_cast<unsigned char>(fitted[end]) & 0xC0) == 0x80);
    }
    fitted.resize(end);
    fitted += '~';
  }
  fitted.append(width - TextColumns(fitted), ' ');
  return fitted;
}

bool IsWordEnd(char c) {
  return std::string_view("/\\_-.:").find(c) != std::string_view::npos;
}

// Where the labels of `names` start: after the word end before the first byte in which they
// differ, never at a name's end; 0 for fewer than two names.
std::size_t CommonStart(const std::vector<std::string_view>& names) {
  if (names.size() < 2) return 0;
  std::size_t common = names.front().size();
  for (const std::string_view name : names) {
    std::size_t i = 0;
    while (i < common && i < name.size() && name[i] == names.front()[i]) ++i;
    common = std::min({common, i, name.size() - 1});
  }
  while (common > 0 && !IsWordEnd(names.front()[common - 1])) --common;
  return common;
}

// Where the last part of a path starts: after its last / or \ (one at its very end aside).
std::size_t LastPartStart(std::string_view name) {
  const std::size_t at =
      name.size() < 2 ? std::string_view::npos : name.find_last_of("/\\", name.size() - 2);
  return at == std::string_view::npos ? 0 : at + 1;
}

}  // namespace

std::vector<PortNames> NamePorts(std::span<const std::string> given,
                                 std::span<const std::string> devices) {
  std::vector<std::string_view> named_by_device;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (serial::ComPortNumber(given[i]) == 0 && !devices[i].empty() &&
        !serial::IsNetworkPortName(devices[i])) {
      named_by_device.push_back(devices[i]);
    }
  }
  const std::size_t common = CommonStart(named_by_device);
  std::vector<PortNames> names;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    std::string label;
    if (const int number = serial::ComPortNumber(given[i]); number != 0) {
      label = "Com" + std::to_string(number);
    } else if (serial::IsNetworkPortName(devices[i])) {
      label = devices[i].substr(serial::kNetworkPortScheme.size());  // the server's address
    } else if (!devices[i].empty()) {
      label = devices[i].substr(std::max(common, LastPartStart(devices[i])));
    }
    names.push_back({Printable(devices[i]), Printable(label)});
  }
  return names;
}

std::string LiveLineText(const LiveLine& line, std::string_view name, std::size_t name_width,
                         int width) {
  width = BarWidth(width);
  // The name gives way to the bar, the percentage and the time left.
  const int fixed = static_cast<int>(kAfterName) + kMinBarCells + 2 + kKeptTail + 1;
  const std::size_t cap = std::max<std::size_t>(kMinNameWidth, std::max(0, width - fixed));
  const std::string head = Fitted(name, std::min(std::max(name_width, TextColumns(name)), cap)) +
                           "  " + Fitted(line.serial ? std::to_string(*line.serial) : "-", 7) +
                           "  " + Fitted(line.state, kStateWidth) + "  ";
  const BarFigures figures(line.done, line.total, line.seconds);
  const std::string percent = std::to_string(static_cast<int>(figures.fraction * 100.0));
  // The fields after the bar in the order shown; the percentage first, the time left next,
  // the words and the rate only where they fit.
  enum Field { kPercent, kCount, kRate, kLeft, kFields };
  std::array<std::string, kFields> tail;
  tail[kPercent] =
      "  " + std::string(3 - std::min<std::size_t>(3, percent.size()), ' ') + percent + "%";
  if (line.total > 0) {
    tail[kCount] = "  " + std::to_string(line.done) + "/" + std::to_string(line.total);
  }
  if (figures.timed) {
    tail[kRate] = "  " + std::to_string(figures.rate) + "/s";
    if (line.done < line.total) tail[kLeft] = "  " + figures.left + " left";
  }
  // The bar takes what the width leaves beside the longest tail, so that it keeps its size as
  // the tail grows and the bars of all lines line up.
  const std::size_t fit = LineRoom(width);
  const int head_columns = static_cast<int>(TextColumns(head));
  const int room = static_cast<int>(fit) - head_columns - 2 - kTailRoom;
  const int cells = std::clamp(room, kMinBarCells, kMaxBarCells);
  std::string text = head + BarCells(figures.fraction, cells);
  std::size_t length = static_cast<std::size_t>(head_columns + cells + 2);
  std::array<bool, kFields> shown{};
  for (const Field field : {kPercent, kLeft, kCount, kRate}) {
    shown[field] = length + tail[field].size() <= fit;
    if (shown[field]) length += tail[field].size();
  }
  for (int field = 0; field < kFields; ++field) {
    if (shown[field]) text += tail[field];
  }
  return TextColumns(text) > fit ? Fitted(text, fit) : text;  // a terminal too narrow for all
}

LiveBoard::LiveBoard(LineOptions options, job::Clock& clock, std::vector<PortNames> ports)
    : options_(std::move(options)), clock_(clock), pace_(kRedrawSeconds), names_(std::move(ports)) {
  live_ = options_.bar && !options_.quiet;
  for (const PortNames& names : names_) {
    device_width_ = std::max(device_width_, TextColumns(names.device.Text()));
    label_width_ = std::max(label_width_, TextColumns(names.label.Text()));
  }
  lines_.resize(names_.size());
  if (live_) Redraw(true);
}

LiveBoard::~LiveBoard() {
  End();
}

void LiveBoard::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), options_.err);
  std::fflush(options_.err);
}

std::string LiveBoard::Lines(bool over) const {
  std::string text;
  if (over) text = "\x1b[" + std::to_string(lines_.size()) + "A\r";
  const int columns = BarWidth(options_.columns ? options_.columns() : 0);
  // The whole devices when they leave room for every field, else the short names.
  const bool whole =
      static_cast<int>(device_width_ + kAfterName) + kMinBarCells + 2 + kTailRoom <= columns - 1;
  for (std::size_t row = 0; row < lines_.size(); ++row) {
    const PortNames& names = names_[row];
    text += LiveLineText(lines_[row], whole ? names.device.Text() : names.label.Text(),
                         whole ? device_width_ : label_width_, columns) +
            "\x1b[K\n";
  }
  return text;
}

// Called with the mutex held.
void LiveBoard::Redraw(bool force) {
  if (!live_ || ended_) return;
  if (!pace_.Due(clock_.Seconds(), force)) return;
  Write(Lines(drawn_));
  drawn_ = true;
}

// Called with the mutex held. On a terminal the note goes where the lines were, and they are
// drawn again under it.
void LiveBoard::Put(std::size_t row, std::string_view text) {
  std::string line = names_[row].device + ": " + std::string(text) + "\n";
  if (live_ && drawn_ && !ended_) {
    line = "\x1b[" + std::to_string(lines_.size()) + "A\r\x1b[J" + line + Lines(false);
    pace_.Drew(clock_.Seconds());
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
    : board_(board), row_(row), clock_(clock), pace_(kSendSeconds) {
  phase_start_ = clock_.Seconds();
}

// On a terminal the live line's state tells the phase; without one it is a note.
void PortSink::Phase(std::string_view name) {
  if (!board_.Live()) board_.Note(row_, name);
  phase_start_ = clock_.Seconds();
  pace_.Restart();
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
  if (!pace_.Due(now, done >= total)) return;
  board_.SetProgress(row_, done, total, now - phase_start_);
}

void PortSink::Note(std::string_view text) {
  board_.Note(row_, text);
}

void PortSink::Error(std::string_view text) {
  board_.Error(row_, text);
}

}  // namespace tvx::app
