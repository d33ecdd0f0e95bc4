// The values the options take and their checks: numbers in their range, names that must not be
// empty, the access code and the image once the place that wins is known, and the usage error of
// a value refused.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "app/access_code_text.h"
#include "app/command_line_parser.h"
#include "app/printable_text.h"
#include "image/firmware_image.h"
#include "image/image_check.h"

namespace tvx::app {

CLI::Option* Parser::Takes(CLI::Option* option, std::string takes) {
  takes_[option] = std::move(takes);
  return option;
}

CLI::Option* Parser::Flag(CLI::Option* option) {
  // The words CLI11 converts to true or false: true, yes, on, 1, false, no, off, 0 and more.
  return option->check(Recorded(CLI::Validator(
                                    [](const std::string& text) -> std::string {
                                      try {
                                        CLI::detail::to_flag_value(text);
                                        return {};
                                      } catch (const std::invalid_argument&) {
                                      } catch (const std::out_of_range&) {
                                      }
                                      return "not true or false";
                                    },
                                    ""),
                                option));
}

CLI::Validator Parser::Recorded(CLI::Validator check, const CLI::Option* option) {
  const std::string description = check.get_description();
  return CLI::Validator(
      [check = std::move(check), option, refusal = refusal_](std::string& value) {
        const std::string given = value;
        std::string error = check(value);
        if (!error.empty() && refusal->option == nullptr) *refusal = {option, given};
        return error;
      },
      description);
}

CLI::Option* Parser::NotEmpty(CLI::Option* option) {
  return option->check(Recorded(
      CLI::Validator([](const std::string& text) { return text.empty() ? "empty" : ""; }, ""),
      option));
}

CLI::Option* Parser::Number(CLI::Option* option, std::string_view what, std::int32_t min,
                            std::int32_t max, bool fraction, std::string_view note) {
  Takes(option, std::string(what) + " from " + std::to_string(min) + " to " + std::to_string(max) +
                    std::string(note));
  const CLI::Validator range =
      fraction ? CLI::Range(double{1.0} * min, double{1.0} * max) : CLI::Range(min, max);
  // Decimal digits only: no sign, exponent, "0x" or blank, which CLI11's conversion would
  // take. Leading zeros go, so that "010" is ten, not C's octal eight.
  CLI::Validator decimal(
      [fraction, range](std::string& text) -> std::string {
        const std::size_t point = fraction ? text.find('.') : std::string::npos;
        std::string digits = text;
        if (point != std::string::npos) digits.erase(point, 1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
          return "not a decimal number";
        }
        const std::size_t whole = point == std::string::npos ? text.size() : point;
        const std::size_t zeros = std::min(text.find_first_not_of('0'), whole);
        std::string plain = text.substr(zeros == whole && whole > 0 ? whole - 1 : zeros);
        std::string error = range(plain);
        if (error.empty()) text = std::move(plain);
        return error;
      },
      std::to_string(min) + " to " + std::to_string(max));
  // A transform may change the text (checks run on a copy).
  return option->transform(Recorded(decimal, option));
}

std::string Parser::TakeImage(CommandLine& command, const CLI::App*& help_scope) const {
  help_scope = Scope();
  const CLI::Option* given = nullptr;
  if (command.action == CommandAction::kImage) {
    if (image_file_->count() > 0 && !command.export_path.empty()) {
      return "image --export writes the built-in image: give no FILE with it";
    }
    if (image_file_->count() > 0) given = image_file_;
  } else {
    for (const CLI::Option* option : image_options_) {
      if (option->count() > 0 && (given == nullptr || OnCommandLine(option))) given = option;
    }
  }
  if (given != nullptr) {
    std::string error;
    command.image = LoadChosenImage(given->results().back(), error);
    if (!command.image) {
      if (OnCommandLine(given)) return error;
      help_scope = &app_;
      return InFile() + ": " + ConfigKey(*OwnerOf(given), *given) + ": " + error;
    }
  }
  if (command.action != CommandAction::kRf) return {};
  const ChosenImage& chosen = command.image ? *command.image : BuiltInImage();
  const std::int32_t last = image::WalkRecordCount(chosen.Bytes()) - 1;
  if (command.start <= last) return {};
  const std::string place =
      OnCommandLine(start_) ? start_->get_name() : InFile() + ": " + ConfigKey(*rf_, *start_);
  return place + " takes a record from 0 to " + std::to_string(last) + ", not \"" +
         std::to_string(command.start) + "\"";
}

std::string Parser::TakeAccessCode(CommandLine& command, const CLI::App*& help_scope) const {
  const CLI::Option* given = nullptr;
  bool on_line = false;
  for (const CLI::Option* option : access_code_options_) {
    if (option->count() == 0) continue;
    if (given == nullptr || OnCommandLine(option)) given = option;
    on_line = on_line || OnCommandLine(option);
  }
  std::string text = access_code_text_;
  std::string place;
  help_scope = &app_;
  if (on_line) {
    place = "--access-code";
    help_scope = Scope();
  } else if (!access_code_variable_.empty()) {
    text = access_code_variable_;
    place = "TORVANDRIX_ACCESS_CODE";
  } else if (given != nullptr) {
    place = InFile() + ": " + ConfigKey(*OwnerOf(given), *given);
  } else {
    return {};  // the code built in
  }
  command.access_code = ReadAccessCode(text);
  SecureWipe(text);
  if (command.access_code) return {};
  return place + " takes " + std::string(kAccessCodeForm);
}

std::string Parser::TakesText(const CLI::Option* option) const {
  const auto found = takes_.find(option);
  return found == takes_.end() ? "a value" : found->second;
}

std::string Parser::Explain(const CLI::ParseError& error, std::string_view last_argument,
                            const CLI::App*& help_scope) const {
  const CLI::App* scope = Scope();
  help_scope = scope;
  if (const CLI::Option* option = refusal_->option; option != nullptr) {
    // A value the command line did not give came from the file.
    const bool on_line = OnCommandLine(option);
    const std::string place =
        on_line ? option->get_name() : InFile() + ": " + ConfigKey(*OwnerOf(option), *option);
    if (option->get_expected_max() == 0) {  // a flag
      return place + (on_line ? " takes no value" : " takes true or false");
    }
    return place + " takes " + TakesText(option) + ", not \"" + PrintableText(refusal_->value) +
           "\"";
  }
  if (FileFailed(error) || dynamic_cast<const ConfigFormError*>(&error) != nullptr) {
    return ExplainFileError(error, help_scope);
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    for (const CLI::Option* option : scope->get_options()) {
      if (option->get_required() && option->count() == 0) {
        return scope->get_name() + " needs " + option->get_name() + ": " + TakesText(option);
      }
    }
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    if (std::string text = ExplainMismatch(last_argument); !text.empty()) return text;
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    return ExplainExtra(scope, help_scope);
  }
  return "the command line cannot be read";
}

// With every value checked and the file's lists counted beforehand, CLI11 finds the number of
// values wrong in two cases only: an option that takes one given again (each occurrence is
// counted), or the last argument an option that takes a value, with none after it ("--timeout",
// "--timeout="). The name is the sub-command's option, else the program's (--log, --access-code).
std::string Parser::ExplainMismatch(std::string_view last_argument) const {
  for (const CLI::App* app : {static_cast<const CLI::App*>(&app_), Scope()}) {
    for (const CLI::Option* option : app->get_options()) {
      if (option->get_multi_option_policy() == CLI::MultiOptionPolicy::Throw &&
          option->count() > static_cast<std::size_t>(option->get_items_expected_max())) {
        return option->get_name() + " is given more than once";
      }
    }
  }
  const std::string_view name = last_argument.substr(0, last_argument.find('='));
  for (const CLI::App* app : {Scope(), static_cast<const CLI::App*>(&app_)}) {
    if (const CLI::Option* option = OptionNamed(app, name); option != nullptr) {
      return option->get_name() + " takes " + TakesText(option) + ", and none was given";
    }
  }
  return {};
}

}  // namespace tvx::app
