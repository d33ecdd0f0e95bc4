// What the command line is read with besides its arguments: the configuration file (its keys at
// the top and in a sub-command's section, the command line over it, the errors that name the
// file and the key) and the access code (its written forms, the order between the option, the
// variable and the file, the error that names the place without echoing the value).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/access_code_text.h"
#include "app/cli_platform.h"
#include "app/command_line.h"
#include "app/printable_text.h"

namespace tvx::testing {
namespace {

namespace fs = std::filesystem;
using Code = std::array<std::uint8_t, 4>;

const app::HelpWording kWording{"terminal window", "/dev/ttyUSB0", "/dev/ttyS(N-1)",
                                "~/uploads.jsonl", "~/.config/torvandrix-upload/config"};
const std::string kForm =
    "takes four bytes in hexadecimal separated by commas, e.g. 0x12,0x34,0x56,0x78";

class SettingsParseTest : public ::testing::Test {
 protected:
  SettingsParseTest() {
    dir_ = fs::path(::testing::TempDir()) /
           ("tvx_settings_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    settings_.read_file = app::ReadSettingsFile;
  }
  ~SettingsParseTest() override { fs::remove_all(dir_); }

  std::string File(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    std::ofstream(path) << text;
    return path.string();
  }

  app::CommandLine Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "torvandrix-upload");
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    return app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), kWording, settings_);
  }

  // The usage error's first line, without the program's name; "" when there is none.
  std::string Refusal(const std::vector<std::string>& args) {
    const app::CommandLine command = Parse(args);
    if (command.action != app::CommandAction::kUsageError) return "";
    return command.text.substr(0, command.text.find('\n')).substr(sizeof "torvandrix-upload:");
  }

  fs::path dir_;
  app::ParseSettings settings_;
};

TEST(AccessCodeTextTest, FourHexadecimalBytesAndNothingElse) {
  EXPECT_EQ(app::ReadAccessCode("0x12,0x34,0x56,0x78"), (Code{0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(app::ReadAccessCode(" c3, 0X5a ,9E,\t7"), (Code{0xC3, 0x5A, 0x9E, 0x07}));
  for (const char* bad : {"", "1,2,3", "1,2,3,4,5", "1,2,3,4,", "0x123,0,0,0", "100,0,0,0",
                          "0x,0,0,0", "1,,3,4", "-1,0,0,0", "1 2,3,4", "g0,0,0,0"}) {
    EXPECT_EQ(app::ReadAccessCode(bad), std::nullopt) << bad;
  }
}

// The first place set wins: the option (before or after direct, or in the menu form), the
// variable, the file, the code built in. Only the winner is read: a bad code there is refused
// naming the place, never the value; a bad one in a place that loses is not looked at.
TEST_F(SettingsParseTest, AccessCodeComesFromTheFirstPlaceSet) {
  const Code option{1, 2, 3, 4}, variable{0x11, 0x12, 0x13, 0x14}, file{0x21, 0x22, 0x23, 0x24};
  EXPECT_EQ(Parse({"direct"}).access_code, std::nullopt);
  settings_.config_file = File("config", "access-code = \"0x21,0x22,0x23,0x24\"\n");
  EXPECT_EQ(Parse({}).access_code, file);
  settings_.access_code_variable = "11,12,13,14";
  EXPECT_EQ(Parse({"direct"}).access_code, variable);
  EXPECT_EQ(Parse({"direct", "--access-code", "1,2,3,4"}).access_code, option);
  EXPECT_EQ(Parse({"--access-code", "1,2,3,4"}).access_code, option);

  settings_.config_file = File("bad", "access-code = \"0x21,0x22,0x23\"\n");
  EXPECT_EQ(Parse({"direct"}).access_code, variable);
  settings_.access_code_variable = "11,12,13";
  EXPECT_EQ(Refusal({}), "TORVANDRIX_ACCESS_CODE " + kForm);
  EXPECT_EQ(Parse({"rf", "--copies", "1"}).action, app::CommandAction::kRf) << "rf sends none";
  EXPECT_EQ(Parse({"--access-code", "1,2,3,4", "direct"}).access_code, option);
  settings_.access_code_variable.clear();
  EXPECT_EQ(Refusal({"direct"}), "the configuration file " +
                                     app::PrintableText(settings_.config_file) + ": access-code " +
                                     kForm);
  EXPECT_EQ(Refusal({"direct", "--access-code"}),
            "--access-code " + kForm + ", and none was given");
  EXPECT_EQ(
      Parse({"direct", "--access-code", "0x01,0x02,0x03"}).text,
      "torvandrix-upload: --access-code " + kForm + "\nsee 'torvandrix-upload direct --help'\n");
  // rf sends no access code.
  EXPECT_EQ(Refusal({"rf", "--copies", "1", "--access-code", "1,2,3,4"}),
            "--access-code is an option of the program without a sub-command and direct, not of "
            "rf");
}

// The program's keys at the top, a sub-command's in its section and only when it runs; the
// command line over the file.
TEST_F(SettingsParseTest, FileKeysFillWhatTheCommandLineLeavesUnset) {
  settings_.config_file = File("config",
                               "# bench 3\n"
                               "log = \"/srv/uploads.jsonl\"\n"
                               "com = [\"1=/dev/serial/by-id/usb-x\", # the bench's\n"
                               "       '2=/dev/ttyUSB1',\n]\n"
                               "[direct]\nretries = 5\nhigh-speed = true\n"
                               "[rf]\ntimeout = 30\ncopies = 2\n");
  app::CommandLine command = Parse({"direct"});
  ASSERT_EQ(command.action, app::CommandAction::kDirect) << command.text;
  EXPECT_EQ(command.log, "/srv/uploads.jsonl");
  EXPECT_EQ(command.retries, 5);
  EXPECT_TRUE(command.high_speed);
  EXPECT_EQ(command.timeout_seconds, 10.0) << "rf's timeout reached direct";
  // The bindings serve a sub-command's "--port ComN" too: not the error --com would be.
  EXPECT_EQ(command.com_bindings, (std::vector<std::pair<int, std::string>>{
                                      {1, "/dev/serial/by-id/usb-x"}, {2, "/dev/ttyUSB1"}}));
  command = Parse({"direct", "--retries", "1", "--log", "/tmp/mine.jsonl"});
  EXPECT_EQ(command.retries, 1);
  EXPECT_EQ(command.log, "/tmp/mine.jsonl");
  command = Parse({"rf"});  // --copies from the file
  EXPECT_EQ(command.copies, 2) << command.text;
  EXPECT_EQ(command.timeout_seconds, 30.0);
  EXPECT_EQ(Parse({"--com", "3=/dev/x"}).com_bindings.size(), 1u);
  EXPECT_EQ(Parse({"ports"}).action, app::CommandAction::kPorts) << "the file's log is no error";
  EXPECT_EQ(Parse({"--help"}).text.find(settings_.config_file), std::string::npos);
  EXPECT_EQ(Parse({"--config", File("other", "[direct]\nretries = 7\n"), "direct"}).retries, 7);
  settings_.config_file = (dir_ / "absent").string();
  EXPECT_EQ(Parse({"direct"}).action, app::CommandAction::kDirect) << "a missing default file";
}

TEST_F(SettingsParseTest, FileErrorsNameTheFileAndTheKey) {
  struct Case {
    std::string text;  // of the file
    std::vector<std::string> args;
    std::string reason;  // after "the configuration file FILE"
  };
  const std::string unknown = " holds an unknown key, ";
  const std::vector<Case> cases = {
      {"log = \"x\"\nbogus = 1\n", {}, unknown + "\"bogus\""},
      {"[direct]\nretries = 2\nfrob = 1\n", {"direct"}, unknown + "\"direct.frob\""},
      {"[direct]\nfrob = 1\n", {"rf", "--copies", "1"}, unknown + "\"direct.frob\""},
      {"[frob]\nretries = 2\n", {"direct"}, unknown + "\"frob.retries\""},
      {"retries = 2\n",
       {"direct"},
       unknown + "\"retries\": an option of a sub-command goes under [direct]"},
      {"config = \"x\"\n", {}, " cannot set \"config\""},
      {"[direct]\nretries = many\n",
       {"direct"},
       ": direct.retries takes a number from 0 to 1000000, not \"many\""},
      {"[direct]\nretries = [1, 2]\n",
       {"direct"},
       ": direct.retries takes a number from 0 to 1000000, one only"},
      {"[direct]\nquiet = maybe\n", {"direct"}, ": direct.quiet takes true or false"},
  };
  for (const Case& c : cases) {
    const std::string file = File("config", c.text);
    std::vector<std::string> args = {"--config", file};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Refusal(args), "the configuration file " + app::PrintableText(file) + c.reason);
  }
  // A value the command line gives is its own.
  const std::string value = File("value", "[direct]\nretries = many\n");
  EXPECT_EQ(Parse({"--config", value, "direct", "--retries", "4"}).retries, 4);
  EXPECT_EQ(Refusal({"--config", value, "direct", "--retries", "x"}),
            "--retries takes a number from 0 to 1000000, not \"x\"");

  const std::string missing = (dir_ / "missing").string();
  EXPECT_EQ(
      Refusal({"--config", missing})
          .rfind("the configuration file " + app::PrintableText(missing) + " cannot be read: ", 0),
      0u);
}

}  // namespace
}  // namespace tvx::testing
