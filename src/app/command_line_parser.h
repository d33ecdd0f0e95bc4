// The parser behind ParseCommandLine (command_line.h), shared by the files that build it: the
// options and sub-commands (command_line_options.cpp), the values and their checks
// (command_line_values.cpp) and the configuration file (command_line_settings.cpp). Internal to
// the command line; nothing else includes it.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/config_file.h"

namespace tvx::app {

inline constexpr std::string_view kProgram = "torvandrix-upload";

/// `pattern` with the platform's words put in for {window}, {example}, {unbound}, {log} and
/// {config}.
std::string FillIn(std::string_view pattern, const HelpWording& wording);

/// "A, B and C".
std::string Enumerate(const std::vector<std::string>& items);

// The first value a check refused, kept so that the usage error can name the option and quote
// the value in the program's own words.
struct Refusal {
  const CLI::Option* option = nullptr;
  std::string value;
};

// The command line's options and sub-commands, the words each option's usage error uses for
// what it takes, and the explanation of a parse error in those words.
class Parser {
 public:
  Parser(CommandLine& command, const HelpWording& wording, const ParseSettings& settings);
  /// Wipes every copy of an access code's text it holds, CLI11's included.
  ~Parser();
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  CLI::App& App() { return app_; }
  CLI::App* Direct() { return direct_; }
  CLI::App* Rf() { return rf_; }
  CLI::App* Ports() { return ports_; }
  CLI::App* Image() { return image_; }
  CLI::App* Setup() { return setup_; }
  const SetupArguments& SetupRaw() const { return setup_raw_; }
  const std::vector<std::string>& Bindings() const { return bindings_; }
  bool Version() const { return version_; }
  /// Whether the command line (not the file) gave `option`.
  bool OnCommandLine(const CLI::Option* option) const { return origins_.OnCommandLine(option); }
  const CLI::Option* Com() const { return com_; }
  const CLI::Option* Log() const { return log_; }
  /// The configuration file that was read, or was to be; empty when none.
  std::string ConfigFile() const;
  /// An option given on the command line both before the sub-command and after it (--log,
  /// --access-code), or one ComN bound twice; a reason, or nothing.
  std::string CheckGivenTwice() const;
  /// Decides the access code (the option, the variable, the file, the built-in one); a reason
  /// when the one that wins is not an access code.
  std::string TakeAccessCode(CommandLine& command, const CLI::App*& help_scope) const;
  /// Reads and checks the image the form loads (--image, the file's key, image's FILE) and holds
  /// rf's --start to it; a reason when either is wrong.
  std::string TakeImage(CommandLine& command, const CLI::App*& help_scope) const;
  /// Without the default file's place, which would otherwise show in the help.
  void ForgetDefaultFile() { config_->default_str(""); }

  /// Whether `error` is the configuration file's: it cannot be read, or its form or a key is
  /// wrong (a wrong value is not).
  bool FileFailed(const CLI::ParseError& error) const;
  /// The sub-command the arguments chose (parsed or begun), else the program itself.
  const CLI::App* Scope() const;
  /// Why CLI11 refused the arguments (`last_argument` is the last of them), in one line without
  /// the program's name, worded from the kind of `error`, the option a check refused and what
  /// the parse holds, never from the error's text; sets `help_scope` to the app whose help
  /// tells the right form.
  std::string Explain(const CLI::ParseError& error, std::string_view last_argument,
                      const CLI::App*& help_scope) const;

 private:
  CLI::Option* Takes(CLI::Option* option, std::string takes);
  // Refuses an empty value, as for --port "" (a device must be named).
  CLI::Option* NotEmpty(CLI::Option* option);
  // Decimal digits only (with one point if `fraction`), from `min` to `max`; the usage error
  // says the option takes "`what` from `min` to `max``note`".
  CLI::Option* Number(CLI::Option* option, std::string_view what, std::int32_t min,
                      std::int32_t max, bool fraction = false, std::string_view note = "");
  // A flag: no value on the command line, and in the file one that reads as true or false.
  CLI::Option* Flag(CLI::Option* option);
  CLI::Validator Recorded(CLI::Validator check, const CLI::Option* option);
  /// --port; `repeatable` (direct): every occurrence adds one more port.
  void AddPort(CLI::App* sub, CommandLine& command, bool repeatable = false);
  void AddTimeout(CLI::App* sub, CommandLine& command, std::string_view description);
  CLI::Option* AddLog(CLI::App* sub, CommandLine& command, std::string_view description);
  void AddOutput(CLI::App* sub, CommandLine& command);
  void AddAccessCode(CLI::App* app);
  void AddImage(CLI::App* app);
  void AddImageCommand(CommandLine& command);
  void AddConfigFile(const ParseSettings& settings);
  void SiftFileItems(std::vector<CLI::ConfigItem>& items);

  std::string TakesText(const CLI::Option* option) const;
  const CLI::Option* OptionNamed(const CLI::App* app, std::string_view name) const;
  // The option of `app` a key of the file sets, found as CLI11 finds it; null when none.
  const CLI::Option* KeyOption(const CLI::App* app, const std::string& key) const;
  void CheckFileItem(const CLI::ConfigItem& item, const CLI::App* owner, bool applies) const;
  std::string ReadFile(const std::string& path);
  std::string ExplainMismatch(std::string_view last_argument) const;
  std::string ExplainExtra(const CLI::App* scope, const CLI::App*& help_scope) const;
  std::string ExplainUnknownOption(const CLI::App* holder, std::string_view name) const;
  std::string ExplainFileError(const CLI::ParseError& error, const CLI::App*& help_scope) const;
  std::string ExplainFileFault(const ConfigFault& fault) const;
  const CLI::App* OwnerOf(const CLI::Option* option) const;
  std::string InFile() const;

  const HelpWording& wording_;
  CLI::App app_;
  CLI::App* direct_ = nullptr;
  CLI::App* rf_ = nullptr;
  CLI::App* ports_ = nullptr;
  CLI::App* image_ = nullptr;
  CLI::App* setup_ = nullptr;
  SetupArguments setup_raw_;
  std::vector<const CLI::Option*> image_options_;
  CLI::Option* image_file_ = nullptr;  ///< image's FILE
  CLI::Option* start_ = nullptr;
  std::vector<std::string> bindings_;
  bool version_ = false;
  std::string access_code_variable_;
  CLI::Option* com_ = nullptr;
  CLI::Option* log_ = nullptr;
  CLI::Option* config_ = nullptr;
  std::string default_config_;
  std::function<std::string(const std::string&, std::string&, bool&)> read_file_;
  std::string read_path_;  // the configuration file read (or tried), and why it was not
  std::string unread_;
  std::string access_code_text_;
  std::vector<const CLI::Option*> access_code_options_;
  std::shared_ptr<ConfigFileReader> reader_ = std::make_shared<ConfigFileReader>();
  SettingOrigins origins_;
  std::map<const CLI::Option*, std::string> takes_;
  // Written by the checks, which hold a share of it, and read by Explain.
  std::shared_ptr<Refusal> refusal_ = std::make_shared<Refusal>();
};

}  // namespace tvx::app
