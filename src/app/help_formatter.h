// The layout of the help texts that CLI11 generates from the command line's options: a short
// usage block, the description, the sub-commands, one entry per option with its value's name,
// its range, default and whether it is required, then the footer; every line at most
// kHelpWidth columns, so that the help reads in an 80-column window.
#pragma once

#include <functional>  // before CLI11's header, which uses std::function without it

#include <CLI/FormatterFwd.hpp>
#include <cstddef>
#include <string>
#include <string_view>

namespace tvx::app {

/// The widest line the help prints.
inline constexpr std::size_t kHelpWidth = 79;

/// `text` with every line longer than `width` broken at spaces into lines of at most `width`
/// (a word longer than that stands alone on its line); the lines after a break are indented by
/// `indent` spaces, which count towards the width. Lines that fit are kept as they are.
std::string WrapText(std::string_view text, std::size_t width, std::size_t indent);

/// Lays out CLI11's help in the program's style. An option's value is named by its type name
/// (`->type_name("SECONDS")`); the descriptions of its checks (a `CLI::Range` described as
/// "0 to 86400"), its captured default and `->required()` follow its description in brackets.
/// The help of the program itself (an app without a parent) also gives a usage line per
/// sub-command and lists the sub-commands between its description and its options.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter();
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override;
  std::string make_usage(const CLI::App* app, std::string name) const override;
  std::string make_subcommand(const CLI::App* sub) const override;
  std::string make_option(const CLI::Option* opt, bool is_positional) const override;
  std::string make_option_name(const CLI::Option* opt, bool is_positional) const override;
  std::string make_option_opts(const CLI::Option* opt) const override;
  std::string make_option_desc(const CLI::Option* opt) const override;
};

}  // namespace tvx::app
