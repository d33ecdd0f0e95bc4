// The scripted direct upload is the menu's upload with other hands on the keys: against the
// same radio, with the same answers and the same challenge, the radio hears the same bytes,
// the retry prompts included.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "app/commands.h"
#include "direct/direct_upload.h"
#include "direct/upload_fixture.h"

namespace tvx::testing {
namespace {

// The fixture's clock with a time of day that stands still, so both uploads draw the same
// challenge word.
class StillDayClock final : public job::Clock {
 public:
  explicit StillDayClock(job::Clock& inner) : inner_(inner) {}
  double Seconds() override { return inner_.Seconds(); }
  double TimeOfDaySeconds() override { return 45296.789; }
  void SleepMs(int ms) override { inner_.SleepMs(ms); }

 private:
  job::Clock& inner_;
};

class ScriptedWireTest : public DirectUploadTest {
 protected:
  // The radio drops the reply of word 5 and stores word 9 wrongly: one retry prompt, then a
  // checksum error and a read-back with one difference.
  static sim::RadioConfig FaultyRadio() {
    sim::RadioConfig config = FastRadio();
    config.Add(sim::Fault::kBadReply, 5);
    config.Add(sim::Fault::kCorruptStore, 9);
    return config;
  }

  // Records what goes to the radio from now on.
  void Record() {
    heard_.clear();
    port_->on_write = [this](std::span<const std::uint8_t> bytes) {
      heard_.insert(heard_.end(), bytes.begin(), bytes.end());
    };
  }

  int RunScripted(std::int32_t retries) {
    app::CommandLine command;
    command.action = app::CommandAction::kDirect;
    command.data_port = true;
    command.high_speed = true;
    command.retries = retries;
    command.log = log_path_;
    command.port = radio_->DevicePath();
    app::ScriptedOutput output;
    output.out = out_;
    output.err = out_;
    return app::RunScriptedJob(command, *port_, priority_, clock_still_, output, {SmallImage()});
  }

  std::string Output() {
    std::fflush(out_);
    std::rewind(out_);
    std::string text;
    for (int c; (c = std::fgetc(out_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

  std::vector<std::uint8_t> heard_;
  StillDayClock clock_still_{clock_};
  std::FILE* out_ = std::tmpfile();
  std::string log_path_ = ::testing::TempDir() + "scripted_wire_log.jsonl";
};

TEST_F(ScriptedWireTest, ScriptedUploadPutsTheMenuUploadsBytesOnTheWire) {
  StartRadio(FaultyRadio());
  Record();
  job::RunContext menu(console_, *port_, priority_, clock_still_);
  menu.image = SmallImage();
  menu.link.devices[0] = radio_->DevicePath();
  console_.Feed("N\rY\rY\r");  // data port, in set-up, high speed
  Answer("Bad Data!", "\r");
  Answer("I Sent ", "\r");  // the read-back's difference
  const direct::Result result = direct::RunDirectUpload(menu);
  ASSERT_EQ(result.outcome, direct::Outcome::kChecksumError);
  const std::vector<std::uint8_t> menu_bytes = heard_;

  StartRadio(FaultyRadio());
  Record();
  EXPECT_EQ(RunScripted(3), app::kExitChecksumError);
  EXPECT_TRUE(heard_ == menu_bytes)
      << heard_.size() << " bytes against the menu's " << menu_bytes.size();
  const std::string output = Output();
  EXPECT_NE(output.find("Bad Data!,Continue?(<esc> to quit)  -> retry 1 of 3\n"), std::string::npos)
      << output;
  EXPECT_EQ(output.find('\x1b'), std::string::npos) << "escape sequence in plain output";
}

TEST_F(ScriptedWireTest, PromptWithNoRetriesLeftStopsTheUpload) {
  StartRadio(FaultyRadio());
  EXPECT_EQ(RunScripted(0), app::kExitStopped);
  const std::string output = Output();
  EXPECT_NE(output.find("-> no retries left: stopping\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Upload stopped before the end (retries spent)"), std::string::npos);
  EXPECT_EQ(SettledCounters().direct.checksums_sent, 0u);
}

}  // namespace
}  // namespace tvx::testing
