#include "app/help_formatter.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <vector>

namespace tvx::app {
namespace {

// Where an option's description starts: "  --timeout SECONDS   ..." and the sub-commands'.
constexpr std::size_t kOptionColumn = 22;
constexpr std::size_t kSubcommandColumn = 11;

std::string Entry(std::string name, std::string_view description, std::size_t column) {
  std::string text = "  " + std::move(name);
  if (text.size() + 1 > column) {
    text += "\n" + std::string(column, ' ');
  } else {
    text.resize(column, ' ');
  }
  text += description;
  // The entry's first line carries the name; the description wraps under its own column.
  return WrapText(text, kHelpWidth, column) + "\n";
}

// The options an app's usage line names itself: the required ones, as "--copies N"; the
// arguments it takes go after the options (OptionalArguments).
std::string RequiredOptions(const CLI::App* app, const HelpFormatter& formatter) {
  std::string text;
  for (const CLI::Option* opt : app->get_options()) {
    if (opt->get_required() && opt->nonpositional()) {
      text += " " + formatter.make_option_name(opt, false) + formatter.make_option_opts(opt);
    }
  }
  return text;
}

// The optional arguments of an app, as " [FILE]".
std::string OptionalArguments(const CLI::App* app) {
  std::string text;
  for (const CLI::Option* opt : app->get_options()) {
    if (!opt->nonpositional() && !opt->get_required()) text += " [" + opt->get_name() + "]";
  }
  return text;
}

bool HasOptionalOptions(const CLI::App* app) {
  return !app->get_options([app](const CLI::Option* opt) {
               return opt != app->get_help_ptr() && opt->nonpositional() && !opt->get_required() &&
                      !opt->get_group().empty();
             })
              .empty();
}

std::vector<const CLI::App*> NamedSubcommands(const CLI::App* app) {
  return app->get_subcommands(
      [](const CLI::App* sub) { return !sub->get_disabled() && !sub->get_name().empty(); });
}

}  // namespace

std::string WrapText(std::string_view text, std::size_t width, std::size_t indent) {
  std::string out;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string line(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    // Break at the last space within the width, past the indent of a continued line so that
    // a break never leaves an empty line; a longer word stands alone.
    std::size_t floor = std::min(line.find_first_not_of(' '), line.size());
    while (line.size() > width) {
      std::size_t cut = line.rfind(' ', width);
      if (cut == std::string::npos || cut <= floor) cut = line.find(' ', width);
      if (cut == std::string::npos) break;
      std::size_t head = cut;
      while (head > 0 && line[head - 1] == ' ') --head;
      std::size_t rest = cut;
      while (rest < line.size() && line[rest] == ' ') ++rest;
      out.append(line, 0, head).append("\n");
      line = std::string(indent, ' ') + line.substr(rest);
      floor = indent;
    }
    out += line;
    if (end != std::string_view::npos) out += '\n';
  }
  return out;
}

HelpFormatter::HelpFormatter() {
  column_width(kOptionColumn);
  label("Usage", "usage");
  label("OPTIONS", "[options]");
  label("Subcommands", "Sub-commands");
}

std::string HelpFormatter::make_help(const CLI::App* app, std::string name,
                                     CLI::AppFormatMode /*mode*/) const {
  std::string text = make_usage(app, name);
  if (!app->get_description().empty()) {
    text += "\n" + WrapText(app->get_description(), kHelpWidth, 0) + "\n";
  }
  const std::vector<const CLI::App*> subs = NamedSubcommands(app);
  if (!subs.empty()) {
    text += "\n" + WrapText(get_label("Subcommands") + ":", kHelpWidth, 0) + "\n";
    for (const CLI::App* sub : subs) text += make_subcommand(sub);
  }
  text += make_groups(app, CLI::AppFormatMode::Normal);
  if (!app->get_footer().empty()) {
    text += "\n" + WrapText(app->get_footer(), kHelpWidth, 0) + "\n";
  }
  return text;
}

std::string HelpFormatter::make_usage(const CLI::App* app, std::string name) const {
  const std::string lead = get_label("Usage") + ": ";
  std::string text = lead + name + RequiredOptions(app, *this) +
                     (HasOptionalOptions(app) ? " " + get_label("OPTIONS") : "") + "\n";
  for (const CLI::App* sub : NamedSubcommands(app)) {
    text +=
        std::string(lead.size(), ' ') + name + " " + sub->get_name() + RequiredOptions(sub, *this) +
        (HasOptionalOptions(sub) ? " " + get_label("OPTIONS") : "") + OptionalArguments(sub) + "\n";
  }
  return text;
}

std::string HelpFormatter::make_subcommand(const CLI::App* sub) const {
  return Entry(sub->get_name(), sub->get_description(), kSubcommandColumn);
}

std::string HelpFormatter::make_option(const CLI::Option* opt, bool is_positional) const {
  return Entry(make_option_name(opt, is_positional) + make_option_opts(opt), make_option_desc(opt),
               get_column_width());
}

std::string HelpFormatter::make_option_name(const CLI::Option* opt, bool is_positional) const {
  // "-h,--help" as "-h, --help".
  std::string names = CLI::Formatter::make_option_name(opt, is_positional);
  for (std::size_t at = names.find(','); at != std::string::npos; at = names.find(',', at + 2)) {
    names.insert(at + 1, " ");
  }
  return names;
}

std::string HelpFormatter::make_option_opts(const CLI::Option* opt) const {
  if (opt->get_expected_max() == 0) return {};  // a flag
  // CLI11 joins the type name and the descriptions of the checks with ':'.
  const std::string type = opt->get_type_name();
  return " " + type.substr(0, type.find(':'));
}

std::string HelpFormatter::make_option_desc(const CLI::Option* opt) const {
  std::vector<std::string> notes;
  if (opt->get_expected_max() != 0) {
    const std::string type = opt->get_type_name();
    for (std::size_t at = type.find(':'); at != std::string::npos;) {
      const std::size_t next = type.find(':', at + 1);
      notes.push_back(type.substr(at + 1, next == std::string::npos ? next : next - at - 1));
      at = next;
    }
    if (!opt->get_default_str().empty()) notes.push_back("default " + opt->get_default_str());
    if (opt->get_required()) notes.push_back("required");
  }
  std::string text = opt->get_description();
  if (!notes.empty()) text += " (" + CLI::detail::join(notes, "; ") + ")";
  return text;
}

}  // namespace tvx::app
