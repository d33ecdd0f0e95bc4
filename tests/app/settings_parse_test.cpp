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
  EXPECT_EQ(app::ReadAccessCode("0,0,0,ff"), (Code{0, 0, 0, 0xFF}));
  for (const char* bad :
       {"", "0x12,0x34,0x56", "0x12,0x34,0x56,0x78,0x9A", "0x12,0x34,0x56,0x78,", "0x123,0,0,0",
        "100,0,0,0", "0x,0,0,0", "0x12,,0x56,0x78", "-1,0,0,0", "+1,0,0,0", "0x12 0x34,0,0",
        "12;34;56;78", "g0,0,0,0", "0x12,0x34,0x56,0x78x"}) {
    EXPECT_EQ(app::ReadAccessCode(bad), std::nullopt) << bad;
  }
}

// The first place set wins: the option (before or after direct, and in the menu form), then the
// variable, then the file, then the code built in; a bad code where it would be read is a usage
// error naming that place, and a place that loses is not read at all.
TEST_F(SettingsParseTest, AccessCodeComesFromTheFirstPlaceSetAndNamesItWhenWrong) {
  const Code option{0x01, 0x02, 0x03, 0x04};
  const Code variable{0x11, 0x12, 0x13, 0x14};
  const Code file{0x21, 0x22, 0x23, 0x24};
  EXPECT_EQ(Parse({"direct"}).access_code, std::nullopt);

  const std::string config = File("config", "access-code = \"0x21,0x22,0x23,0x24\"\n");
  settings_.config_file = config;
  EXPECT_EQ(Parse({"direct"}).access_code, file);
  EXPECT_EQ(Parse({}).access_code, file);
  settings_.access_code_variable = "11,12,13,14";
  EXPECT_EQ(Parse({"direct"}).access_code, variable);
  EXPECT_EQ(Parse({"direct", "--access-code", "1,2,3,4"}).access_code, option);
  EXPECT_EQ(Parse({"--access-code", "1,2,3,4", "direct"}).access_code, option);
  EXPECT_EQ(Parse({"--access-code", "1,2,3,4"}).action, app::CommandAction::kMenu);
  EXPECT_EQ(Parse({"--access-code", "1,2,3,4"}).access_code, option);
  // In the file's direct section too, which is the file's as well.
  settings_.access_code_variable.clear();
  settings_.config_file = File("direct", "[direct]\naccess-code = \"21,22,23,24\"\n");
  EXPECT_EQ(Parse({"direct"}).access_code, file);

  // Wrong, each where it wins; the value is never quoted back.
  settings_.config_file = File("bad", "access-code = \"0x21,0x22,0x23\"\n");
  const std::string in_file = "the configuration file " + app::PrintableText(settings_.config_file);
  EXPECT_EQ(Refusal({"direct"}), in_file + ": access-code " + kForm);
  EXPECT_EQ(Refusal({}), in_file + ": access-code " + kForm);
  EXPECT_EQ(Parse({"direct", "--access-code", "1,2,3,4"}).access_code, option);
  settings_.access_code_variable = "11,12,13";
  EXPECT_EQ(Refusal({"direct"}), "TORVANDRIX_ACCESS_CODE " + kForm);
  EXPECT_EQ(Refusal({}), "TORVANDRIX_ACCESS_CODE " + kForm);
  EXPECT_EQ(Parse({"--access-code", "1,2,3,4"}).access_code, option);
  const app::CommandLine wrong = Parse({"direct", "--access-code", "0x01,0x02,0x03"});
  EXPECT_EQ(wrong.text, "torvandrix-upload: --access-code " + kForm +
                            "\nsee 'torvandrix-upload direct --help'\n");
  EXPECT_EQ(Refusal({"--access-code", ""}), "--access-code " + kForm);
  EXPECT_EQ(Refusal({"--access-code", "0x01,0x02,0x03,0x04,0x05"}), "--access-code " + kForm);
  // rf sends no access code: it is not one of its options.
  EXPECT_EQ(Refusal({"rf", "--copies", "1", "--access-code", "1,2,3,4"}),
            "--access-code is an option of the program without a sub-command and direct, not of "
            "rf");
}

// The file sets what the command line leaves unset: the program's keys at the top, a
// sub-command's in its own section and only when that sub-command runs.
TEST_F(SettingsParseTest, FileKeysFillWhatTheCommandLineLeavesUnset) {
  settings_.config_file = File("config",
                               "# bench 3\n"
                               "log = \"/srv/uploads.jsonl\"\n"
                               "com = [\"1=/dev/serial/by-id/usb-x-if00\", \"2=/dev/ttyUSB1\"]\n"
                               "[direct]\n"
                               "retries = 5\n"
                               "high-speed = true\n"
                               "[rf]\n"
                               "timeout = 30\n"
                               "copies = 2\n");
  app::CommandLine command = Parse({"direct"});
  ASSERT_EQ(command.action, app::CommandAction::kDirect) << command.text;
  EXPECT_EQ(command.log, "/srv/uploads.jsonl");
  EXPECT_EQ(command.retries, 5);
  EXPECT_TRUE(command.high_speed);
  EXPECT_EQ(command.timeout_seconds, 10.0) << "rf's timeout reached direct";
  // The bindings serve a sub-command's "--port ComN" too: not the error --com would be.
  EXPECT_EQ(command.com_bindings, (std::vector<std::pair<int, std::string>>{
                                      {1, "/dev/serial/by-id/usb-x-if00"}, {2, "/dev/ttyUSB1"}}));

  command = Parse({"direct", "--retries", "1", "--log", "/tmp/mine.jsonl"});
  EXPECT_EQ(command.retries, 1);
  EXPECT_EQ(command.log, "/tmp/mine.jsonl");
  EXPECT_TRUE(command.high_speed);

  command = Parse({"rf"});  // --copies from the file
  ASSERT_EQ(command.action, app::CommandAction::kRf) << command.text;
  EXPECT_EQ(command.copies, 2);
  EXPECT_EQ(command.timeout_seconds, 30.0);
  EXPECT_EQ(command.retries, 3);

  command = Parse({"--com", "3=/dev/ttyS2"});
  EXPECT_EQ(command.com_bindings, (std::vector<std::pair<int, std::string>>{{3, "/dev/ttyS2"}}));
  EXPECT_EQ(Parse({"ports"}).action, app::CommandAction::kPorts) << "the file's log is no error";

  // --config instead of the default file; the help never shows the default file's place.
  const std::string other = File("other", "[direct]\nretries = 7\n");
  EXPECT_EQ(Parse({"--config", other, "direct"}).retries, 7);
  EXPECT_EQ(Parse({"--config", other, "direct"}).log, "");
  EXPECT_EQ(Parse({"--help"}).text.find(settings_.config_file), std::string::npos);
  settings_.config_file = (dir_ / "absent").string();
  EXPECT_EQ(Parse({"direct"}).action, app::CommandAction::kDirect) << "a missing default file";
}

TEST_F(SettingsParseTest, FileErrorsNameTheFileAndTheKey) {
  const auto in = [](const std::string& file) {
    return "the configuration file " + app::PrintableText(file);
  };
  settings_.config_file = File("config", "log = \"x\"\nbogus = 1\n");
  EXPECT_EQ(Refusal({"direct"}), in(settings_.config_file) + " holds an unknown key, \"bogus\"");
  const app::CommandLine menu = Parse({});
  EXPECT_EQ(menu.text, "torvandrix-upload: " + in(settings_.config_file) +
                           " holds an unknown key, \"bogus\"\nsee 'torvandrix-upload --help'\n");

  const std::string sections = File("sections", "[direct]\nretries = 2\nfrob = 1\n");
  EXPECT_EQ(Refusal({"--config", sections, "direct"}),
            in(sections) + " holds an unknown key, \"direct.frob\"");
  // Found in a section of a sub-command that does not run, and in a section that is no
  // sub-command's.
  EXPECT_EQ(Refusal({"--config", sections, "rf", "--copies", "1"}),
            in(sections) + " holds an unknown key, \"direct.frob\"");
  EXPECT_EQ(Refusal({"--config", sections}),
            in(sections) + " holds an unknown key, \"direct.frob\"");
  const std::string stray = File("stray", "[frob]\nretries = 2\n");
  EXPECT_EQ(Refusal({"--config", stray, "direct"}),
            in(stray) + " holds an unknown key, \"frob.retries\"");
  const std::string top = File("top", "retries = 2\n");
  EXPECT_EQ(Refusal({"--config", top, "direct"}),
            in(top) +
                " holds an unknown key, \"retries\": an option of a sub-command goes "
                "under [direct]");
  const std::string itself = File("itself", "config = \"other\"\n");
  EXPECT_EQ(Refusal({"--config", itself}), in(itself) + " cannot set \"config\"");

  // A value an option refuses: the file's key, unless the command line gave that option.
  const std::string value = File("value", "[direct]\nretries = many\n");
  EXPECT_EQ(Refusal({"--config", value, "direct"}),
            in(value) + ": direct.retries takes a number from 0 to 1000000, not \"many\"");
  EXPECT_EQ(Parse({"--config", value, "direct", "--retries", "4"}).retries, 4);
  EXPECT_EQ(Refusal({"--config", value, "direct", "--retries", "x"}),
            "--retries takes a number from 0 to 1000000, not \"x\"");

  // A file that cannot be read: the one --config names, or a default file that is there but
  // is no file. A default file that is not there is simply absent.
  const std::string missing = (dir_ / "missing").string();
  EXPECT_EQ(Refusal({"--config", missing, "direct"}), in(missing) + " cannot be read");
  EXPECT_EQ(Refusal({"--config", dir_.string(), "direct"}), in(dir_.string()) + " cannot be read");
  settings_.config_file = dir_.string();
  EXPECT_EQ(Refusal({"direct"}), in(dir_.string()) + " cannot be read");
  EXPECT_EQ(Refusal({"--config", "", "direct"}), "--config takes a file name, not \"\"");
}

}  // namespace
}  // namespace tvx::testing
