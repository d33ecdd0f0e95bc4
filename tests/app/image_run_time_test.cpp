// Firmware images at run time, from the command line to the radio: a revised image reaches the
// simulated radio (which reads the same file its own way) word for word and frame for frame,
// and the log names it; a bad file never gets past the command line; `image` tells the runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli_platform.h"
#include "app/command_line.h"
#include "app/commands.h"
#include "app/image_command.h"
#include "app/printable_text.h"
#include "image/firmware_image.h"
#include "image/sha256.h"
#include "radio_sim/options.h"
#include "support/memory_radio_port.h"
#include "support/virtual_time.h"

namespace tvx::testing {
namespace {

namespace fs = std::filesystem;

// The built-in image with the data of three records changed and one type-14 record added in
// free memory (0xA000) before the last, so the walk still ends with the last record.
std::vector<std::uint8_t> RevisedImage() {
  const auto built_in = image::FirmwareImage();
  std::vector<std::uint8_t> bytes(built_in.begin(), built_in.end());
  for (const std::size_t record : {0, 2000, 4142}) bytes[record * 20 + 7] ^= 0x5A;
  // Stored form: address low, high, type, length; then the data, four bytes at a time reversed.
  const std::uint8_t added[20] = {0x00, 0xA0, 14, 11, 4, 3, 2, 1, 0, 7, 6, 5};
  bytes.insert(bytes.end() - 20, std::begin(added), std::end(added));
  return bytes;
}

class ImageRunTimeTest : public ::testing::Test {
 protected:
  ImageRunTimeTest() {
    dir_ = fs::path(::testing::TempDir()) / ("tvx_image_" + std::string(CurrentName()));
    fs::create_directories(dir_);
  }
  ~ImageRunTimeTest() override { fs::remove_all(dir_); }

  static std::string_view CurrentName() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }

  std::string WriteFile(const std::string& name, std::span<const std::uint8_t> bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  static app::CommandLine Parse(std::vector<std::string> words,
                                app::ParseSettings settings = {}) {
    settings.read_file = app::ReadSettingsFile;
    words.insert(words.begin(), "torvandrix-upload");
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    return app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(),
                                 app::PlatformHelpWording(), settings);
  }

  // The simulated radio told `--image path` on its own command line.
  sim::SimOptions& Radio(const std::string& path, sim::RadioMode mode) {
    const std::vector<std::string_view> args = {"--image", path};
    EXPECT_EQ(sim::ParseOptions(args, sim_), "");
    sim_.config.mode = mode;
    sim_.config.erase_seconds = 0.0;
    return sim_;
  }

  // Runs the parsed sub-command on the radio behind a port in memory; its log line.
  nlohmann::json RunJob(const app::CommandLine& command, int expected_status) {
    MemoryRadioPort port(time_, sim_.config);
    VirtualClock clock(time_);
    serial::NoPriority priority;
    std::FILE* out = std::tmpfile();
    app::ScriptedOutput output;
    output.out = out;
    output.err = out;
    EXPECT_EQ(app::RunScriptedJob(command, port, priority, clock, output), expected_status);
    std::rewind(out);
    output_.clear();
    for (int c; (c = std::fgetc(out)) != EOF;) output_ += static_cast<char>(c);
    std::fclose(out);
    snapshot_ = port.SettledSnapshot();
    std::ifstream log(dir_ / "log.jsonl");
    std::string line;
    std::getline(log, line);
    return nlohmann::json::parse(line);
  }

  fs::path dir_;
  VirtualTime time_;
  sim::SimOptions sim_;
  std::unique_ptr<sim::RadioSnapshot> snapshot_;
  std::string output_;  ///< what the job wrote on both streams
};

TEST_F(ImageRunTimeTest, RevisedImageLoadsWordForWordByDirect) {
  const std::vector<std::uint8_t> revised = RevisedImage();
  const std::string path = WriteFile("revised.bin", revised);
  Radio(path, sim::RadioMode::kDirect);
  const app::CommandLine command = Parse(
      {"direct", "--port", "mem:radio", "--log", (dir_ / "log.jsonl").string(), "--image", path});
  ASSERT_EQ(command.action, app::CommandAction::kDirect) << command.text;
  const nlohmann::json line = RunJob(command, app::kExitComplete);

  const sim::MemoryComparison stored =
      sim::CompareMemory(sim::ExpectedImage(sim_.config.image), snapshot_->memory);
  EXPECT_EQ(stored.words, 33097u + 4u);
  EXPECT_EQ(stored.differing, 0u);
  EXPECT_EQ(snapshot_->counters.direct.verdicts_accepted, 1u);
  EXPECT_EQ(line["image"]["records"], 4145);
  EXPECT_EQ(line["image"]["source"], app::PrintableText(path));  // as messages show it
  EXPECT_EQ(line["image"]["sha256"], image::HexDigest(image::Sha256Of(revised)));
}

TEST_F(ImageRunTimeTest, RevisedImageIsBroadcastFrameForFrameByRf) {
  const std::string path = WriteFile("revised.bin", RevisedImage());
  Radio(path, sim::RadioMode::kRf);
  // The start held to the file's last record, 4144, which the built-in image does not have.
  const std::string log = (dir_ / "log.jsonl").string();
  EXPECT_EQ(Parse({"rf", "--copies", "1", "--start", "4144"}).action,
            app::CommandAction::kUsageError);
  EXPECT_EQ(Parse({"rf", "--copies", "1", "--start", "4144", "--image", path}).start, 4144);
  const app::CommandLine command =
      Parse({"rf", "--port", "mem:radio", "--copies", "1", "--log", log, "--image", path});
  ASSERT_EQ(command.action, app::CommandAction::kRf) << command.text;
  const nlohmann::json line = RunJob(command, app::kExitComplete);

  const sim::RfCounters& rf = snapshot_->counters.rf;
  EXPECT_EQ(rf.header_frames_good, 1u);
  EXPECT_EQ(rf.header_frames_bad + rf.data_frames_bad + rf.malformed_frames, 0u);
  EXPECT_EQ(rf.records_complete, 4145u);
  EXPECT_EQ(line["outcome"], "complete");
  EXPECT_EQ(line["image"]["source"], app::PrintableText(path));
}

// The command that goes on after a stop sends the same image: without it the rest of the
// broadcast would be the built-in image's records.
TEST_F(ImageRunTimeTest, StoppedBroadcastGoesOnWithTheSameImage) {
  const std::string path = WriteFile("revised.bin", RevisedImage());
  Radio(path, sim::RadioMode::kRf).config.Add(sim::Fault::kSilent);
  const app::CommandLine command =
      Parse({"rf", "--port", "mem:radio", "--copies", "1", "--timeout", "1", "--log",
             (dir_ / "log.jsonl").string(), "--image", path});
  RunJob(command, app::kExitStopped);
  // The name quoted as a shell needs it (on Windows it holds a colon and backslashes).
  EXPECT_NE(output_.find("--copies 1 --start 0 --passes 1 --image "), std::string::npos) << output_;
  EXPECT_NE(output_.find("revised.bin"), std::string::npos) << output_;
}

// Each kind of bad file is a usage error naming the file and what is wrong, decided while the
// command line is read: no port is ever opened. The reader's own table has every kind.
TEST_F(ImageRunTimeTest, BadImageIsAUsageErrorBeforeAnyPortOpens) {
  std::vector<std::uint8_t> truncated = RevisedImage();
  truncated.resize(truncated.size() - 3);
  const std::string bad = WriteFile("bad.bin", truncated);
  const std::string config = WriteFile("settings.toml", {});
  std::ofstream(config) << "image = \"" << bad << "\"\n";
  // Names are echoed printable: on Windows a backslash shows doubled.
  const std::string reason = "the image " + app::PrintableText(bad) +
                             ": record 4144: incomplete, only 17 of 20 bytes (image size 82897 "
                             "is not a multiple of 20)";
  struct Case {
    std::vector<std::string> words;
    std::string text;
  };
  const Case cases[] = {
      {{"direct", "--image", bad}, reason + "\nsee 'torvandrix-upload direct --help'\n"},
      {{"rf", "--copies", "1", "--image", bad}, reason + "\nsee 'torvandrix-upload rf --help'\n"},
      {{"--image", bad}, reason + "\nsee 'torvandrix-upload --help'\n"},
      {{"image", bad}, reason + "\nsee 'torvandrix-upload image --help'\n"},
      {{"--config", config, "direct"},
       "the configuration file " + app::PrintableText(config) + ": image: " + reason +
           "\nsee 'torvandrix-upload --help'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.front());
    const app::CommandLine command = Parse(c.words);
    EXPECT_EQ(command.action, app::CommandAction::kUsageError);
    EXPECT_EQ(command.text, "torvandrix-upload: " + c.text);
  }
}

#ifdef TVX_SYNTHETIC_IMAGE
TEST_F(ImageRunTimeTest, ImageTellsTheRunsOfTheBuiltInImage) {
  const std::string text = app::ImageReportText(app::BuiltInImage());
  EXPECT_NE(text.find("Records: 4144 (82880 bytes)\nRuns: 18,"), std::string::npos) << text;
  const std::string runs =
      "  0..772           15  0x8000  0xB048      773       12361\n"
      "  773..935         15  0xB500  0xBF29      163        2602\n"
      "  936..1313        15  0x0000  0x179D      378        6046\n"
      "  1314..2132       14  0xC000  0xF32D      819       13102\n"
      "  2133..2509       14  0x8000  0x9788      377        6025\n"
      "  2510..2614       15  0x4000  0x468F      105        1680\n"
      "  2615..2719       15  0x4700  0x4D8F      105        1680\n"
      "  2720..2824       15  0x4E00  0x548F      105        1680\n"
      "  2825..2929       15  0x5500  0x5B8F      105        1680\n"
      "  2930..3034       15  0x5C00  0x628F      105        1680\n"
      "  3035..3139       15  0x6300  0x698F      105        1680\n"
      "  3140..3251       15  0x6A00  0x70FF      112        1792\n"
      "  3252..3295       15  0x7C00  0x7EB3       44         692\n"
      "  3296..4132       15  0xC000  0xF449      837       13386\n"
      "  4133             15  0xFF0E  0xFF0F        1           2\n"
      "  4134..4135       15  0xFF80  0xFF93        2          20\n"
      "  4136             15  0xFFA0  0xFFA2        1           3\n"
      "  4137..4143       15  0xFFB0  0xFFFF        7          80\n"
      "Data bytes: 66191\n"
      "Direct upload: 33097 words (66194 bytes) from 4144 records\n";
  EXPECT_NE(text.find(runs), std::string::npos) << text;
}
#endif

// What --export writes is what `image FILE --json` then reads: the same digest and walk.
TEST_F(ImageRunTimeTest, ExportedImageReadsBackAsTheBuiltInOne) {
  const std::string path = (dir_ / "exported.bin").string();
  app::CommandLine command = Parse({"image", "--export", path});
  ASSERT_EQ(command.action, app::CommandAction::kImage) << command.text;
  std::FILE* out = std::tmpfile();
  EXPECT_EQ(app::RunImageCommand(command, out, out), 0);
  std::fclose(out);

  command = Parse({"image", path, "--json"});
  ASSERT_EQ(command.action, app::CommandAction::kImage) << command.text;
  const nlohmann::json report = nlohmann::json::parse(app::ImageReportJson(*command.image));
  const nlohmann::json built_in = nlohmann::json::parse(app::ImageReportJson(app::BuiltInImage()));
  EXPECT_EQ(report["source"], app::PrintableText(path));  // as the log writes it
  EXPECT_EQ(built_in["source"], "built_in");
  EXPECT_EQ(report["sha256"], image::HexDigest(image::Sha256Of(image::FirmwareImage())));
  for (const char* key : {"records", "runs", "words", "checksum", "rf_header", "sha256"}) {
    EXPECT_EQ(report[key], built_in[key]) << key;
  }
}

}  // namespace
}  // namespace tvx::testing
