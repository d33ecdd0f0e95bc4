// The configuration file as the command line reads it: its name, its text read by the platform,
// its keys sifted by the sub-command that runs, and the usage errors that name the file.
#include <CLI/CLI.hpp>
#include <string_view>

#include "app/command_line_parser.h"
#include "app/printable_text.h"

namespace tvx::app {

// CLI11 reads the file after the arguments, for the options they left unset; SiftFileItems
// refuses a key that names no option before CLI11 sees it.
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

// Notes what the command line gave, checks every key (it names an option a file may set, in the
// section of a sub-command that has it) and, for the sections that apply, the number of values;
// then leaves out the sections of the sub-commands that do not run (so that "[rf] timeout" never
// sets the timeout of direct, the two sharing one value). CLI11 is left nothing to refuse but
// a value, which the option's checks refuse.
void Parser::SiftFileItems(std::vector<CLI::ConfigItem>& items) {
  origins_.TakeCommandLine(app_);
  const CLI::App* running = Scope();
  std::erase_if(items, [&](const CLI::ConfigItem& item) {
    const CLI::App* owner = item.parents.empty() ? &app_ : nullptr;
    for (const CLI::App* sub : app_.get_subcommands({})) {
      if (item.parents.size() == 1 && sub->get_name() == item.parents.front()) owner = sub;
    }
    const bool applies = owner == &app_ || owner == running;
    if (item.name == "++" || item.name == "--") return !applies;  // a section's start and end
    CheckFileItem(item, owner, applies);
    return !applies;
  });
}

// `owner`: the app of the item's section, null when none has it; `applies`: whether the item
// sets a value (its section is the program's or the running sub-command's).
void Parser::CheckFileItem(const CLI::ConfigItem& item, const CLI::App* owner, bool applies) const {
  const CLI::Option* option = owner == nullptr ? nullptr : KeyOption(owner, item.name);
  if (option == nullptr) throw ConfigFormError({ConfigFault::Kind::kUnknownKey, item.fullname()});
  if (!option->get_configurable()) {
    throw ConfigFormError({ConfigFault::Kind::kNotSettable, item.fullname()});
  }
  // The command line's value stands (CLI11 passes the key over), and a section left out sets
  // nothing.
  if (!applies || option->count() > 0) return;
  const std::string key = ConfigKey(*owner, *option);
  if (item.inputs.empty()) throw ConfigFormError({ConfigFault::Kind::kNoValue, key, option});
  const bool takes_one = option->get_expected_max() == 0 ||
                         (option->get_items_expected_max() == 1 &&
                          option->get_multi_option_policy() == CLI::MultiOptionPolicy::Throw);
  if (takes_one && item.inputs.size() > 1) {
    throw ConfigFormError({ConfigFault::Kind::kSeveralValues, key, option});
  }
}

const CLI::Option* Parser::KeyOption(const CLI::App* app, const std::string& key) const {
  for (const CLI::Option* option : app->get_options()) {
    if (option->check_name("--" + key) || (key.size() == 1 && option->check_name("-" + key)) ||
        option->check_name(key)) {
      return option;
    }
  }
  return nullptr;
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

bool Parser::FileFailed(const CLI::ParseError& error) const {
  if (const auto* form = dynamic_cast<const ConfigFormError*>(&error); form != nullptr) {
    return !form->Fault().AboutValue();
  }
  return !unread_.empty() || dynamic_cast<const CLI::ConfigError*>(&error) != nullptr ||
         dynamic_cast<const CLI::FileError*>(&error) != nullptr;
}

// A file that cannot be read, or what is wrong in it.
std::string Parser::ExplainFileError(const CLI::ParseError& error,
                                     const CLI::App*& help_scope) const {
  help_scope = &app_;
  if (!unread_.empty()) return InFile() + " cannot be read: " + unread_;
  const auto* form = dynamic_cast<const ConfigFormError*>(&error);
  if (form == nullptr) return InFile() + " cannot be read";
  if (form->Fault().AboutValue()) help_scope = Scope();
  return InFile() + ExplainFileFault(form->Fault());
}

// What follows "the configuration file FILE".
std::string Parser::ExplainFileFault(const ConfigFault& fault) const {
  const std::string name = PrintableText(fault.name);
  switch (fault.kind) {
    case ConfigFault::Kind::kSectionTwice:
      return " holds the section [" + name + "] twice";
    case ConfigFault::Kind::kKeyTwice:
      return " sets \"" + name + "\" twice";
    case ConfigFault::Kind::kNulByte:
      return ": " + name + " holds a NUL byte";
    case ConfigFault::Kind::kNotSettable:
      return " cannot set \"" + name + "\"";
    case ConfigFault::Kind::kNoValue:
    case ConfigFault::Kind::kSeveralValues:
      if (fault.option->get_expected_max() == 0) return ": " + name + " takes true or false";
      return ": " + name + " takes " + TakesText(fault.option) +
             (fault.kind == ConfigFault::Kind::kNoValue ? ", and none was given" : ", one only");
    case ConfigFault::Kind::kUnknownKey:
      break;
  }
  std::string text = " holds an unknown key, \"" + name + "\"";
  std::vector<std::string> owners;
  for (const CLI::App* sub : app_.get_subcommands({})) {
    if (OptionNamed(sub, "--" + fault.name) != nullptr) {
      owners.push_back("[" + sub->get_name() + "]");
    }
  }
  if (!owners.empty()) text += ": an option of a sub-command goes under " + Enumerate(owners);
  return text;
}

}  // namespace tvx::app
