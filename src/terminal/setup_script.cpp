#include "terminal/setup_script.h"

#include <charconv>

#include "terminal/radio_text.h"

namespace tvx::terminal {
namespace {

constexpr std::string_view kSecretShown = "<secret>";

struct Word {
  std::string_view name;
  StepKind kind;
};
constexpr Word kWords[] = {{"send", StepKind::kSend},
                           {"send-secret", StepKind::kSendSecret},
                           {"expect", StepKind::kExpect},
                           {"wait", StepKind::kWait}};

std::string_view NameOf(StepKind kind) {
  for (const Word& w : kWords) {
    if (w.kind == kind) return w.name;
  }
  return {};
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Escaped(std::string_view text) {
  std::string shown;
  AppendEscaped(shown, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  return shown;
}

// Fills the step's text (or wait) from its argument. Returns an error without a place.
std::string FillStep(Step& step, std::string_view argument) {
  const std::string name(NameOf(step.kind));
  switch (step.kind) {
    case StepKind::kSend:
    case StepKind::kSendSecret:
      if (argument.empty()) return name + " needs a text";
      if (std::string error = ResolveEscapes(argument, step.text); !error.empty()) {
        // Not even the character after the backslash of a secret is shown.
        return step.kind == StepKind::kSend ? error : "a bad escape (\\r, \\n, \\t, \\\\, \\xNN)";
      }
      return {};
    case StepKind::kExpect:
      if (argument.empty()) return "expect needs a pattern";
      step.text = argument;
      return {};
    case StepKind::kWait: {
      std::uint64_t ms = 0;
      const auto [end, ec] =
          std::from_chars(argument.data(), argument.data() + argument.size(), ms);
      if (argument.empty() || ec != std::errc() || end != argument.data() + argument.size() ||
          ms > kMaxWaitMs) {
        return "wait needs milliseconds from 0 to " + std::to_string(kMaxWaitMs);
      }
      step.wait_ms = static_cast<std::uint32_t>(ms);
      return {};
    }
  }
  return {};
}

}  // namespace

std::string ResolveEscapes(std::string_view text, std::string& bytes) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 1 == text.size()) return "a backslash ends the text (write \\\\ for one)";
    const char e = text[++i];
    if (e == 'r') {
      out += '\r';
    } else if (e == 'n') {
      out += '\n';
    } else if (e == 't') {
      out += '\t';
    } else if (e == '\\') {
      out += '\\';
    } else if (e == 'x') {
      const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
      if (high < 0 || low < 0) return "\\x needs two hexadecimal digits";
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (static_cast<unsigned char>(e) >= 32 && static_cast<unsigned char>(e) < 127) {
      return std::string("unknown escape \\") + e + " (\\r, \\n, \\t, \\\\, \\xNN)";
    } else {
      return "unknown escape: a backslash before byte " + Escaped(std::string_view(&e, 1)) +
             " (\\r, \\n, \\t, \\\\, \\xNN)";
    }
  }
  bytes = std::move(out);
  return {};
}

std::string AddOptionStep(StepKind kind, std::string_view value, std::vector<Step>& steps) {
  Step step;
  step.kind = kind;
  step.place = "--" + std::string(NameOf(kind));
  if (std::string error = FillStep(step, value); !error.empty()) {
    return step.place + " (step " + std::to_string(steps.size() + 1) + "): " + error;
  }
  steps.push_back(std::move(step));
  return {};
}

std::string ParseScript(std::string_view name, std::string_view content, std::vector<Step>& steps) {
  std::vector<Step> parsed;
  std::size_t number = 0;
  for (std::size_t start = 0; start < content.size();) {
    const std::size_t end = std::min(content.find('\n', start), content.size());
    std::string_view line = content.substr(start, end - start);
    start = end + 1;
    ++number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    line.remove_prefix(first);
    const std::size_t blank = std::min(line.find_first_of(" \t"), line.size());
    const std::string_view word = line.substr(0, blank);
    const std::string_view argument = blank < line.size() ? line.substr(blank + 1) : "";

    const std::string place = std::string(name) + " line " + std::to_string(number);
    const Word* known = nullptr;
    for (const Word& w : kWords) {
      if (w.name == word) known = &w;
    }
    if (known == nullptr) {
      return place + ": unknown step \"" + Escaped(word) +
             "\" (send, send-secret, expect, wait; # for a comment)";
    }
    Step step;
    step.kind = known->kind;
    step.place = place;
    if (std::string error = FillStep(step, argument); !error.empty()) return place + ": " + error;
    parsed.push_back(std::move(step));
  }
  if (parsed.empty()) return std::string(name) + ": no steps";
  for (Step& step : parsed) steps.push_back(std::move(step));
  return {};
}

std::string StepLabel(const Step& step) {
  const std::string name(NameOf(step.kind));
  switch (step.kind) {
    case StepKind::kSendSecret:
      return name + " " + std::string(kSecretShown);
    case StepKind::kWait:
      return name + " " + std::to_string(step.wait_ms);
    case StepKind::kExpect: {
      // As written: the pattern's own backslashes stay single.
      std::string shown;
      for (const char c : step.text) {
        if (c == '\\') {
          shown += c;
        } else {
          shown += Escaped(std::string_view(&c, 1));
        }
      }
      return name + " \"" + shown + "\"";
    }
    case StepKind::kSend:
      break;
  }
  return name + " \"" + Escaped(step.text) + "\"";
}

}  // namespace tvx::terminal
