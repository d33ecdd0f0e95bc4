// The Windows side of the command line: the help's device names, ComN bindings as the serial
// backend sees them, and the upload log's appends.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/cli_platform.h"
#include "app/command_line.h"

namespace tvx::testing {
namespace {
namespace fs = std::filesystem;

// The help's paragraphs are wrapped when printed: compared with their line ends as spaces.
std::string Flowed(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

TEST(WinCliPlatformTest, HelpAndUsageNameWindowsDevices) {
  const char* help[] = {"torvandrix-upload", "--help"};
  const std::string text = Flowed(app::ParseCommandLine(2, help, app::PlatformHelpWording()).text);
  EXPECT_NE(text.find("seen whole in a console window of 51 rows or more"), std::string::npos)
      << text;
  EXPECT_NE(text.find("e.g. TORVANDRIX_COM1=COM3; without one, ComN is COMN."), std::string::npos)
      << text;
  EXPECT_NE(
      text.find("else TORVANDRIX_LOG, else %LOCALAPPDATA%\\torvandrix-upload\\uploads.jsonl."),
      std::string::npos)
      << text;
  EXPECT_EQ(text.find("/dev/"), std::string::npos) << text;

  const char* rf_help[] = {"torvandrix-upload", "rf", "--help"};
  const std::string rf = Flowed(app::ParseCommandLine(3, rf_help, app::PlatformHelpWording()).text);
  EXPECT_NE(rf.find("the serial device, e.g. COM3, Com1 to Com9 (any case)"), std::string::npos)
      << rf;
  EXPECT_EQ(rf.find("/dev/"), std::string::npos) << rf;

  const char* bad[] = {"torvandrix-upload", "--com", "0=COM3"};
  EXPECT_NE(app::ParseCommandLine(3, bad, app::PlatformHelpWording())
                .text.find("--com takes N=DEVICE with N from 1 to 9, e.g. 1=COM3, not \"0=COM3\""),
            std::string::npos);
}

TEST(WinCliPlatformTest, ComBindingsComeFromTheOptionTheEnvironmentAndTheDefault) {
  SetEnvironmentVariableA("TORVANDRIX_COM6", "");  // an empty binding counts as none
  SetEnvironmentVariableA("TORVANDRIX_COM7", "\\\\.\\COM12");
  const auto devices = app::PortBindings({{8, "COM3"}});
  EXPECT_EQ(devices[5], "\\\\.\\COM6");
  EXPECT_EQ(devices[6], "\\\\.\\COM12");
  EXPECT_EQ(devices[7], "COM3");
  SetEnvironmentVariableA("TORVANDRIX_COM7", nullptr);
}

// Two writers, each opening the file anew for every line, as two programs would: whole lines,
// each once, and the folders made on the way.
TEST(WinCliPlatformTest, AppendsWholeLinesAndMakesFolders) {
  const fs::path folder = fs::path(::testing::TempDir()) / "tvx_win_log";
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  const std::string path = (folder / "deeper" / "uploads.jsonl").string();
  EXPECT_NE(app::AppendLine(path, "x\n", false), "");  // no folder, not asked to make one

  constexpr int kLinesEach = 300;
  std::vector<std::thread> writers;
  std::vector<std::string> errors(2);
  for (int writer = 0; writer < 2; ++writer) {
    writers.emplace_back([&, writer] {
      const std::string line(3000, writer == 0 ? 'a' : 'b');
      for (int i = 0; i < kLinesEach && errors[writer].empty(); ++i) {
        errors[writer] = app::AppendLine(path, line + "\n", true);
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(errors[0], "");
  EXPECT_EQ(errors[1], "");
  std::ifstream in(path, std::ios::binary);
  int count = 0;
  for (std::string line; std::getline(in, line); ++count) {
    ASSERT_EQ(line.size(), 3000u) << "line " << count;
    ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "line " << count << " mixed";
  }
  EXPECT_EQ(count, 2 * kLinesEach);
  in.close();
  fs::remove_all(folder, ignored);
}

// A device's name is refused without opening the device (a serial port would raise its
// lines); a folder and a missing file are told apart, and only a file's text is read.
TEST(WinCliPlatformTest, OnlyAFilesSettingsAreRead) {
  const fs::path folder = fs::path(::testing::TempDir()) / "tvx_win_settings";
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder);
  const std::string file = (folder / "config").string();
  std::ofstream(file, std::ios::binary) << "[direct]\nretries = 3\n";
  const struct {
    std::string path;
    const char* error;
    bool absent;
  } cases[] = {
      {file, "", false},
      {folder.string(), "it is a folder", false},
      {"NUL", "it is a device", false},
      {"COM1", "it is a device", false},
      {"\\\\.\\COM12", "it is a device", false},
      {"\\\\.\\pipe\\tvx-settings", "it is a pipe", false},
  };
  for (const auto& c : cases) {
    std::string text = "left over";
    bool absent = false;
    EXPECT_EQ(app::ReadSettingsFile(c.path, text, absent), c.error) << c.path;
    EXPECT_EQ(absent, c.absent) << c.path;
    EXPECT_EQ(text, *c.error == '\0' ? "[direct]\nretries = 3\n" : "") << c.path;
  }
  std::string text;
  bool absent = false;
  EXPECT_NE(app::ReadSettingsFile((folder / "missing").string(), text, absent), "");
  EXPECT_TRUE(absent);
  fs::remove_all(folder, ignored);
}

}  // namespace
}  // namespace tvx::testing
