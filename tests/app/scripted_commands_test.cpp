// The sub-commands as a user runs them: the program as a process against the simulated radio on
// a pseudo-terminal, judged by its exit status, its output and its log line.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/cli_platform.h"
#include "app/upload_log.h"
#include "radio_sim/posix_pty_radio.h"

namespace tvx::testing {
namespace {

namespace fs = std::filesystem;

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<nlohmann::json> LogLines(const fs::path& path) {
  std::vector<nlohmann::json> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

class ScriptedCommandsTest : public ::testing::Test {
 protected:
  ScriptedCommandsTest() {
    dir_ = fs::path(::testing::TempDir()) / ("tvx_cli_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    log_ = dir_ / "uploads.jsonl";
  }
  ~ScriptedCommandsTest() override {
    if (radio_) radio_->Stop();
    fs::remove_all(dir_);
  }

  // The erase is instant unless `erase_seconds` says otherwise.
  void StartRadio(sim::RadioConfig config, double erase_seconds = 0.0) {
    config.erase_seconds = erase_seconds;
    // The radio's own limits on how slow the PC may be (rate switch, handshake gaps, bytes of
    // a frame) are met by the program, but a loaded machine can hold either side up past them.
    config.rate_switch_timeout = 5.0;
    config.handshake_timeout = 5.0;
    config.frame_timeout = 5.0;
    radio_ = std::make_unique<sim::PtyRadio>(config);
    ASSERT_EQ(radio_->Start(), "");
  }

  // Runs the program with `arguments` (a shell word list) and the environment in `env`. A
  // program still running after `limit_seconds_` is killed (status 124 or 137): a hang fails
  // the test instead of holding it.
  // `redirect` replaces the usual standard output ("> out") and error ("2> err").
  Ran Run(const std::string& arguments, const std::string& env = "", std::string redirect = "") {
    if (redirect.empty()) redirect = ">'" + Out() + "' 2>'" + Err() + "'";
    const std::string command = env + " timeout -k 5 " + std::to_string(limit_seconds_) + " '" +
                                TVX_UPLOAD_PROGRAM "' " + arguments + " </dev/null " + redirect;
    const int raw = std::system(command.c_str());
    Ran ran;
    ran.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    ran.out = Slurp(Out());
    ran.err = Slurp(Err());
    return ran;
  }

  // Whether the radio heard its checksum accepted; the program may exit before the radio
  // has taken the last byte in.
  bool VerdictAccepted() const {
    return radio_->WaitFor(
        [](const sim::RadioCounters& c) { return c.direct.verdicts_accepted > 0; },
        std::chrono::seconds(10));
  }

  std::string Out() const { return (dir_ / "out").string(); }
  std::string Err() const { return (dir_ / "err").string(); }

  std::string Direct(const std::string& more = "") {
    return "direct --port '" + radio_->DevicePath() + "' --log '" + log_.string() + "' " + more;
  }
  std::string ShortRf(const std::string& more = "") {
    return "rf --port '" + radio_->DevicePath() + "' --copies 2 --start 4130 --log '" +
           log_.string() + "' " + more;
  }

  int limit_seconds_ = 120;
  fs::path dir_;
  fs::path log_;
  std::unique_ptr<sim::PtyRadio> radio_;
};

// Standard output holds the outcome line and nothing else; the notes go to standard error.
TEST_F(ScriptedCommandsTest, CompleteDirectUploadExitsZeroWithOneLogLine) {
  StartRadio({});
  const Ran ran = Run(Direct());
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_TRUE(
      ran.out.starts_with("Upload complete: radio 9123456 accepted the checksum, 33097 words in "))
      << ran.out;
  EXPECT_EQ(Count(ran.out, "\n"), 1u) << ran.out;
  EXPECT_TRUE(ran.err.starts_with("Opened " + radio_->DevicePath() + ".\nHandshake\n")) << ran.err;
  EXPECT_NE(ran.err.find("Radio Serial Number is 9123456\n"), std::string::npos) << ran.err;
  EXPECT_EQ(ran.err.find('\x1b'), std::string::npos) << "escape sequence in plain output";
  EXPECT_EQ(ran.err.find('\r'), std::string::npos) << "progress bar in plain output";
  const std::vector<nlohmann::json> lines = LogLines(log_);
  ASSERT_EQ(lines.size(), 1u);
  const nlohmann::json& line = lines[0];
  EXPECT_EQ(line["job"], "direct");
  // Only the menu names a port "ComN"; a sub-command names the device it was given.
  EXPECT_EQ(line["port"], radio_->DevicePath());
  EXPECT_EQ(line["device"], radio_->DevicePath());
  EXPECT_EQ(line["serial_number"], 9123456);
  EXPECT_EQ(line["image"]["records"], 4144);
  EXPECT_EQ(line["outcome"], "complete");
  EXPECT_FALSE(line.contains("reason"));
  EXPECT_EQ(line["resent_words"], 0);
  EXPECT_GT(line["seconds"].get<double>(), 0.0);
  EXPECT_TRUE(line["time"].get<std::string>().ends_with("Z"));
}

// --json: standard output is the log line's record and nothing else; --quiet: standard error
// stays empty through a healthy upload.
TEST_F(ScriptedCommandsTest, JsonAndQuietLeaveTheRecordAlone) {
  StartRadio({});
  const Ran ran = Run(Direct("--json --quiet"));
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_EQ(ran.err, "");
  nlohmann::json record = nlohmann::json::parse(ran.out);
  nlohmann::json logged = LogLines(log_).at(0);
  EXPECT_EQ(record["outcome"], "complete");
  EXPECT_EQ(record["serial_number"], 9123456);
  record.erase("time");
  logged.erase("time");
  EXPECT_EQ(record, logged);
}

TEST_F(ScriptedCommandsTest, ChecksumErrorExitsOneAfterTheWholeReadBack) {
  sim::RadioConfig config;
  config.corrupt_store_word = 3;
  StartRadio(config);
  const Ran ran = Run(Direct());
  EXPECT_EQ(ran.status, 1) << ran.out << ran.err;
  EXPECT_NE(ran.err.find("CHECK SUM ERROR!!! "), std::string::npos) << ran.err;
  EXPECT_NE(ran.err.find("\nRead-back\n"), std::string::npos) << ran.err;
  // Word 3 of the image (index 2), at 0x8004, came back with bit 0 of its second byte flipped.
  EXPECT_NE(ran.err.find("Read-back word 2 (address 8004): sent "), std::string::npos) << ran.err;
  EXPECT_EQ(ran.out,
            "Upload failed: checksum error from radio 9123456. Upload again before using the "
            "radio. The read-back found 1 of 33097 words stored wrongly.\n");
  EXPECT_EQ(radio_->Counters().direct.readback_words, 33097u);
  const std::vector<nlohmann::json> lines = LogLines(log_);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["outcome"], "checksum_error");
  EXPECT_EQ(lines[0]["reason"], "checksum_mismatch");
}

TEST_F(ScriptedCommandsTest, DeadLineExitsThree) {
  sim::RadioConfig config;
  config.hangup_after_word = 40;
  StartRadio(config);
  const Ran ran = Run(Direct());
  EXPECT_EQ(ran.status, 3) << ran.out << ran.err;
  // The radio answered 40 words; the next one (index 40, at 0x8050) met the dead line.
  EXPECT_EQ(ran.out,
            "Upload stopped: the line died at word 40 (address 8050); the radio's firmware is "
            "incomplete; load it again.\n");
  const std::vector<nlohmann::json> lines = LogLines(log_);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["outcome"], "stopped");
  EXPECT_EQ(lines[0]["reason"], "line_dead");
  EXPECT_EQ(lines[0]["word"], 40);
}

TEST_F(ScriptedCommandsTest, RefusedRadioExitsFour) {
  sim::RadioConfig config;
  config.serial = 9109999;
  StartRadio(config);
  const Ran ran = Run(Direct());
  EXPECT_EQ(ran.status, 4) << ran.out << ran.err;
  EXPECT_EQ(ran.out,
            "Radio refused: serial number 9109999 is outside 9110000 to 9280000: not a Torvandrix "
            "radio; nothing was written to the radio.\n");
  EXPECT_EQ(LogLines(log_).at(0)["serial_number"], 9109999);
  EXPECT_EQ(LogLines(log_).at(0)["reason"], "serial_out_of_range");
}

TEST_F(ScriptedCommandsTest, MissingPortExitsFiveAndBadOptionTwo) {
  const std::string missing = (dir_ / "no-such-device").string();
  Ran ran = Run("direct --port '" + missing + "' --log '" + log_.string() + "'");
  EXPECT_EQ(ran.status, 5) << ran.out << ran.err;
  // The status line's code, what it means, the system's own words, what to do.
  EXPECT_EQ(ran.err, "Cannot open " + missing +
                         ": code 53, no such port (No such file or directory). 'torvandrix-upload "
                         "ports' lists the serial devices.\n");
  EXPECT_EQ(ran.out, "The port " + missing + " could not be opened: code 53, no such port.\n");
  EXPECT_EQ(LogLines(log_).at(0)["outcome"], "port_not_opened");
  EXPECT_EQ(LogLines(log_).at(0)["reason"], "port_not_opened");

  ran = Run("direct --retries many");
  EXPECT_EQ(ran.status, 2);
  EXPECT_TRUE(ran.out.empty());
  EXPECT_NE(ran.err.find("\nsee 'torvandrix-upload direct --help'\n"), std::string::npos)
      << ran.err;
}

TEST_F(ScriptedCommandsTest, RfPassWithEchoFaultsExitsZeroAndCountsThem) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  config.rf_corrupt_echo_frame = 2;
  StartRadio(config);
  const Ran ran = Run(ShortRf());
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_NE(ran.out.find("Broadcast complete: 1 pass, 14 frames, 1 echo mismatch."),
            std::string::npos)
      << ran.out;
  const std::vector<nlohmann::json> lines = LogLines(log_);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["job"], "rf");
  EXPECT_EQ(lines[0]["outcome"], "complete");
  EXPECT_EQ(lines[0]["echo_mismatches"], 1);
}

// A radio that never answers: the identity wait ends at the limit, nothing having been written;
// an erase that never ends ends the same way, the firmware gone.
TEST_F(ScriptedCommandsTest, SilentRadioEndsTheIdentityAndEraseWaitsWithStatusThree) {
  sim::RadioConfig config;
  config.silent = true;
  StartRadio(config);
  Ran ran = Run(Direct("--timeout 0.3"));
  EXPECT_EQ(ran.status, 3) << ran.out << ran.err;
  EXPECT_EQ(ran.out,
            "Upload stopped: the radio did not answer the identity request in 0.3 s; nothing was "
            "written to it. Check the cable, that the radio is in set-up mode, and that it takes "
            "this program's access code.\n");
  EXPECT_EQ(LogLines(log_).at(0)["outcome"], "stopped");
  EXPECT_EQ(LogLines(log_).at(0)["reason"], "radio_silent");

  // An erase that never ends; the limit leaves a loaded machine time for the identity reply.
  StartRadio({}, 1.0e6);
  ran = Run(Direct("--timeout 2"));
  EXPECT_EQ(ran.status, 3) << ran.out << ran.err;
  EXPECT_NE(ran.err.find("Waiting for erase\n"), std::string::npos) << ran.err;
  EXPECT_EQ(ran.out,
            "Upload stopped: the radio did not report its erase done in 2.0 s; the radio's "
            "firmware is incomplete; load it again.\n");
  EXPECT_EQ(LogLines(log_).at(1)["reason"], "radio_silent");
}

// A radio that stops answering mid-transfer, the line up: each silence sends the word again,
// the retries are spent, the job stops and says where.
TEST_F(ScriptedCommandsTest, RadioMuteMidTransferStopsAfterTheRetries) {
  sim::RadioConfig config;
  config.mute_after_word = 40;
  StartRadio(config);
  const Ran ran = Run(Direct("--timeout 2 --retries 2"));
  EXPECT_EQ(ran.status, 3) << ran.out << ran.err;
  EXPECT_NE(ran.err.find("word 40 (address 8050): no echo in 2.0 s  -> retry 1 of 2\n"
                         "word 40 (address 8050): no echo in 2.0 s  -> retry 2 of 2\n"
                         "word 40 (address 8050): no echo in 2.0 s  -> no retries left: "
                         "stopping\n"),
            std::string::npos)
      << ran.err;
  EXPECT_EQ(ran.out,
            "Upload stopped before the end (retries spent): word 40 (address 8050) went out 3 "
            "times, the last stopped at \"no echo of the address\"; the radio's firmware is "
            "incomplete; load it again.\n");
  EXPECT_EQ(LogLines(log_).at(0)["outcome"], "stopped");
  EXPECT_EQ(LogLines(log_).at(0)["reason"], "retries_spent");
  EXPECT_EQ(LogLines(log_).at(0)["word"], 40);
}

// The silence limit counts from each wait's start, not from the start of the upload: a whole
// upload, several times longer than the limit, retries nothing; one dropped reply is retried
// once and the upload completes, but the checksum cannot vouch for the resent word: status 6.
TEST_F(ScriptedCommandsTest, ShortTimeoutRetriesOnlyASilentWordAndTheResentWordIsNamed) {
  StartRadio({});
  Ran ran = Run(Direct("--timeout 2"));
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_EQ(ran.err.find("retry"), std::string::npos) << ran.err;
  EXPECT_EQ(LogLines(log_).at(0)["resent_words"], 0);

  sim::RadioConfig config;
  config.drop_reply_word = 100;
  StartRadio(config);
  ran = Run(Direct("--timeout 2"));
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
  EXPECT_EQ(LogLines(log_).at(1)["outcome"], "complete");
  EXPECT_EQ(LogLines(log_).at(1)["resent_words"], 1);
}

// An RF broadcast sends each frame until its echo comes back: a silent local radio would keep
// it sending for ever. The limit stops it after the first copy's window, and the user learns
// where, why, and how to go on.
TEST_F(ScriptedCommandsTest, SilentRfRadioStopsTheBroadcast) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  config.silent = true;
  StartRadio(config);
  const Ran ran = Run("rf --port '" + radio_->DevicePath() + "' --copies 2 --start 4130 " +
                      "--timeout 0.3 --log '" + log_.string() + "'");
  EXPECT_EQ(ran.status, 3) << ran.out << ran.err;
  EXPECT_EQ(ran.out, "Broadcast stopped at record 4130: the local radio was silent for 0.5 s.\n");
  EXPECT_NE(ran.err.find("Opened " + radio_->DevicePath() + ".\nPass 1 of 1\n"), std::string::npos)
      << ran.err;
  EXPECT_NE(ran.err.find("The local radio sent nothing back for 0.5 s at record 4130: check that "
                         "it is on, that the cable is in and that the port is its diagnostic port. "
                         "To go on from there: torvandrix-upload rf --port " +
                         radio_->DevicePath() + " --copies 2 --start 4130 --passes 1\n"),
            std::string::npos)
      << ran.err;
  const nlohmann::json line = LogLines(log_).at(0);
  EXPECT_EQ(line["outcome"], "stopped");
  EXPECT_EQ(line["reason"], "radio_silent");
  EXPECT_EQ(line["record"], 4130);
}

// With a standard descriptor closed the port must not be opened in its place: the program's
// text would go to the radio. The radio hears only the protocol, and the upload completes.
TEST_F(ScriptedCommandsTest, ClosedStandardDescriptorsNeverReachTheRadio) {
  const auto expect_clean = [this](const Ran& ran, const std::string& what) {
    EXPECT_EQ(ran.status, 0) << what << ran.err;
    const sim::RadioCounters c = radio_->Counters();
    EXPECT_EQ(c.stray_bytes, 0u) << what;
    EXPECT_EQ(c.direct.stray_bytes, 0u) << what;
    EXPECT_EQ(c.setup.bytes_received, 0u) << what;  // after the verdict the radio is in set-up
    EXPECT_EQ(c.rf.stray_bytes + c.rf.malformed_frames + c.rf.data_frames_bad, 0u) << what;
  };
  StartRadio({});
  Ran ran = Run(Direct(), "", ">&- 2>'" + Err() + "'");
  EXPECT_TRUE(VerdictAccepted());
  expect_clean(ran, "direct >&-");
  // A log that is a folder: its failure goes to standard error, which is closed.
  StartRadio({});
  ran = Run("direct --port '" + radio_->DevicePath() + "' --log '" + dir_.string() + "'", "",
            ">'" + Out() + "' 2>&-");
  EXPECT_TRUE(VerdictAccepted());
  expect_clean(ran, "direct 2>&-");

  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  StartRadio(config);
  ran = Run(ShortRf(), "", ">&- 2>&-");
  expect_clean(ran, "rf >&- 2>&-");
  EXPECT_EQ(radio_->Counters().rf.data_frames_good, 28u);
  EXPECT_EQ(LogLines(log_).back()["outcome"], "complete");
}

// A reader of the notes that goes away after the first line: later writes fail, the upload goes
// on.
TEST_F(ScriptedCommandsTest, ClosedPipeOnStandardErrorDoesNotStopTheUpload) {
  StartRadio({});
  const std::string status = (dir_ / "status").string();
  const std::string command = "{ timeout -k 5 120 '" TVX_UPLOAD_PROGRAM "' " + Direct() +
                              " </dev/null 2>&1 >'" + Err() + "'; echo $? >'" + status +
                              "'; } | head -1 >'" + Out() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(Slurp(status), "0\n") << Slurp(Err());
  EXPECT_EQ(Slurp(Out()), "Opened " + radio_->DevicePath() + ".\n");
  EXPECT_TRUE(Slurp(Err()).starts_with("Upload complete: ")) << Slurp(Err());
  EXPECT_TRUE(VerdictAccepted());
  EXPECT_EQ(radio_->Counters().direct.words_checked_ok, 33097u);
  EXPECT_EQ(LogLines(log_).at(0)["outcome"], "complete");
}

// A FIFO nobody reads would hold an open for writing for ever; a log in its place is skipped
// with one warning.
TEST_F(ScriptedCommandsTest, FifoAsTheLogIsSkippedWithOneWarning) {
  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  StartRadio({});
  limit_seconds_ = 60;  // a whole upload takes seconds
  const Ran ran =
      Run("direct --quiet --port '" + radio_->DevicePath() + "' --log '" + fifo.string() + "'");
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_EQ(ran.err, "torvandrix-upload: the upload log " + fifo.string() +
                         " cannot be written: it is not a regular file\n");
}

// Under a file size limit that the output and the log are already past, their writes fail
// (without the signal that would end the program) and the upload's status stands.
TEST_F(ScriptedCommandsTest, FileSizeLimitFailsTheWritesNotTheUpload) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  StartRadio(config);
  const std::string full_line = R"({"job":"direct","outcome":"complete"})"
                                "\n";
  std::string log_text;
  while (log_text.size() < 4096) log_text += full_line;
  std::ofstream(log_) << log_text;
  std::ofstream(Out()) << std::string(4096, '.');
  // At most 2048 bytes, whether the shell counts the limit in 512- or 1024-byte blocks.
  // Quiet: standard error holds only the failure.
  const Ran ran = Run(ShortRf("--quiet"), "ulimit -f 2;", ">>'" + Out() + "' 2>'" + Err() + "'");
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(radio_->Counters().rf.data_frames_good, 28u);
  EXPECT_EQ(ran.err, "torvandrix-upload: the upload log " + log_.string() +
                         " cannot be written: File too large\n");
  EXPECT_EQ(Slurp(log_), log_text);
}

TEST_F(ScriptedCommandsTest, PortsListsALinkToAPseudoTerminal) {
  StartRadio({});
  const fs::path link = dir_ / "radio";
  fs::create_symlink(radio_->DevicePath(), link);
  const Ran ran = Run("ports", "TORVANDRIX_COM4='" + link.string() + "'");
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_NE(ran.out.find(radio_->DevicePath() + "  Com4=" + link.string() + "  pseudo-terminal\n"),
            std::string::npos)
      << ran.out;
}

// Two programs logging at once: whole lines, each written once, never mixed.
TEST(UploadLogTest, TwoProcessesAppendingAtOnceWriteWholeLines) {
  const std::string path = ::testing::TempDir() + "tvx_two_writers.jsonl";
  std::remove(path.c_str());
  constexpr int kLinesEach = 300;
  std::vector<pid_t> children;
  for (int writer = 0; writer < 2; ++writer) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      app::LogEntry entry;
      entry.job = "direct";
      entry.device = std::string(3000, writer == 0 ? 'a' : 'b');  // lines longer than a pipe
      for (int i = 0; i < kLinesEach; ++i) {
        entry.seconds = i;
        const std::string line = app::FormatLogLine(entry, std::chrono::system_clock::now());
        if (!app::AppendLine(path, line, false).empty()) _exit(1);
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::ifstream in(path);
  int count = 0;
  for (std::string line; std::getline(in, line); ++count) {
    const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << "line " << count << " does not parse";
  }
  EXPECT_EQ(count, 2 * kLinesEach);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace tvx::testing
