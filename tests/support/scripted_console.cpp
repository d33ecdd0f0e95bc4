#include "support/scripted_console.h"

#include <chrono>
#include <stdexcept>

namespace tvx::testing {

ScriptedConsole::ScriptedConsole() = default;
ScriptedConsole::~ScriptedConsole() = default;

// The signal is raised exactly while the queue is not empty.
void ScriptedConsole::PushLocked(std::string key) {
  key_signal_.Raise();
  keys_.push_back(std::move(key));
  blocked_ms_ = 0;
}

void ScriptedConsole::Feed(std::string_view chars) {
  {
    std::lock_guard lock(mutex_);
    for (char c : chars) PushLocked(std::string(1, c));
  }
  key_fed_.notify_all();
}

void ScriptedConsole::FeedKeys(std::initializer_list<std::string> keys) {
  FeedKeys(std::vector<std::string>(keys));
}

void ScriptedConsole::FeedKeys(const std::vector<std::string>& keys) {
  {
    std::lock_guard lock(mutex_);
    for (const std::string& key : keys) PushLocked(key);
  }
  key_fed_.notify_all();
}

void ScriptedConsole::FeedKey(std::string key) {
  FeedKeys({std::move(key)});
}

void ScriptedConsole::OnKeyWanted(std::function<void(ScriptedConsole&)> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

void ScriptedConsole::SetStarveLimitMs(int ms) {
  std::lock_guard lock(mutex_);
  starve_limit_ms_ = ms;
}

std::string ScriptedConsole::ReadKey() {
  std::lock_guard lock(mutex_);
  if (keys_.empty()) return {};
  std::string key = std::move(keys_.front());
  keys_.pop_front();
  if (keys_.empty()) key_signal_.Lower();
  taken_.push_back(key);
  blocked_ms_ = 0;
  return key;
}

void ScriptedConsole::RequestStop(int signal_number) {
  stop_.Request(signal_number);
  { std::lock_guard lock(mutex_); }
  key_fed_.notify_all();
}

bool ScriptedConsole::KeyWaiting() {
  std::lock_guard lock(mutex_);
  return !keys_.empty();
}

void ScriptedConsole::Beep() {
  std::lock_guard lock(mutex_);
  ++beeps_;
}

bool ScriptedConsole::Present(bool) {
  std::lock_guard lock(mutex_);
  ++presents_;
  return true;
}

void ScriptedConsole::AwaitKey(int timeout_ms) {
  Present(false);
  std::function<void(ScriptedConsole&)> hook;
  {
    std::lock_guard lock(mutex_);
    if (!keys_.empty()) return;
    hook = hook_;
  }
  if (hook) hook(*this);

  std::unique_lock lock(mutex_);
  if (!keys_.empty()) return;
  const std::int64_t budget = starve_limit_ms_ - blocked_ms_;
  const std::int64_t wait = timeout_ms < 0 ? budget : std::min<std::int64_t>(timeout_ms, budget);
  const auto start = std::chrono::steady_clock::now();
  key_fed_.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(wait, 0)),
                    [this] { return !keys_.empty() || stop_.Requested(); });
  if (!keys_.empty() || stop_.Requested()) return;
  blocked_ms_ += std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count();
  if (blocked_ms_ >= starve_limit_ms_) {
    if (starved_) throw std::runtime_error("ScriptedConsole: starved twice, no key was fed");
    starved_ = true;
    PushLocked("\x1b");
  }
}

console::NativeWaitHandle ScriptedConsole::KeyWaitHandle() const {
  return key_signal_.Handle();
}

void ScriptedConsole::DiscardTypeAhead() {
  std::lock_guard lock(mutex_);
  discarded_.insert(discarded_.end(), keys_.begin(), keys_.end());
  keys_.clear();
  key_signal_.Lower();
}

std::vector<std::string> ScriptedConsole::KeysDiscarded() const {
  std::lock_guard lock(mutex_);
  return discarded_;
}

int ScriptedConsole::Beeps() const {
  std::lock_guard lock(mutex_);
  return beeps_;
}

int ScriptedConsole::Presents() const {
  std::lock_guard lock(mutex_);
  return presents_;
}

std::size_t ScriptedConsole::KeysLeft() const {
  std::lock_guard lock(mutex_);
  return keys_.size();
}

std::vector<std::string> ScriptedConsole::KeysTaken() const {
  std::lock_guard lock(mutex_);
  return taken_;
}

bool ScriptedConsole::Starved() const {
  std::lock_guard lock(mutex_);
  return starved_;
}

std::string ScriptedConsole::RowTrimmed(int row) const {
  std::string text = RowText(row);
  const std::size_t end = text.find_last_not_of(' ');
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

int ScriptedConsole::Foreground(int row, int column) const {
  return console::ForegroundOf(screen_.At(row, column).attr);
}

int ScriptedConsole::Background(int row, int column) const {
  return console::BackgroundOf(screen_.At(row, column).attr);
}

bool ScriptedConsole::RowColours(int row, int first, int last, int fg, int bg) const {
  for (int column = first; column <= last; ++column) {
    if (Foreground(row, column) != fg || Background(row, column) != bg) return false;
  }
  return true;
}

}  // namespace tvx::testing
