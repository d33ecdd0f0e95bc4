// The direct sub-command in the process, from its command line to its exit status, against the
// simulated radio behind a serial port in memory on a virtual time: the outcome line on standard
// output, the notes on standard error, the log line, the retries and the silence limit, with the
// built-in image and no real pause.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/cli_platform.h"
#include "app/command_line.h"
#include "app/commands.h"
#include "app/front_end.h"
#include "app/upload_log.h"
#include "direct/memory_upload_fixture.h"
#include "serial/priority.h"
#include "support/captured_text.h"
#include "support/memory_radio_port.h"
#include "support/virtual_time.h"

namespace tvx::testing {
namespace {

// Binds Com3 through its environment variable (null: unbound), as a user's shell would.
void BindCom3(const char* device) {
#ifdef _WIN32
  _putenv_s("TORVANDRIX_COM3", device != nullptr ? device : "");
#else
  device != nullptr ? ::setenv("TORVANDRIX_COM3", device, 1) : ::unsetenv("TORVANDRIX_COM3");
#endif
}

namespace fs = std::filesystem;

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

class DirectCommandTest : public ::testing::Test {
 protected:
  DirectCommandTest() {
    log_ = fs::path(::testing::TempDir()) /
           ("tvx_direct_command_" + std::string(CurrentTestName()) + ".jsonl");
    fs::remove(log_);
  }
  ~DirectCommandTest() override { fs::remove(log_); }

  // A new radio on the same virtual time; the erase is instant unless `erase_seconds` says
  // otherwise.
  void StartRadio(sim::RadioConfig config = {}, double erase_seconds = 0.0) {
    config.mode = sim::RadioMode::kDirect;
    config.erase_seconds = erase_seconds;
    port_ = std::make_unique<MemoryRadioPort>(time_, config);
  }

  // Runs "direct --port PORT --log LOG" and `more` as the program would: parsed as its
  // command line, the job on the memory port, the streams in files.
  Ran Run(const std::vector<std::string>& more = {}, const std::string& port = "mem:radio") {
    std::vector<std::string> words = {"torvandrix-upload", "direct", "--port", port, "--log",
                                      log_.string()};
    words.insert(words.end(), more.begin(), more.end());
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    const app::CommandLine command = app::ParseCommandLine(static_cast<int>(argv.size()),
                                                           argv.data(), app::PlatformHelpWording());
    EXPECT_EQ(command.action, app::CommandAction::kDirect) << command.text;

    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    app::ScriptedOutput output;
    output.out = out;
    output.err = err;
    Ran ran;
    ran.status = app::RunScriptedJob(command, *port_, priority_, clock_, output);
    ran.out = Text(out);
    ran.err = Text(err);
    std::fclose(out);
    std::fclose(err);
    EXPECT_FALSE(port_->IsOpen());
    EXPECT_FALSE(port_->Starved());
    return ran;
  }

  std::vector<nlohmann::json> LogLines() const {
    std::vector<nlohmann::json> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
  }

  sim::RadioCounters Heard() { return port_->SettledSnapshot()->counters; }

  VirtualTime time_;
  VirtualClock clock_{time_};
  serial::NoPriority priority_;
  std::unique_ptr<MemoryRadioPort> port_;
  fs::path log_;
};

// Standard output holds the outcome line and nothing else; the notes go to standard error.
TEST_F(DirectCommandTest, CompleteUploadExitsZeroWithOneLogLine) {
  StartRadio();
  const Ran ran = Run();
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_TRUE(
      ran.out.starts_with("Upload complete: radio 9123456 accepted the checksum, 33097 words in "))
      << ran.out;
  EXPECT_EQ(Count(ran.out, "\n"), 1u) << ran.out;
  EXPECT_TRUE(ran.err.starts_with("Opened mem:radio.\nHandshake\n")) << ran.err;
  EXPECT_NE(ran.err.find("Radio Serial Number is 9123456\n"), std::string::npos) << ran.err;
  EXPECT_EQ(ran.err.find('\x1b'), std::string::npos) << "escape sequence in plain output";
  EXPECT_EQ(ran.err.find('\r'), std::string::npos) << "progress bar in plain output";
  EXPECT_EQ(Heard().direct.verdicts_accepted, 1u);
  const std::vector<nlohmann::json> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  const nlohmann::json& line = lines[0];
  EXPECT_EQ(line["job"], "direct");
  // "port" is what --port named; "device" what that opened.
  EXPECT_EQ(line["port"], "mem:radio");
  EXPECT_EQ(line["device"], "mem:radio");
  EXPECT_EQ(line["serial_number"], 9123456);
  EXPECT_EQ(line["image"]["records"], 4144);
  EXPECT_EQ(line["outcome"], "complete");
  EXPECT_FALSE(line.contains("reason"));
  EXPECT_EQ(line["resent_words"], 0);
  EXPECT_GT(line["seconds"].get<double>(), 0.0);
  EXPECT_TRUE(line["time"].get<std::string>().ends_with("Z"));

  // A port named by its ComN: the log keeps the name as given beside the device it is bound to.
  StartRadio();
  BindCom3("mem:radio");
  const Ran named = Run({}, "com3");
  BindCom3(nullptr);
  EXPECT_EQ(named.status, 0) << named.out << named.err;
  ASSERT_EQ(LogLines().size(), 2u);
  EXPECT_EQ(LogLines()[1]["port"], "com3");
  EXPECT_EQ(LogLines()[1]["device"], "mem:radio");
}

// --json: standard output is the log line's record and nothing else; --quiet: standard error
// stays empty through a healthy upload.
TEST_F(DirectCommandTest, JsonAndQuietLeaveTheRecordAlone) {
  StartRadio();
  const Ran ran = Run({"--json", "--quiet"});
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_EQ(ran.err, "");
  const nlohmann::json record = nlohmann::json::parse(ran.out);
  EXPECT_EQ(record["outcome"], "complete");
  EXPECT_EQ(record["serial_number"], 9123456);
  std::ifstream in(log_);
  EXPECT_EQ(ran.out, std::string(std::istreambuf_iterator<char>(in), {})) << "one record, twice";
}

TEST_F(DirectCommandTest, ChecksumErrorExitsOneAfterTheWholeReadBack) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kCorruptStore, 3);
  StartRadio(config);
  const Ran ran = Run();
  EXPECT_EQ(ran.status, 1) << ran.out << ran.err;
  EXPECT_NE(ran.err.find("CHECK SUM ERROR!!! "), std::string::npos) << ran.err;
  EXPECT_NE(ran.err.find("\nRead-back\n"), std::string::npos) << ran.err;
  // Word 3 of the image (index 2), at 0x8004, came back with bit 0 of its second byte flipped.
  EXPECT_NE(ran.err.find("Read-back word 2 (address 8004): sent "), std::string::npos) << ran.err;
  EXPECT_EQ(ran.out,
            "Upload failed: checksum error from radio 9123456. Upload again before using the "
            "radio. The read-back found 1 of 33097 words stored wrongly.\n");
  EXPECT_EQ(Heard().direct.readback_words, 33097u);
  const std::vector<nlohmann::json> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["outcome"], "checksum_error");
  EXPECT_EQ(lines[0]["reason"], "checksum_mismatch");
  EXPECT_EQ(lines[0]["word"], 33097);  // every word went out before the verdict
  EXPECT_EQ(lines[0]["resent_words"], 0);
}

// How an upload that did not complete ends: its status, the sentence on standard output, what
// standard error showed on the way, and the log line's fields.
TEST_F(DirectCommandTest, EndsShortOfCompleteSayWhyWithTheirStatus) {
  struct Case {
    const char* name;
    sim::Fault fault;
    std::uint32_t at;
    std::uint32_t serial;  // 0: the radio's own
    std::vector<std::string> options;
    int status;
    const char* out;
    const char* err;  // a part of standard error; empty: not looked at
    std::vector<std::pair<const char*, nlohmann::json>> log;
  };
  const Case cases[] = {
      // The radio answered 40 words; the next one (index 40, at 0x8050) met the dead line.
      {"dead line",
       sim::Fault::kHangUp,
       40,
       0,
       {},
       3,
       "Upload stopped: the line died at word 40 (address 8050) (Input/output error); the "
       "radio's firmware is incomplete; load it again.\n",
       "",
       {{"outcome", "stopped"},
        {"reason", "line_dead"},
        {"detail", "Input/output error"},  // the system's words beside the reason
        {"word", 40}}},
      {"refused radio",
       sim::Fault::kSilent,
       0,
       9109999,
       {},
       4,
       "Radio refused: serial number 9109999 is outside 9110000 to 9280000: not a Torvandrix "
       "radio; nothing was written to the radio.\n",
       "",
       {{"serial_number", 9109999}, {"reason", "serial_out_of_range"}}},
      // A radio that stops answering mid-transfer, the line up: each silence sends the word
      // again, the retries are spent, the job stops and says where.
      {"radio mute mid-transfer",
       sim::Fault::kMute,
       40,
       0,
       {"--timeout", "2", "--retries", "2"},
       3,
       "Upload stopped before the end (retries spent): word 40 (address 8050) went out 3 "
       "times, the last stopped at \"no echo of the address\"; the radio's firmware is "
       "incomplete; load it again.\n",
       "word 40 (address 8050): no echo in 2.0 s  -> retry 1 of 2\n"
       "word 40 (address 8050): no echo in 2.0 s  -> retry 2 of 2\n"
       "word 40 (address 8050): no echo in 2.0 s  -> no retries left: stopping\n",
       {{"outcome", "stopped"}, {"reason", "retries_spent"}, {"word", 40}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::RadioConfig config;
    if (c.serial != 0) {
      config.serial = c.serial;
    } else {
      config.Add(c.fault, c.at);
    }
    StartRadio(config);
    const Ran ran = Run(c.options);
    EXPECT_EQ(ran.status, c.status) << ran.out << ran.err;
    EXPECT_EQ(ran.out, c.out);
    EXPECT_NE(ran.err.find(c.err), std::string::npos) << ran.err;
    const nlohmann::json line = LogLines().back();
    for (const auto& [key, value] : c.log) EXPECT_EQ(line[key], value) << key;
  }
}

// A radio that never answers: the identity wait ends at the limit, nothing having been written;
// an erase that never ends ends the same way, the firmware gone.
TEST_F(DirectCommandTest, SilentRadioEndsTheIdentityAndEraseWaitsWithStatusThree) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kSilent);
  StartRadio(config);
  Ran ran = Run({"--timeout", "0.3"});
  EXPECT_EQ(ran.status, 3) << ran.out << ran.err;
  EXPECT_EQ(ran.out,
            "Upload stopped: the radio did not answer the identity request in 0.3 s; nothing was "
            "written to it. Check the cable, that the radio is in set-up mode, and that it takes "
            "this program's access code.\n");
  EXPECT_EQ(LogLines().at(0)["outcome"], "stopped");
  EXPECT_EQ(LogLines().at(0)["reason"], "radio_silent");

  StartRadio({}, 1.0e6);  // an erase that never ends
  const double erase_started = time_.Now();
  ran = Run({"--timeout", "2"});
  EXPECT_EQ(ran.status, 3) << ran.out << ran.err;
  EXPECT_NE(ran.err.find("Waiting for erase\n"), std::string::npos) << ran.err;
  EXPECT_EQ(ran.out,
            "Upload stopped: the radio did not report its erase done in 2.0 s; the radio's "
            "firmware is incomplete; load it again.\n");
  EXPECT_EQ(LogLines().at(1)["reason"], "radio_silent");
  EXPECT_LT(time_.Now() - erase_started, 3.0) << "the limit, not the erase, ended the wait";
}

// The silence limit counts from each wait's start, not from the start of the upload: a whole
// upload, several times longer than the limit, retries nothing; one dropped reply is retried
// once and the upload completes, but the checksum cannot vouch for the resent word: status 6.
TEST_F(DirectCommandTest, ShortTimeoutRetriesOnlyASilentWordAndTheResentWordIsNamed) {
  StartRadio();
  const double started = time_.Now();
  Ran ran = Run({"--timeout", "2"});
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_GT(time_.Now() - started, 3 * 2.0) << "the upload is not longer than the limit";
  EXPECT_EQ(ran.err.find("retry"), std::string::npos) << ran.err;
  EXPECT_EQ(LogLines().at(0)["resent_words"], 0);

  sim::RadioConfig config;
  config.Add(sim::Fault::kDropReply, 100);
  StartRadio(config);
  ran = Run({"--timeout", "2"});
  EXPECT_EQ(ran.status, 6) << ran.out << ran.err;
  EXPECT_EQ(Count(ran.err, "-> retry"), 1u) << ran.err;
  EXPECT_NE(ran.err.find("word 99 (address 80C6): no reply in 2.0 s  -> retry 1 of 3\n"),
            std::string::npos)
      << ran.err;
  EXPECT_TRUE(
      ran.out.starts_with("Upload complete: radio 9123456 accepted the checksum, 33098 "
                          "words in "))
      << ran.out;
  EXPECT_TRUE(
      ran.out.ends_with(", but 1 resent word is not covered by the checksum (address "
                        "80C6): load it again to be sure.\n"))
      << ran.out;
  EXPECT_EQ(LogLines().at(1)["outcome"], "complete");
  EXPECT_EQ(LogLines().at(1)["resent_words"], 1);
}

// A radio whose access code is not the one built in: the built-in code is refused (the radio
// keeps silent and nothing is written), the supplied one opens it; the code shows in no output
// and no log line, which says only whether a code was supplied.
TEST_F(DirectCommandTest, SuppliedAccessCodeOpensARadioWithAnotherCode) {
  sim::RadioConfig config;
  config.access_code = {0xC3, 0x5A, 0x9E, 0x71};
  const auto code_shows = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* form : {"c3,5a", "c3, 5a", "0xc3", "c35a9e71", "195,90"}) {
      if (text.find(form) != std::string::npos) return true;
    }
    return false;
  };

  StartRadio(config);
  Ran ran = Run({"--timeout", "0.3"});
  EXPECT_EQ(ran.status, 3) << ran.out << ran.err;
  EXPECT_EQ(Heard().direct.access_code_faults, 1u);
  EXPECT_EQ(Heard().direct.word_attempts, 0u);
  EXPECT_EQ(LogLines().at(0)["reason"], "radio_silent");
  EXPECT_EQ(LogLines().at(0)["access_code"], "built_in");

  StartRadio(config);
  ran = Run({"--access-code", "0xC3,0x5A,0x9E,0x71"});
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_EQ(Heard().direct.access_code_faults, 0u);
  EXPECT_EQ(Heard().direct.verdicts_accepted, 1u);
  EXPECT_EQ(LogLines().at(1)["outcome"], "complete");
  EXPECT_EQ(LogLines().at(1)["access_code"], "supplied");
  EXPECT_FALSE(code_shows(ran.out + ran.err)) << ran.out << ran.err;

  std::ifstream in(log_);
  const std::string log_text(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_FALSE(code_shows(log_text)) << log_text;
}

// The menu's direct upload sends the code the front end was given, and logs only that it did.
class MenuAccessCodeTest : public MemoryUploadTest {};

TEST_F(MenuAccessCodeTest, MenuUploadSendsTheSuppliedCode) {
  const fs::path log = fs::path(::testing::TempDir()) / "tvx_menu_access_code.jsonl";
  fs::remove(log);
  app::UploadLog upload_log(log.string());
  sim::RadioConfig config = Radio();
  config.access_code = {0xC3, 0x5A, 0x9E, 0x71};
  StartRadio(config);
  console_.Feed(answers_);
  app::DefaultJobs(&upload_log, config.access_code).direct_upload(*ctx_);
  const auto snapshot = port_->SettledSnapshot();
  EXPECT_EQ(snapshot->counters.direct.access_code_faults, 0u);
  EXPECT_EQ(snapshot->counters.direct.verdicts_accepted, 1u);
  EXPECT_EQ(console_.RowTrimmed(32), "Upload complete: the radio accepted the checksum.");
  std::string line;
  std::getline(std::ifstream(log), line);
  const nlohmann::json entry = nlohmann::json::parse(line);
  EXPECT_EQ(entry["access_code"], "supplied");
  EXPECT_EQ(entry["port"], "Com1");  // the menu's port, with the device it stands for
  EXPECT_EQ(entry["device"], "mem:radio");
  EXPECT_EQ(line.find("c3"), std::string::npos) << line;
  EXPECT_EQ(line.find("C3"), std::string::npos) << line;
  fs::remove(log);
}

}  // namespace
}  // namespace tvx::testing
