// The configuration file in the forms a careless or hostile hand gives it, as the program reads
// it: never waiting on what is no regular file, and naming the file and what is wrong with it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/access_code_text.h"
#include "app/cli_platform.h"
#include "app/command_line.h"

namespace tvx::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const app::HelpWording kWording{"terminal window", "/dev/ttyUSB0", "/dev/ttyS(N-1)",
                                "~/uploads.jsonl", "~/.config/torvandrix-upload/config"};

// The usage error's first line, without the program's name; "" when there is none.
std::string Refusal(std::vector<std::string> args, const app::ParseSettings& settings) {
  args.insert(args.begin(), "torvandrix-upload");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  const app::CommandLine command =
      app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), kWording, settings);
  if (command.action != app::CommandAction::kUsageError) return "";
  return command.text.substr(0, command.text.find('\n')).substr(sizeof "torvandrix-upload:");
}

TEST(SettingsFileTest, BadFormsAreRefusedWithoutWaiting) {
  const fs::path dir = fs::path(::testing::TempDir()) / "tvx_settings_file";
  fs::remove_all(dir);
  fs::create_directories(dir / "loop");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_symlink("x", dir / "loop" / "x");  // a folder on the way that cannot be searched
  const std::string too_long(app::kSettingsFileLimit + 1, '#');
  const std::string form =
      "takes four bytes in hexadecimal separated by commas, e.g. "
      "0x12,0x34,0x56,0x78, one only";
  struct Case {
    std::string path;  // --config PATH; empty: a file of `text`
    std::string text;
    std::vector<std::string> args;
    std::string reason;  // after "the configuration file PATH"
    bool help = true;    // --help still helps (a value is checked before the help is given)
  };
  const std::vector<Case> cases = {
      {(dir / "fifo").string(), "", {}, " cannot be read: it is a FIFO"},
      {"/dev/zero", "", {}, " cannot be read: it is a device"},
      {dir.string(), "", {}, " cannot be read: it is a folder"},
      {"", too_long, {}, " cannot be read: it is larger than 1 MiB"},
      {"", "log = \"/tmp/x/n\0ul.jsonl\"\n"s, {}, ": log holds a NUL byte"},
      {"",
       "log = \"a\"\n[direct]\nretries = 1\n[rf]\ncopies = 1\n[direct]\nquiet = true\n",
       {"direct"},
       " holds the section [direct] twice"},
      {"", "log = \"a\"\ncom = [\"1=/dev/a\"]\nlog = \"b\"\n", {"direct"}, " sets \"log\" twice"},
      {"", "log = \"a\"\nlog = \"b\"\n", {"direct"}, " sets \"log\" twice"},
      {"", "com = [\"1=/dev/a\", \"2=/dev/b\", \"1=/dev/c\"]\n", {}, ": com binds Com1 twice"},
      {"",
       "access-code = [\"1,2,3,4\", \"5,6,7,8\"]\n",
       {"direct"},
       ": access-code " + form,
       false},
  };
  for (const Case& c : cases) {
    std::string path = c.path;
    if (path.empty()) {
      path = (dir / "config").string();
      std::ofstream(path, std::ios::binary) << c.text;
    }
    app::ParseSettings settings;
    settings.read_file = app::ReadSettingsFile;
    std::vector<std::string> args = {"--config", path};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Refusal(args, settings), "the configuration file " + path + c.reason);
    // Where the default file would be read instead, the same.
    settings.config_file = path;
    EXPECT_EQ(Refusal(c.args, settings), "the configuration file " + path + c.reason);
    args.push_back("--help");  // which the error points to
    EXPECT_EQ(Refusal(args, settings).empty(), c.help) << path;
  }
  // A default file that is not there is no error; one that cannot be looked for is.
  app::ParseSettings settings;
  settings.read_file = app::ReadSettingsFile;
  settings.config_file = (dir / "none" / "config").string();
  EXPECT_EQ(Refusal({"direct"}, settings), "");
  settings.config_file = (dir / "loop" / "x" / "config").string();
  EXPECT_EQ(Refusal({"direct"}, settings), "the configuration file " + settings.config_file +
                                               " cannot be read: " + std::strerror(ELOOP));
  if (geteuid() != 0) {  // root searches any folder
    fs::create_directories(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::none);
    settings.config_file = (dir / "locked" / "config").string();
    EXPECT_EQ(Refusal({"direct"}, settings), "the configuration file " + settings.config_file +
                                                 " cannot be read: " + std::strerror(EACCES));
    fs::permissions(dir / "locked", fs::perms::owner_all);
  }
  fs::remove_all(dir);
}

// What the user gave twice is named as given: the same option before and after direct, one
// given twice, a ComN bound twice.
TEST(SettingsFileTest, AnOptionGivenTwiceIsNamed) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--access-code", "1,2,3,4", "--access-code", "5,6,7,8", "direct"},
       "--access-code is given more than once"},
      {{"--access-code", "1,2,3,4", "direct", "--access-code", "5,6,7,8"},
       "--access-code is given more than once"},
      {{"--log", "a", "direct", "--log", "b"}, "--log is given more than once"},
      {{"--com", "1=/dev/a", "--com", "1=/dev/b"}, "--com binds Com1 twice"},
  };
  for (const auto& [args, reason] : cases) EXPECT_EQ(Refusal(args, {}), reason);
}

TEST(SettingsFileTest, TheAccessCodeAndSecretStepsLeaveTheArguments) {
  std::string texts[] = {"prog",
                         "--access-code",
                         "1,2,3,4",
                         "setup",
                         "--send-secret",
                         "PIN 1234\\r",
                         "--log",
                         "x",
                         "--send",
                         "shown",
                         "--send-secret=pw",
                         "--access-code=5,6,7,8",
                         "--",
                         "--access-code",
                         "kept"};
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  EXPECT_TRUE(app::WipeSecretArguments(static_cast<int>(argv.size()), argv.data()));
  const std::vector<std::string> after(argv.begin(), argv.end());
  EXPECT_EQ(after, (std::vector<std::string>{"prog", "--access-code", "", "setup", "--send-secret",
                                             "", "--log", "x", "--send", "shown", "--send-secret=",
                                             "--access-code=", "--", "--access-code", "kept"}));
}

}  // namespace
}  // namespace tvx::testing
