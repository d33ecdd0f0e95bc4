// The command line as the parser reads it: the values a job gets, the usage errors word for
// word, the generated help of each sub-command, and the escaping of names echoed in errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/help_formatter.h"
#include "app/printable_text.h"
#include "image/firmware_image.h"

namespace tvx::testing {
namespace {

const app::HelpWording kWording{"terminal window", "/dev/ttyUSB0", "/dev/ttyS(N-1)",
                                "~/uploads.jsonl", "~/.config/torvandrix-upload/config"};

app::CommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "torvandrix-upload");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), kWording);
}

std::string HelpOf(std::vector<std::string> args) {
  args.push_back("--help");
  const app::CommandLine command = Parse(args);
  EXPECT_EQ(command.action, app::CommandAction::kHelp);
  return command.text;
}

std::string LastRecord() {
  return std::to_string(image::WalkRecordCount(image::FirmwareImage()) - 1);
}

TEST(CommandLineParseTest, SubCommandsCarryTheirValues) {
  app::CommandLine direct =
      Parse({"direct", "--port", "cOm3", "--data-port", "--high-speed", "--retries", "0",
             "--timeout", "0.5", "--log", "/tmp/x.jsonl", "--quiet", "--json"});
  EXPECT_EQ(direct.action, app::CommandAction::kDirect);
  EXPECT_EQ(direct.port, "cOm3");  // as given: the runner resolves ComN
  EXPECT_TRUE(direct.data_port);
  EXPECT_TRUE(direct.high_speed);
  EXPECT_EQ(direct.retries, 0);
  EXPECT_EQ(direct.timeout_seconds, 0.5);
  EXPECT_EQ(Parse({"direct", "--retries", "010", "--timeout", "007.50"}).retries, 10);  // not octal
  EXPECT_EQ(Parse({"direct", "--timeout", "007.50"}).timeout_seconds, 7.5);
  EXPECT_EQ(Parse({"direct", "--timeout", "00"}).timeout_seconds, 0.0);
  EXPECT_EQ(direct.log, "/tmp/x.jsonl");
  EXPECT_TRUE(direct.quiet);
  EXPECT_TRUE(direct.json);

  // direct takes --port once per radio, one value each; rf takes one port.
  direct = Parse({"direct", "--port", "/dev/a", "--port", "com2", "--port=/dev/c"});
  EXPECT_EQ(direct.ports, (std::vector<std::string>{"/dev/a", "com2", "/dev/c"}));
  EXPECT_EQ(direct.port, "/dev/a");

  direct = Parse({"direct"});
  EXPECT_EQ(direct.port, "");
  EXPECT_TRUE(direct.ports.empty());
  EXPECT_EQ(direct.retries, 3);
  EXPECT_EQ(direct.timeout_seconds, 10.0);
  EXPECT_FALSE(direct.quiet || direct.json || direct.data_port || direct.high_speed);

  const app::CommandLine rf = Parse(
      {"rf", "--copies", "9", "--start", LastRecord(), "--passes", "32767", "--timeout", "86400"});
  EXPECT_EQ(rf.action, app::CommandAction::kRf);
  EXPECT_EQ(rf.copies, 9);
  EXPECT_EQ(std::to_string(rf.start), LastRecord());
  EXPECT_EQ(rf.passes, 32767);
  EXPECT_EQ(rf.timeout_seconds, 86400.0);

  const app::CommandLine menu = Parse({"--com", "2=/dev/ttyUSB1", "--com", "9=/dev/x"});
  EXPECT_EQ(menu.action, app::CommandAction::kMenu);
  EXPECT_EQ(menu.com_bindings,
            (std::vector<std::pair<int, std::string>>{{2, "/dev/ttyUSB1"}, {9, "/dev/x"}}));
  EXPECT_EQ(Parse({"ports"}).action, app::CommandAction::kPorts);
  EXPECT_EQ(Parse({"--version"}).text, "torvandrix-upload 2.54\n");
}

struct UsageCase {
  std::vector<std::string> args;
  std::string reason;  // the first line, after "torvandrix-upload: "
  std::string help;    // whose help the second line points to
};

TEST(CommandLineParseTest, UsageErrorsNameTheOptionAndTheHelp) {
  const std::string timeout = "--timeout takes seconds from 0 to 86400 (0: wait for ever)";
  const std::string port = "--port takes a device, e.g. /dev/ttyUSB0, or Com1 to Com9";
  const std::vector<UsageCase> cases = {
      {{"direct", "--timeout", "abc"}, timeout + ", not \"abc\"", "direct"},
      {{"rf", "--copies", "1", "--timeout=86400.5"}, timeout + ", not \"86400.5\"", "rf"},
      {{"direct", "--timeout", "nan"}, timeout + ", not \"nan\"", "direct"},
      {{"direct", "--timeout", "-1"}, timeout + ", not \"-1\"", "direct"},
      {{"direct", "--timeout"}, timeout + ", and none was given", "direct"},
      {{"direct", "--retries", "1000001"},
       "--retries takes a number from 0 to 1000000, not \"1000001\"",
       "direct"},
      {{"direct", "--retries", "0001000001"},
       "--retries takes a number from 0 to 1000000, not \"0001000001\"",
       "direct"},
      {{"direct", "--retries", "2", "--retries", "3"},
       "--retries is given more than once",
       "direct"},
      {{"rf", "--copies", "10"}, "--copies takes a number from 1 to 9, not \"10\"", "rf"},
      {{"rf"}, "rf needs --copies: a number from 1 to 9", "rf"},
      {{"rf", "--copies", "1", "--start", std::to_string(std::stoi(LastRecord()) + 1)},
       "--start takes a record from 0 to " + LastRecord() + ", not \"" +
           std::to_string(std::stoi(LastRecord()) + 1) + "\"",
       "rf"},
      {{"rf", "--copies", "1", "--passes", "0"},
       "--passes takes a number from 1 to 32767, not \"0\"",
       "rf"},
      {{"direct", "--port", ""}, port + ", not \"\"", "direct"},
      {{"direct", "--port", "/dev/a", "--port", ""}, port + ", not \"\"", "direct"},
      {{"direct", "--port", "/dev/a", "/dev/b"},
       "direct takes options only, not \"/dev/b\"",
       "direct"},
      {{"rf", "--copies", "1", "--port", "/dev/a", "--port", "/dev/b"},
       "--port is given more than once",
       "rf"},
      {{"direct", "--log", ""}, "--log takes a file name, not \"\"", "direct"},
      {{"direct", "--quiet=maybe"}, "--quiet takes no value", "direct"},
      {{"--bogus"}, "--bogus is not an option", ""},
      {{"direct", "--bogus=1"}, "--bogus is not an option of direct", "direct"},
      {{"direct", "--copies", "2"}, "--copies is an option of rf, not of direct", "direct"},
      {{"ports", "--version"},
       "--version is an option of the program without a sub-command, not of ports",
       "ports"},
      {{"--port", "/dev/x", "rf", "--copies", "1"},
       "--port is an option of direct, rf and setup: give it after the sub-command",
       "rf"},
      {{"frob"},
       "unknown sub-command \"frob\": the sub-commands are direct, rf, image and ports",
       ""},
      {{"direct", "foo"}, "direct takes options only, not \"foo\"", "direct"},
      {{"ports", "foo"}, "ports takes options only, not \"foo\"", "ports"},
      {{"direct", "rf"}, "one sub-command at a time, not \"rf\" after direct", "direct"},
      {{"direct", "--com", "1=/dev/x"},
       "--com is for the menu; a sub-command takes --port DEVICE",
       "direct"},
      {{"--com", "1=/dev/x", "rf", "--copies", "1"},
       "--com is for the menu; a sub-command takes --port DEVICE",
       "rf"},
      {{"--com", "10=/dev/x"},
       "--com takes N=DEVICE with N from 1 to 9, e.g. 1=/dev/ttyUSB0, not \"10=/dev/x\"",
       ""},
      {{"ports", "--log", "x"}, "ports writes no log", "ports"},
      {{"--log", "x", "ports"}, "ports writes no log", "ports"},
  };
  for (const UsageCase& c : cases) {
    const app::CommandLine command = Parse(c.args);
    const std::string help = c.help.empty() ? "torvandrix-upload" : "torvandrix-upload " + c.help;
    EXPECT_EQ(command.action, app::CommandAction::kUsageError) << c.args.front();
    EXPECT_EQ(command.text, "torvandrix-upload: " + c.reason + "\nsee '" + help + " --help'\n");
  }
}

TEST(CommandLineParseTest, EchoedValuesAreEscaped) {
  EXPECT_EQ(Parse({"--com", "0=/dev/\x1b[2J\\"}).text,
            "torvandrix-upload: --com takes N=DEVICE with N from 1 to 9, e.g. 1=/dev/ttyUSB0, "
            "not \"0=/dev/\\x1B[2J\\\\\"\nsee 'torvandrix-upload --help'\n");
  EXPECT_EQ(Parse({"direct", "a\tb\xff"}).text,
            "torvandrix-upload: direct takes options only, not \"a\\x09b\\xFF\"\n"
            "see 'torvandrix-upload direct --help'\n");
}

TEST(CommandLineParseTest, PrintableTextEscapesWhatATerminalWouldActOn) {
  EXPECT_EQ(app::PrintableText("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(app::PrintableText(std::string("a\0b\x1f\x7f", 5)), "a\\x00b\\x1F\\x7F");
  EXPECT_EQ(app::PrintableText("C:\\COM3"), "C:\\\\COM3");
  EXPECT_EQ(app::PrintableText("Gerät €"), "Gerät €");  // well-formed UTF-8 stays
  EXPECT_EQ(app::PrintableText("\xf0\x9f\x93\xa1"), "\xf0\x9f\x93\xa1");
  EXPECT_EQ(app::PrintableText("\xc2\x9b"), "\\xC2\\x9B");                    // C1 CSI
  EXPECT_EQ(app::PrintableText("\xc3"), "\\xC3");                             // cut short
  EXPECT_EQ(app::PrintableText("\xc0\xaf"), "\\xC0\\xAF");                    // overlong '/'
  EXPECT_EQ(app::PrintableText("\xed\xa0\x80"), "\\xED\\xA0\\x80");           // surrogate
  EXPECT_EQ(app::PrintableText("\xf4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");  // above U+10FFFF
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
  for (const std::string& l : Lines(text)) {
    if (l == line) return true;
  }
  return false;
}

// Texts of CLI11's own errors and validators (its headers): none may reach the user.
const char* const kCli11Phrases[] = {
    "required",      "missing",      "Could not convert", "could not be converted",
    "not expected",  "At Most",      "At least",          "Expected",
    "INI was not",   "not allowed",  "not in range",      "too many inputs",
    "flag override", "not readable", "Failed parsing",    "allowed value",
    "true/false",    "Value ",       "The value",         "Requires",
};

// The options a help lists, each with whether it takes a value ("--log FILE").
std::vector<std::pair<std::string, bool>> OptionsOf(const std::string& help) {
  std::vector<std::pair<std::string, bool>> options;
  for (const std::string& line : Lines(help)) {
    if (!line.starts_with("  --")) continue;
    std::istringstream words(line);
    std::string name, next;
    words >> name >> next;
    options.emplace_back(
        name, next.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ=<>") == std::string::npos);
  }
  return options;
}

// Every option of every form, as each help lists it, on the command line and as a key of the
// configuration file: a bad value, no value, a flag given a value; and what is no option or
// too many arguments. Each refusal is worded by the program: it names the option or the
// place, and holds nothing of CLI11's.
TEST(CommandLineParseTest, EveryOptionIsRefusedInTheProgramsWords) {
  const std::map<std::string, std::string> bad = {
      {"--com", "0=/dev/x"}, {"--log", ""},    {"--access-code", "1,2"}, {"--image", ""},
      {"--config", ""},      {"--port", ""},   {"--retries", "-1"},      {"--timeout", "1e3"},
      {"--copies", "0"},     {"--start", "x"}, {"--passes", "32768"},    {"--export", ""},
      {"--session-log", ""}};
  std::string file;  // the configuration file's text, which CLI11 finds when the path is a file
  const std::string path = ::testing::TempDir() + "tvx_every_option.cfg";
  const std::string shown = app::PrintableText(path);  // as messages show it
  std::ofstream{path};
  app::ParseSettings settings;
  settings.config_file = path;
  settings.read_file = [&file](const std::string&, std::string& text, bool&) {
    text = file;
    return std::string();
  };
  const auto refusal = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "torvandrix-upload");
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    const std::string text =
        app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), kWording, settings).text;
    for (const char* phrase : kCli11Phrases) {
      EXPECT_EQ(text.find(phrase), std::string::npos) << phrase << " in " << text;
    }
    EXPECT_TRUE(text.starts_with("torvandrix-upload: ")) << args.back() << " " << file;
    const std::vector<std::string> lines = Lines(text);
    EXPECT_TRUE(lines.size() == 2 && lines[1].starts_with("see 'torvandrix-upload")) << text;
    return text.substr(sizeof "torvandrix-upload:", text.find('\n') - sizeof "torvandrix-upload:");
  };
  for (const std::string form : {"", "direct", "rf", "ports", "image"}) {
    std::vector<std::string> base;
    if (!form.empty()) base.push_back(form);
    if (form == "rf") base.insert(base.end(), {"--copies", "1"});
    const auto with = [&base](std::vector<std::string> more) {
      more.insert(more.begin(), base.begin(), base.end());
      return more;
    };
    const std::vector<std::pair<std::string, bool>> options = OptionsOf(
        HelpOf(form.empty() ? std::vector<std::string>{} : std::vector<std::string>{form}));
    ASSERT_FALSE(options.empty()) << form;
    const std::string section = form.empty() ? "" : "[" + form + "]\n";
    for (const auto& [option, takes_value] : options) {
      if (option == "--help") continue;
      const std::string key = (form.empty() ? "" : form + ".") + option.substr(2);
      if (!takes_value) {
        EXPECT_EQ(refusal(with({option + "=maybe"})), option + " takes no value");
        file = section + option.substr(2) + " = maybe\n";
        EXPECT_EQ(refusal(base),
                  "the configuration file " + shown + ": " + key + " takes true or false");
        file.clear();
        continue;
      }
      ASSERT_TRUE(bad.contains(option)) << option << " has no bad value in this table";
      EXPECT_TRUE(refusal(with({option, bad.at(option)})).starts_with(option + " takes "));
      EXPECT_TRUE(refusal(with({option})).starts_with(option + " takes ")) << option;
      EXPECT_TRUE(refusal(with({option})).ends_with(", and none was given")) << option;
      if (option == "--config" || option == "--copies") continue;  // no key; given by `base`
      file = section + option.substr(2) + " = []\n";
      EXPECT_TRUE(
          refusal(base).starts_with("the configuration file " + shown + ": " + key + " takes "))
          << key;
      file.clear();
    }
    EXPECT_TRUE(refusal(with({"--bogus"})).starts_with("--bogus is not an option"));
    const std::string extra = refusal(with({"x", "y"}));  // image takes one FILE
    EXPECT_TRUE(extra.find("\"x\"") != std::string::npos || extra.ends_with("\"y\"")) << extra;
    file = section + "bogus = 1\n";
    EXPECT_EQ(refusal(base), "the configuration file " + shown + " holds an unknown key, \"" +
                                 (form.empty() ? "" : form + ".") + "bogus\"");
    file.clear();
  }
  EXPECT_EQ(refusal({"image", ""}), "FILE takes a file name, not \"\"");
  std::remove(path.c_str());
}

TEST(CommandLineParseTest, EachHelpListsItsOwnOptionsWithRangeAndDefault) {
  const std::string direct = HelpOf({"direct"});
  EXPECT_EQ(Lines(direct).at(0), "usage: torvandrix-upload direct [options]");
  EXPECT_TRUE(HasLine(direct,
                      "  --retries N         retries of a word at a prompt that offers "
                      "one; then the"));
  EXPECT_TRUE(HasLine(direct, "                      upload stops (0 to 1000000; default 3)"));
  EXPECT_TRUE(HasLine(direct, "                      (0 to 86400; default 10)")) << direct;
  for (const char* option : {"--port DEVICE", "--data-port", "--high-speed", "--log FILE",
                             "--quiet", "--json", "-h, --help"}) {
    EXPECT_NE(direct.find("\n  " + std::string(option) + " "), std::string::npos) << option;
  }
  for (const char* rf_only : {"--copies", "--start", "--passes", "--com", "--version"}) {
    EXPECT_EQ(direct.find(rf_only), std::string::npos) << rf_only;
  }

  const std::string rf = HelpOf({"rf"});
  EXPECT_EQ(Lines(rf).at(0), "usage: torvandrix-upload rf --copies N [options]");
  EXPECT_TRUE(HasLine(rf,
                      "  --copies N          intact copies of every frame (1 to 9; "
                      "required)"));
  EXPECT_TRUE(HasLine(rf, "                      (0 to the image's last record, " + LastRecord() +
                              " for the one built in;"));
  EXPECT_EQ(rf.find("--retries"), std::string::npos);
  EXPECT_EQ(rf.find("--data-port"), std::string::npos);

  EXPECT_EQ(HelpOf({"ports"}),
            "usage: torvandrix-upload ports [options]\n\nThe serial devices of this machine, one "
            "a line under a header: the device, the\nComN that binds it, its stable name, the "
            "USB vendor:product, serial number,\nwhether another program holds it now, and what "
            "it says it is; \"-\" where that is\nnot known. Ports on serial servers "
            "(rfc2217://HOST:PORT) are not listed: none\ncan be known from here.\n\nOptions:\n"
            "  -h, --help          show this text and exit\n"
            "  --json              print the same as one JSON array of objects, one a\n"
            "                      device, instead\n");

  const std::string top = HelpOf({});
  const std::vector<std::string> top_lines = Lines(top);
  EXPECT_EQ(std::vector<std::string>(top_lines.begin(), top_lines.begin() + 4),
            (std::vector<std::string>{"usage: torvandrix-upload [options]",
                                      "       torvandrix-upload direct [options]",
                                      "       torvandrix-upload rf --copies N [options]",
                                      "       torvandrix-upload ports [options]"}));
  EXPECT_TRUE(HasLine(top,
                      "  --com N=DEVICE      bind ComN to DEVICE for the menu, as "
                      "TORVANDRIX_COM<N>"));
  EXPECT_TRUE(HasLine(top,
                      "  rf       The RF upload through the local radio on the port to "
                      "the radios of"));
  EXPECT_NE(top.find("5 port could not be opened, 6\ncomplete, but words were resent that the "
                     "checksum does not cover"),
            std::string::npos)
      << top;
  EXPECT_EQ(top.find("--retries"), std::string::npos);

  for (const std::string& help : {top, direct, rf}) {
    for (const std::string& line : Lines(help)) {
      EXPECT_LE(line.size(), app::kHelpWidth) << line;
    }
  }
}

TEST(CommandLineParseTest, WrapTextBreaksAtSpacesUnderItsIndent) {
  EXPECT_EQ(app::WrapText("aaa bbb ccc ddd", 8, 2), "aaa bbb\n  ccc\n  ddd");
  EXPECT_EQ(app::WrapText("short\nkept as is", 10, 4), "short\nkept as is");
  EXPECT_EQ(app::WrapText("a verylongword b", 5, 1), "a\n verylongword\n b");
}

}  // namespace
}  // namespace tvx::testing
