// The configuration file as CLI11 reads it (TOML-like "name = value" lines, a [direct] or [rf]
// section for a sub-command's options), and what the usage errors need to know about it: which
// values came from the command line and which from the file, and the key a setting has there.
#pragma once

#include <functional>  // before CLI11's headers, which use std::function without it

#include <CLI/App.hpp>
#include <CLI/Config.hpp>
#include <CLI/Error.hpp>
#include <istream>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tvx::app {

/// What is wrong with the file, as the usage error tells it: its form (a section or a key given
/// twice, a NUL byte in a value), a key that is no option or one the file may not set, or a
/// list of values that an option cannot take.
struct ConfigFault {
  enum class Kind {
    kSectionTwice,  ///< `name` is the section
    kKeyTwice,      ///< `name` is the key as written in full, e.g. "direct.retries"
    kNulByte,       ///< in the value of the key `name`
    kUnknownKey,    ///< `name` names no option
    kNotSettable,   ///< `name` is an option a file may not set (--config, --help)
    kNoValue,       ///< an empty list for `option`
    kSeveralValues  ///< a list of more than one for `option`, which takes one
  };
  Kind kind = Kind::kUnknownKey;
  std::string name;
  const CLI::Option* option = nullptr;  ///< kNoValue, kSeveralValues: the option the key sets

  /// Whether the fault is a value's (the key is right), not the file's form.
  bool AboutValue() const { return option != nullptr; }
};

/// The file refused. The fault is kept as data, and the usage error is worded from it; the
/// exception's own text is a fixed one that says nothing more.
class ConfigFormError : public CLI::ConfigError {
 public:
  explicit ConfigFormError(ConfigFault fault)
      : CLI::ConfigError("the configuration file is refused"), fault_(std::move(fault)) {}
  const ConfigFault& Fault() const { return fault_; }

 private:
  ConfigFault fault_;
};

/// Reads the file's text: "key = value" lines, "# comment" lines and comments after a value,
/// "[section]" lines, a value quoted ("..." or '...', taken as written) or bare, a list in
/// [ ] that may span lines, "key" alone for true. A dotted key ("direct.retries") names its
/// section itself. Linear in the text's length. Throws ConfigFormError (kSectionTwice, kKeyTwice,
/// kNulByte).
std::vector<CLI::ConfigItem> ReadConfigText(std::string_view text);

/// The file's reader for CLI11. The text is read beforehand (text), without waiting, by whoever
/// checked what the file is; CLI11's own opening of the file is left unread. What it read goes
/// to `before_items` (when set), to look at or leave out, before CLI11 applies it: at that
/// moment every option given on the command line holds its value and none holds the file's.
class ConfigFileReader : public CLI::ConfigBase {
 public:
  std::string text;
  std::function<void(std::vector<CLI::ConfigItem>&)> before_items;
  std::vector<CLI::ConfigItem> from_config(std::istream& input) const override;
};

/// Where the values of one parse came from: the command line, else the file.
class SettingOrigins {
 public:
  /// Notes every option of `app` and of its sub-commands that holds a value now, and that the
  /// file is being read.
  void TakeCommandLine(const CLI::App& app);
  /// Whether a file was read (or began to be).
  bool FileRead() const { return file_read_; }
  /// Whether `option` was given on the command line (asked after the parse).
  bool OnCommandLine(const CLI::Option* option) const;

 private:
  bool file_read_ = false;
  std::set<const CLI::Option*> on_line_;
};

/// The key that sets `option` (an option of `app`) in the file: "log", or "direct.retries" for
/// "retries" in the [direct] section.
std::string ConfigKey(const CLI::App& app, const CLI::Option& option);

}  // namespace tvx::app
