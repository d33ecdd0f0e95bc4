#include "terminal/text_matcher.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <utility>

namespace tvx::terminal {
namespace {

// Kept before the search's start: what ^, \b and a short lookbehind look at.
constexpr std::size_t kContext = 256;
// The prefix that may be dropped is let go only once it is this long (no copy per chunk).
constexpr std::size_t kTrimStep = 4096;
// Bounds of one search: backtracking steps and the memory for it (KiB). A pattern that passes
// them fails its search instead of taking the port's thread for long.
constexpr std::uint32_t kMatchLimit = 5'000'000;
constexpr std::uint32_t kHeapLimitKiB = 16 * 1024;

std::string ErrorText(int code) {
  PCRE2_UCHAR text[256];
  if (pcre2_get_error_message(code, text, sizeof text) < 0) return "error " + std::to_string(code);
  return reinterpret_cast<const char*>(text);
}

bool ContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

struct Pattern::Code {
  pcre2_code* code = nullptr;
  std::vector<std::pair<int, std::string>> names;  ///< group number and name, by number
};

Pattern::Pattern(std::string_view pattern) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                   PCRE2_UTF | PCRE2_MULTILINE, &error, &offset, nullptr);
  if (code == nullptr) {
    error_offset_ = offset;
    error_ = ErrorText(error) + " at offset " + std::to_string(offset);
    return;
  }
  // Machine code when the platform has it; the interpreter gives the same answers otherwise.
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_HARD);
  code_ = new Code{code, {}};
  std::uint32_t count = 0;
  std::uint32_t entry_size = 0;
  PCRE2_SPTR table = nullptr;
  pcre2_pattern_info(code, PCRE2_INFO_NAMECOUNT, &count);
  pcre2_pattern_info(code, PCRE2_INFO_NAMEENTRYSIZE, &entry_size);
  pcre2_pattern_info(code, PCRE2_INFO_NAMETABLE, &table);
  for (std::uint32_t i = 0; i < count; ++i) {
    const PCRE2_SPTR entry = table + std::size_t{i} * entry_size;
    code_->names.emplace_back(entry[0] << 8 | entry[1], reinterpret_cast<const char*>(entry + 2));
  }
  std::sort(code_->names.begin(), code_->names.end());
}

Pattern::~Pattern() {
  if (code_ != nullptr) pcre2_code_free(code_->code);
  delete code_;
}

Pattern::Pattern(Pattern&& other) noexcept
    : code_(std::exchange(other.code_, nullptr)),
      error_(std::move(other.error_)),
      error_offset_(other.error_offset_) {}

Pattern& Pattern::operator=(Pattern&& other) noexcept {
  if (this != &other) {
    if (code_ != nullptr) pcre2_code_free(code_->code);
    delete code_;
    code_ = std::exchange(other.code_, nullptr);
    error_ = std::move(other.error_);
    error_offset_ = other.error_offset_;
  }
  return *this;
}

struct TextMatcher::State {
  State() : context(pcre2_match_context_create(nullptr)) {
    pcre2_set_match_limit(context, kMatchLimit);
    pcre2_set_heap_limit(context, kHeapLimitKiB);
  }
  ~State() {
    pcre2_match_data_free(data);
    pcre2_match_context_free(context);
  }
  pcre2_match_context* context;
  pcre2_match_data* data = nullptr;  ///< sized for the pattern waited for
  double last_seconds = 0;           ///< when the latest text arrived
};

TextMatcher::TextMatcher() : state_(std::make_unique<State>()) {}
TextMatcher::~TextMatcher() = default;

std::optional<Match> TextMatcher::Expect(const Pattern& pattern) {
  pattern_ = &pattern;
  failure_.clear();
  search_ = window_;
  pcre2_match_data_free(state_->data);
  state_->data = pcre2_match_data_create_from_pattern(pattern.code_->code, nullptr);
  return Search(true);
}

std::optional<Match> TextMatcher::Feed(std::string_view text, double seconds) {
  state_->last_seconds = seconds;
  if (!text.empty()) {
    buffer_ += text;
    arrivals_.push_back(Arrival{buffer_.size(), seconds});
  }
  // A partial match (or the text waiting without an expectation) never spans more than the
  // window's bound: its start moves on, whole characters at a time.
  if (buffer_.size() - search_ > kMaxWindow) {
    search_ = buffer_.size() - kMaxWindow;
    while (search_ < buffer_.size() && ContinuationByte(buffer_[search_])) ++search_;
    window_ = std::max(window_, search_);
  }
  std::optional<Match> match = Search(true);
  Trim(search_);
  return match;
}

std::optional<Match> TextMatcher::Settle() {
  return Search(false);
}

std::optional<Match> TextMatcher::Search(bool partial) {
  if (pattern_ == nullptr) return std::nullopt;
  pcre2_match_data* data = state_->data;
  const int rc =
      pcre2_match(pattern_->code_->code, reinterpret_cast<PCRE2_SPTR>(buffer_.data()),
                  buffer_.size(), search_, partial ? PCRE2_PARTIAL_HARD : 0, data, state_->context);
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
  if (rc == PCRE2_ERROR_PARTIAL) {
    search_ = ovector[0];  // the match may still come from here on
    return std::nullopt;
  }
  if (rc == PCRE2_ERROR_NOMATCH) {
    // With partial matching, no match can begin before the end even with more text to come.
    if (partial) search_ = buffer_.size();
    return std::nullopt;
  }
  if (rc < 0) {
    failure_ = ErrorText(rc);
    return std::nullopt;
  }
  const std::size_t start = ovector[0];
  const std::size_t end = std::max(ovector[0], ovector[1]);  // \K can put the start past the end
  Match match;
  match.text = buffer_.substr(std::min(start, end), end - std::min(start, end));
  const std::uint32_t pairs = pcre2_get_ovector_count(data);
  for (const auto& [number, name] : pattern_->code_->names) {
    Capture capture{name, {}, false};
    const auto group = static_cast<std::uint32_t>(number);
    if (group < pairs && group < static_cast<std::uint32_t>(rc) &&
        ovector[2 * group] != PCRE2_UNSET) {
      capture.value =
          buffer_.substr(ovector[2 * group], ovector[2 * group + 1] - ovector[2 * group]);
      capture.set = true;
    }
    match.captures.push_back(std::move(capture));
  }
  match.seconds = state_->last_seconds;
  for (const Arrival& a : arrivals_) {
    if (a.end >= end && end > 0) {
      match.seconds = a.seconds;
      break;
    }
  }
  // The next expectation sees what follows the match.
  pattern_ = nullptr;
  window_ = search_ = end;
  return match;
}

void TextMatcher::Trim(std::size_t keep_from) {
  std::size_t cut = keep_from > kContext ? keep_from - kContext : 0;
  while (cut > 0 && ContinuationByte(buffer_[cut])) --cut;
  if (cut < kTrimStep && cut < buffer_.size() / 2) return;
  buffer_.erase(0, cut);
  window_ -= cut;
  search_ -= cut;
  while (!arrivals_.empty() && arrivals_.front().end <= cut) arrivals_.pop_front();
  for (Arrival& a : arrivals_) a.end -= cut;
}

}  // namespace tvx::terminal
