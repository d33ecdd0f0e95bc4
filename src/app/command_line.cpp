#include "app/command_line.h"

#include <CLI/CLI.hpp>
#include <string_view>
#include <utility>

#include "app/command_line_parser.h"

namespace tvx::app {

// "A, B and C".
std::string Enumerate(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
    text += items[i];
  }
  return text;
}

namespace {

#ifndef TVX_VERSION
#define TVX_VERSION "unknown"
#endif

CommandLine Print(CommandAction action, std::string text) {
  CommandLine command;
  command.action = action;
  command.text = std::move(text);
  return command;
}

// The reason, then where the right form is told: the help of the sub-command it belongs to.
CommandLine UsageError(const std::string& reason, const CLI::App* scope, const CLI::App* top) {
  const std::string help =
      scope == top ? std::string(kProgram) : std::string(kProgram) + " " + scope->get_name();
  return Print(CommandAction::kUsageError,
               std::string(kProgram) + ": " + reason + "\nsee '" + help + " --help'\n");
}

}  // namespace

bool ParseComBinding(std::string_view text, std::pair<int, std::string>& binding) {
  if (text.size() < 3 || text[0] < '1' || text[0] > '9' || text[1] != '=') return false;
  binding = {text[0] - '0', std::string(text.substr(2))};
  return true;
}

CommandLine ParseCommandLine(int argc, const char* const* argv, const HelpWording& wording,
                             const ParseSettings& settings) {
  CommandLine command;
  Parser parser(command, wording, settings);
  CLI::App& app = parser.App();
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    parser.ForgetDefaultFile();
    return Print(CommandAction::kHelp, app.help());
  } catch (const CLI::ParseError& e) {
    // The file is read before the help is given: a bad one must not hide the help it points to.
    if (parser.Scope()->get_help_ptr()->count() > 0 && parser.FileFailed(e)) {
      parser.ForgetDefaultFile();
      return Print(CommandAction::kHelp, app.help());
    }
    const CLI::App* help_scope = &app;
    const std::string reason = parser.Explain(e, argc > 1 ? argv[argc - 1] : "", help_scope);
    return UsageError(reason, help_scope, &app);
  }
  if (const std::string twice = parser.CheckGivenTwice(); !twice.empty()) {
    return UsageError(twice, parser.Scope(), &app);
  }
  if (parser.Version())
    return Print(CommandAction::kVersion, "torvandrix-upload " TVX_VERSION "\n");

  if (parser.Direct()->parsed()) {
    command.action = CommandAction::kDirect;
    if (!command.ports.empty()) command.port = command.ports.front();
  } else if (parser.Rf()->parsed()) {
    command.action = CommandAction::kRf;
  } else if (parser.Ports()->parsed()) {
    command.action = CommandAction::kPorts;
  } else if (parser.Image()->parsed()) {
    command.action = CommandAction::kImage;
  } else if (parser.Setup()->parsed()) {
    command.action = CommandAction::kSetup;
    if (const std::string bad = FinishSetupCommand(*parser.Setup(), parser.SetupRaw(), command);
        !bad.empty()) {
      return UsageError(bad, parser.Setup(), &app);
    }
  }
  // Only the forms that send the access code read it (and refuse a wrong one).
  const CLI::App* code_scope = &app;
  if (command.action == CommandAction::kMenu || command.action == CommandAction::kDirect) {
    if (const std::string bad = parser.TakeAccessCode(command, code_scope); !bad.empty()) {
      return UsageError(bad, code_scope, &app);
    }
  }
  // The file's bindings serve every form: a sub-command's "--port ComN" too.
  if (command.action != CommandAction::kMenu && parser.OnCommandLine(parser.Com())) {
    return UsageError("--com is for the menu; a sub-command takes --port DEVICE", parser.Scope(),
                      &app);
  }
  if (command.action == CommandAction::kPorts && parser.OnCommandLine(parser.Log())) {
    return UsageError("ports writes no log", parser.Scope(), &app);
  }
  if (command.action != CommandAction::kPorts && command.action != CommandAction::kSetup) {
    const CLI::App* image_scope = &app;
    if (const std::string bad = parser.TakeImage(command, image_scope); !bad.empty()) {
      return UsageError(bad, image_scope, &app);
    }
  }
  for (const std::string& text : parser.Bindings()) {
    ParseComBinding(text, command.com_bindings.emplace_back());  // checked while parsing
  }
  return command;
}

}  // namespace tvx::app
