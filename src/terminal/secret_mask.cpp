#include "terminal/secret_mask.h"

#include <algorithm>

namespace tvx::terminal {
namespace {

constexpr std::string_view kShown = "<secret>";

}  // namespace

void SecretMask::Add(std::string_view sent) {
  std::string printable;
  for (const char c : sent) {
    if (static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) < 127) printable += c;
  }
  if (!printable.empty()) secrets_.push_back(std::move(printable));
}

std::string SecretMask::Masked(std::string_view text) const {
  std::string out;
  while (!secrets_.empty()) {
    std::size_t at = std::string_view::npos;
    std::size_t length = 0;
    for (const std::string& secret : secrets_) {
      const std::size_t found = text.find(secret);
      if (found < at || (found == at && secret.size() > length)) {
        at = found;
        length = secret.size();
      }
    }
    if (at == std::string_view::npos) break;
    out += text.substr(0, at);
    out += kShown;
    text.remove_prefix(at + length);
  }
  out += text;
  return out;
}

std::string SecretMask::Push(std::string_view text) {
  if (secrets_.empty()) return std::string(text);
  held_ += text;
  // Hold back the longest tail that is the start of a secret (but not a whole one).
  std::size_t hold = 0;
  for (const std::string& secret : secrets_) {
    for (std::size_t k = std::min(secret.size() - 1, held_.size()); k > hold; --k) {
      if (std::string_view(held_).ends_with(std::string_view(secret).substr(0, k))) {
        hold = k;
        break;
      }
    }
  }
  // A whole secret inside the tail is replaced by Masked; the tail itself only waits.
  std::string out = Masked(std::string_view(held_).substr(0, held_.size() - hold));
  held_.erase(0, held_.size() - hold);
  return out;
}

std::string SecretMask::Flush() {
  std::string out = Masked(held_);
  held_.clear();
  return out;
}

}  // namespace tvx::terminal
