#include "app/config_file.h"

#include <algorithm>
#include <set>
#include <string_view>

namespace tvx::app {
namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool IsQuote(char c) {
  return c == '"' || c == '\'';
}

// One pass over the text: every step takes what it reads off the front of `rest_`.
class TextReader {
 public:
  explicit TextReader(std::string_view text) : rest_(text) {}

  std::vector<CLI::ConfigItem> Items() {
    std::vector<CLI::ConfigItem> items;
    std::string section;
    std::set<std::string> sections, keys;
    while (!rest_.empty()) {
      const std::string_view line = Trimmed(rest_.substr(0, rest_.find('\n')));
      if (line.empty() || line.front() == '#' || line.front() == ';') {
        Line();
        continue;
      }
      if (line.front() == '[' && line.back() == ']') {
        Line();
        section = std::string(Trimmed(line.substr(1, line.size() - 2)));
        if (section == "default" || section == "DEFAULT") section.clear();
        if (!sections.insert(section).second) {
          throw ConfigFormError({ConfigFault::Kind::kSectionTwice, section});
        }
        continue;
      }
      CLI::ConfigItem& item = items.emplace_back();
      const std::size_t equals = line.find('=');
      std::string key(Unquoted(Trimmed(line.substr(0, equals))));
      if (!section.empty()) key = section + "." + key;
      for (std::size_t dot = key.find('.'); dot != std::string::npos; dot = key.find('.')) {
        item.parents.push_back(key.substr(0, dot));
        key.erase(0, dot + 1);
      }
      item.name = std::move(key);
      if (!keys.insert(item.fullname()).second) {
        throw ConfigFormError({ConfigFault::Kind::kKeyTwice, item.fullname()});
      }
      if (equals == std::string_view::npos) {
        Line();
        item.inputs = {"true"};
        continue;
      }
      // The value may go on over the following lines (a list): read on from the text itself.
      rest_.remove_prefix(static_cast<std::size_t>(line.data() + equals + 1 - rest_.data()));
      item.inputs = Value();
      for (const std::string& input : item.inputs) {
        if (input.find('\0') != std::string::npos) {
          throw ConfigFormError({ConfigFault::Kind::kNulByte, item.fullname()});
        }
      }
    }
    return items;
  }

 private:
  // The text up to the end of the line, taken off with the line end.
  std::string_view Line() {
    const std::size_t end = std::min(rest_.find('\n'), rest_.size());
    const std::string_view line = rest_.substr(0, end);
    rest_.remove_prefix(std::min(end + 1, rest_.size()));
    return line;
  }

  static std::string_view Unquoted(std::string_view text) {
    if (text.size() >= 2 && IsQuote(text.front()) && text.back() == text.front()) {
      return text.substr(1, text.size() - 2);
    }
    return text;
  }

  void SkipBlanks() {
    rest_.remove_prefix(std::min(rest_.find_first_not_of(kBlanks), rest_.size()));
  }

  // One value at the front, quoted or bare up to one of `ends` (a bare one is trimmed).
  std::string Word(std::string_view ends) {
    SkipBlanks();
    if (!rest_.empty() && IsQuote(rest_.front())) {
      const std::size_t close = rest_.find_first_of(std::string{rest_.front(), '\n'}, 1);
      if (close != std::string_view::npos && rest_[close] == rest_.front()) {
        std::string word(rest_.substr(1, close - 1));
        rest_.remove_prefix(close + 1);
        return word;
      }
    }
    const std::size_t end = std::min(rest_.find_first_of(ends), rest_.size());
    std::string word(Trimmed(rest_.substr(0, end)));
    rest_.remove_prefix(end);
    return word;
  }

  // A value after "=": a list in [ ] (over several lines if need be), else one word; what
  // follows it on its line (a comment) is passed over.
  std::vector<std::string> Value() {
    std::vector<std::string> values;
    SkipBlanks();
    if (rest_.starts_with('[')) {
      rest_.remove_prefix(1);
      for (;;) {
        rest_.remove_prefix(std::min(rest_.find_first_not_of(" \t\r\n,"), rest_.size()));
        if (rest_.starts_with('#'))
          Line();  // a comment inside the list
        else if (rest_.empty() || rest_.front() == ']')
          break;
        else
          values.push_back(Word(",]#\n"));
      }
      rest_.remove_prefix(std::min<std::size_t>(1, rest_.size()));
    } else {
      values.push_back(Word("#\n"));
    }
    Line();
    return values;
  }

  std::string_view rest_;
};

}  // namespace

std::vector<CLI::ConfigItem> ReadConfigText(std::string_view text) {
  return TextReader(text).Items();
}

std::vector<CLI::ConfigItem> ConfigFileReader::from_config(std::istream& /*unread*/) const {
  std::vector<CLI::ConfigItem> items = ReadConfigText(text);
  if (before_items) before_items(items);
  return items;
}

void SettingOrigins::TakeCommandLine(const CLI::App& app) {
  file_read_ = true;
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() > 0) on_line_.insert(option);
  }
  for (const CLI::App* sub : app.get_subcommands({})) TakeCommandLine(*sub);
}

bool SettingOrigins::OnCommandLine(const CLI::Option* option) const {
  // Without a file every value is the command line's.
  return !file_read_ ? option->count() > 0 : on_line_.contains(option);
}

std::string ConfigKey(const CLI::App& app, const CLI::Option& option) {
  // Every option of the program has a long name; that is the key.
  const std::string key = option.get_lnames().empty() ? option.get_name() : option.get_lnames()[0];
  return app.get_parent() == nullptr ? key : app.get_name() + "." + key;
}

}  // namespace tvx::app
