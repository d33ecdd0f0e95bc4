#include "terminal/session_log.h"

#include <cstdio>

#include "terminal/radio_text.h"

namespace tvx::terminal {
namespace {

constexpr std::uint8_t kCr = 13;
constexpr std::uint8_t kLf = 10;
constexpr std::string_view kSecretShown = "<secret>";

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::string UtcMillisText(SessionLog::Time when) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(when);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss time{ms - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int{date.year()},
                unsigned{date.month()}, unsigned{date.day()},
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

void SessionLog::Sent(std::span<const std::uint8_t> bytes, Time when) {
  Add(Direction::kToRadio, bytes, when);
}

void SessionLog::Received(std::span<const std::uint8_t> bytes, Time when) {
  Add(Direction::kFromRadio, bytes, when);
}

void SessionLog::SentSecret(std::string_view text, Time when) {
  Flush();
  std::string shown;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) < 127) shown += c;
  }
  if (!shown.empty()) secrets_.push_back(std::move(shown));
  Start(Direction::kToRadio, when);
  open_ = false;
  Write(kSecretShown);
}

void SessionLog::Add(Direction direction, std::span<const std::uint8_t> bytes, Time when) {
  for (const std::uint8_t b : bytes) {
    if (open_ && (direction != direction_ || (after_cr_ && b != kLf))) Flush();
    if (!open_) Start(direction, when);
    bytes_ += static_cast<char>(b);
    after_cr_ = b == kCr;
    if (b == kLf || bytes_.size() >= kMaxLineBytes) Flush();
  }
}

void SessionLog::Start(Direction direction, Time when) {
  open_ = true;
  direction_ = direction;
  since_ = when;
  bytes_.clear();
  after_cr_ = false;
}

void SessionLog::Flush() {
  if (!open_) return;
  open_ = false;
  std::string shown;
  std::string_view rest = bytes_;
  // The radio's echo of a secret, where one line holds it whole.
  while (direction_ == Direction::kFromRadio && !secrets_.empty()) {
    std::size_t at = std::string_view::npos;
    std::size_t length = 0;
    for (const std::string& secret : secrets_) {
      const std::size_t found = rest.find(secret);
      if (found < at || (found == at && secret.size() > length)) {
        at = found;
        length = secret.size();
      }
    }
    if (at == std::string_view::npos) break;
    AppendEscaped(shown, Bytes(rest.substr(0, at)));
    shown += kSecretShown;
    rest.remove_prefix(at + length);
  }
  AppendEscaped(shown, Bytes(rest));
  Write(shown);
}

void SessionLog::Write(std::string_view shown) {
  std::string line = UtcMillisText(since_);
  line += ' ';
  line += static_cast<char>(direction_);
  line += ' ';
  line += shown;
  line += '\n';
  sink_(line);
}

}  // namespace tvx::terminal
