#include "app/line_console.h"

#include <algorithm>
#include <cmath>

namespace tvx::app {
namespace {

constexpr double kRedrawSeconds = 0.1;
constexpr std::size_t kLineWidth = 79;

}  // namespace

LineConsole::LineConsole(std::FILE* out, bool terminal, job::Clock& clock, std::int32_t retries,
                         std::string unit, double silence_seconds)
    : out_(out),
      terminal_(terminal),
      clock_(clock),
      retries_(retries),
      unit_(std::move(unit)),
      silence_limit_(std::max(0.0, silence_seconds)) {}

void LineConsole::TypeLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    for (const char c : line) keys_.emplace_back(1, c);
    keys_.emplace_back("\r");
  }
}

std::string LineConsole::ReadKey() {
  if (keys_.empty()) return {};
  std::string key = std::move(keys_.front());
  keys_.pop_front();
  return key;
}

// Only the waits ask whether a key is waiting, so only a wait is given the silence key; the
// job's other looks at the keyboard (ReadKey between two records) never take it.
bool LineConsole::KeyWaiting() {
  if (keys_.empty()) PressKeyIfSilent();
  return !keys_.empty();
}

void LineConsole::AwaitKey(int timeout_ms) {
  if (!keys_.empty()) return;
  if (timeout_ms < 0) {
    keys_.emplace_back("\r");
    return;
  }
  const int due = KeyDueInMs();
  clock_.SleepMs(due >= 0 && due < timeout_ms ? due : timeout_ms);
}

double LineConsole::SilenceKeyDue() const {
  if (silence_limit_ <= 0.0 || quiet_since_ < 0.0) return -1.0;
  return quiet_since_ + silence_limit_ * (silence_keys_ + 1);
}

int LineConsole::KeyDueInMs() const {
  if (!keys_.empty()) return 0;
  const double due = SilenceKeyDue();
  if (due < 0.0) return -1;
  // Rounded up, so that the wait it bounds ends at or after the moment, never just before.
  const double ms = std::ceil((due - clock_.Seconds()) * 1000.0);
  return static_cast<int>(std::clamp(ms, 0.0, 1.0e9));
}

void LineConsole::NoteProgress() {
  quiet_since_ = clock_.Seconds();
  silence_keys_ = 0;
}

void LineConsole::PressKeyIfSilent() {
  const double due = SilenceKeyDue();
  if (due < 0.0) return;
  const double now = clock_.Seconds();
  if (now < due) return;
  ++silence_keys_;
  const bool enter = silence_keys_ == 1;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", now - quiet_since_);
  WriteLine(std::string("The radio was silent for ") + seconds + " s at \"" + phase_ +
            "\": pressing " + (enter ? "Enter." : "Escape."));
  keys_.emplace_back(enter ? "\r" : "\x1b");
}

void LineConsole::Put(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

void LineConsole::EndBar() {
  if (!bar_shown_) return;
  Put("\n");
  bar_shown_ = false;
}

void LineConsole::WriteLine(std::string_view text) {
  EndBar();
  Put(std::string(text) + "\n");
}

void LineConsole::DrawBar(std::int64_t done, std::int64_t total) {
  std::string text = ProgressBarText(done, total, clock_.Seconds() - phase_start_, unit_);
  text.resize(kLineWidth, ' ');  // covers a longer text drawn before
  Put("\r" + text);
  bar_shown_ = true;
}

void LineConsole::Phase(std::string_view name) {
  WriteLine(name);
  phase_ = name;
  NoteProgress();
  phase_start_ = clock_.Seconds();
  last_draw_ = -1.0;
  last_done_ = -1;
}

void LineConsole::Progress(std::int64_t done, std::int64_t total) {
  if (done > last_done_) retries_used_ = 0;
  NoteProgress();
  last_done_ = done;
  if (!terminal_) return;
  const double now = clock_.Seconds();
  if (done < total && last_draw_ >= 0.0 && now - last_draw_ < kRedrawSeconds) return;
  last_draw_ = now;
  DrawBar(done, total);
}

void LineConsole::Message(std::string_view text) {
  WriteLine(text);
}

// The answer starts a new attempt, so the silence starts again with it.
void LineConsole::Prompt(job::PromptKind kind, std::string_view text) {
  NoteProgress();
  std::string line(text);
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (kind == job::PromptKind::kContinue) {
    keys_.emplace_back("\r");
  } else if (retries_used_ < retries_) {
    ++retries_used_;
    line += "  -> retry " + std::to_string(retries_used_) + " of " + std::to_string(retries_);
    keys_.emplace_back("\r");
  } else {
    ++gave_up_;
    line += "  -> no retries left: stopping";
    keys_.emplace_back("\x1b");
  }
  WriteLine(line);
}

}  // namespace tvx::app
