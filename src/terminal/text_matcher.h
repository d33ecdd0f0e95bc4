// The expectations of a set-up script: a regular expression searched for in the radio's text
// (radio_text.h) as it arrives, one expectation after the other. Each one sees what the radio
// sent since the previous match. Patterns are PCRE2 regular expressions in UTF-8 mode (a "."
// is one glyph) with multi-line anchors (^ and $ at every line; the radio's carriage return is
// a "\n"); named groups are the captures a script reports.
//
// The search is incremental: the pattern is compiled once, and each chunk of text resumes the
// search with hard partial matching, so a match is reported as soon as its last character has
// arrived and only then. A match whose end could still grow waits for the next character
// (`ID (\d+)` sees "ID 12" then "3\n" as 123, never as 12): the caller calls Settle when the
// radio has fallen quiet to take such a match as it stands. Text that can no longer start a
// match is let go, and a partial match may span at most kMaxWindow bytes, so a long stream
// without a match holds a bounded amount of memory.
//
// Not thread-safe; one matcher per port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tvx::terminal {

/// A compiled pattern. Move-only.
class Pattern {
 public:
  /// Compiles `pattern` (UTF-8). On failure Ok() is false and Error() holds PCRE2's own message
  /// with the offset it names.
  explicit Pattern(std::string_view pattern);
  ~Pattern();
  Pattern(Pattern&& other) noexcept;
  Pattern& operator=(Pattern&& other) noexcept;
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  bool Ok() const { return code_ != nullptr; }
  /// "missing closing parenthesis at offset 4"; empty when Ok().
  const std::string& Error() const { return error_; }
  /// The offset in the pattern (bytes) PCRE2 named; 0 when Ok().
  std::size_t ErrorOffset() const { return error_offset_; }

 private:
  friend class TextMatcher;
  struct Code;
  Code* code_ = nullptr;
  std::string error_;
  std::size_t error_offset_ = 0;
};

/// One named group of a match; `set` is false when the group took no part in it.
struct Capture {
  std::string name;
  std::string value;
  bool set = false;
};

struct Match {
  std::string text;               ///< what the whole pattern matched
  std::vector<Capture> captures;  ///< the named groups, in the order of their numbers
  double seconds = 0;             ///< when the text that completed the match arrived
};

class TextMatcher {
 public:
  /// The most text one match (or partial match) may span, in bytes of UTF-8.
  static constexpr std::size_t kMaxWindow = 64 * 1024;

  TextMatcher();
  ~TextMatcher();
  TextMatcher(const TextMatcher&) = delete;
  TextMatcher& operator=(const TextMatcher&) = delete;

  /// Starts waiting for `pattern` (which must be Ok() and outlive the wait) in the text since
  /// the previous match; returns the match at once when that text holds one already.
  std::optional<Match> Expect(const Pattern& pattern);
  /// Adds text (whole UTF-8 characters, as AppendRadioText makes them) that arrived at
  /// `seconds`; returns the match it completes, if any (the expectation then ends, and the text
  /// after the match waits for the next one). Without an expectation the text only waits.
  std::optional<Match> Feed(std::string_view text, double seconds);
  /// The radio is quiet: takes the text so far as complete and returns a match that only waited
  /// for more text to be sure of its end.
  std::optional<Match> Settle();
  /// Forgets the expectation (a time-out); the text stays for the next one.
  void Cancel() { pattern_ = nullptr; }

  bool Waiting() const { return pattern_ != nullptr; }
  /// Why the last search failed for another reason than no match (PCRE2's match limit), else
  /// empty. The expectation stays: more text may still match.
  const std::string& Failure() const { return failure_; }
  /// Bytes held (the window and the little context kept before it), for tests of the bound.
  std::size_t BufferedBytes() const { return buffer_.size(); }

 private:
  struct State;
  std::optional<Match> Search(bool partial);
  void Trim(std::size_t keep_from);

  std::unique_ptr<State> state_;
  const Pattern* pattern_ = nullptr;
  std::string buffer_;      ///< context, then the window (the text since the last match)
  std::size_t window_ = 0;  ///< where the window starts in buffer_
  std::size_t search_ = 0;  ///< where the next search starts (a partial match, or the end)
  struct Arrival {
    std::size_t end;  ///< buffer_ offset just past the chunk
    double seconds;
  };
  std::deque<Arrival> arrivals_;  ///< when each chunk still in the buffer arrived
  std::string failure_;
};

}  // namespace tvx::terminal
