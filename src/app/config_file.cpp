#include "app/config_file.h"

#include <string_view>

namespace tvx::app {

std::vector<CLI::ConfigItem> ConfigFileReader::from_config(std::istream& input) const {
  std::vector<CLI::ConfigItem> items = CLI::ConfigBase::from_config(input);
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

// CLI11 names the key in one of two sentences: "INI was not able to parse KEY" (no option of
// that name) and "KEY: This option is not allowed in a configuration file".
ConfigKeyError ReadConfigError(const CLI::ConfigError& error) {
  const std::string_view text = error.what();
  constexpr std::string_view kUnknown = "INI was not able to parse ";
  if (text.starts_with(kUnknown)) return {std::string(text.substr(kUnknown.size())), true};
  return {std::string(text.substr(0, text.find(": "))), false};
}

}  // namespace tvx::app
