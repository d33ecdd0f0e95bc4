// The matcher of a build without PCRE2: every pattern fails to compile with a message that
// says so, so a script with an expectation is refused before its port opens.
#include "terminal/text_matcher.h"

namespace tvx::terminal {

struct Pattern::Code {};
struct TextMatcher::State {};

Pattern::Pattern(std::string_view pattern) {
  (void)pattern;
  error_ = "regular expressions are not available in this build";
}
Pattern::~Pattern() = default;
Pattern::Pattern(Pattern&& other) noexcept : error_(std::move(other.error_)) {}
Pattern& Pattern::operator=(Pattern&& other) noexcept {
  error_ = std::move(other.error_);
  return *this;
}

TextMatcher::TextMatcher() = default;
TextMatcher::~TextMatcher() = default;
std::optional<Match> TextMatcher::Expect(const Pattern& pattern) {
  (void)pattern;
  return std::nullopt;
}
std::optional<Match> TextMatcher::Feed(std::string_view text, double seconds) {
  (void)text;
  (void)seconds;
  return std::nullopt;
}
std::optional<Match> TextMatcher::Settle() {
  return std::nullopt;
}

}  // namespace tvx::terminal
