// The configuration file as the command line reads it: its name, its text read by the platform,
// its keys sifted by the sub-command that runs, and the usage errors that name the file.
#include <CLI/CLI.hpp>
#include <string_view>

#include "app/command_line_parser.h"
#include "app/printable_text.h"

namespace tvx::app {

// CLI11 reads the file after the arguments, for the options they left unset, and refuses a
// key that names no option.
void Parser::AddConfigFile(const ParseSettings& settings) {
  default_config_ = settings.config_file;
  config_ = app_.set_config("--config", default_config_,
                            "read the settings from FILE instead of the place below")
                ->type_name("FILE");
  Takes(NotEmpty(config_), "a file name");
  // CLI11 asks for the file's name (the default one too) before it opens the file: the file is
  // read then, by the platform, which never waits on what is no regular file.
  read_file_ = settings.read_file;
  config_->check(CLI::Validator([this](std::string& path) { return ReadFile(path); }, ""));
  reader_->before_items = [this](std::vector<CLI::ConfigItem>& items) { SiftFileItems(items); };
  app_.config_formatter(reader_);
  app_.allow_config_extras(CLI::config_extras_mode::error);
}

// Notes what the command line gave, then leaves out the sections of the sub-commands that do not
// run (so that "[rf] timeout" never sets the timeout of direct, the two sharing one value),
// once their keys are known to be options.
void Parser::SiftFileItems(std::vector<CLI::ConfigItem>& items) {
  origins_.TakeCommandLine(app_);
  const CLI::App* running = Scope();
  std::erase_if(items, [&](const CLI::ConfigItem& item) {
    if (item.parents.empty() || item.parents.front() == running->get_name()) return false;
    const CLI::App* section = nullptr;
    for (const CLI::App* sub : app_.get_subcommands({})) {
      if (sub->get_name() == item.parents.front()) section = sub;
    }
    const bool marker = item.name == "++" || item.name == "--";  // a section's start and end
    if (section == nullptr) return marker;                       // CLI11 refuses the keys under it
    const bool known =
        marker || (item.parents.size() == 1 && OptionNamed(section, "--" + item.name) != nullptr);
    if (!known) throw CLI::ConfigError::Extras(item.fullname());
    return true;
  });
}

std::string Parser::ReadFile(const std::string& path) {
  if (path != read_path_) {  // CLI11 asks more than once
    read_path_ = path;
    bool absent = !read_file_;
    unread_ = read_file_ ? read_file_(path, reader_->text, absent) : "no file is read here";
    // A default file need not be there; a file in a folder that cannot be searched may be.
    if (absent && config_->count() == 0) unread_.clear();
  }
  return unread_.empty() ? "" : "cannot be read";
}

std::string Parser::ConfigFile() const {
  const std::vector<std::string>& given = config_->results();
  return given.empty() ? default_config_ : given.back();
}

// "in the configuration file FILE".
std::string Parser::InFile() const {
  return "the configuration file " + PrintableText(ConfigFile());
}

// A file that cannot be read, or a key in it that is no option (or not one for a file).
std::string Parser::ExplainFileError(const CLI::ParseError& error,
                                     const CLI::App*& help_scope) const {
  help_scope = &app_;
  if (!unread_.empty()) return InFile() + " cannot be read: " + unread_;
  if (dynamic_cast<const ConfigFormError*>(&error) != nullptr) return InFile() + error.what();
  const auto* config = dynamic_cast<const CLI::ConfigError*>(&error);
  if (config == nullptr) return InFile() + " cannot be read";
  const ConfigKeyError bad = ReadConfigError(*config);
  const std::string quoted = "\"" + PrintableText(bad.key) + "\"";
  if (!bad.unknown) return InFile() + " cannot set " + quoted;
  std::string text = InFile() + " holds an unknown key, " + quoted;
  std::vector<std::string> owners;
  for (const CLI::App* sub : app_.get_subcommands({})) {
    if (OptionNamed(sub, "--" + bad.key) != nullptr) owners.push_back("[" + sub->get_name() + "]");
  }
  if (!owners.empty()) text += ": an option of a sub-command goes under " + Enumerate(owners);
  return text;
}

}  // namespace tvx::app
