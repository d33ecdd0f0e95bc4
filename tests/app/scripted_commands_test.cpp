// The sub-commands as a process sees them, against the simulated radio on a pseudo-terminal:
// closed standard descriptors, a reader that goes away, a FIFO as the log, a file size limit,
// the exit statuses and the log's appends from two processes. What the jobs decide and say is
// tested in the process (direct_command_test, rf_command_test); these runs are kept short.
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

  std::string Out() const { return (dir_ / "out").string(); }
  std::string Err() const { return (dir_ / "err").string(); }

  std::string Direct(const std::string& more = "") {
    return "direct --port '" + radio_->DevicePath() + "' --log '" + log_.string() + "' " + more;
  }
  std::string ShortRf(const std::string& more = "") {
    return "rf --port '" + radio_->DevicePath() + "' --copies 1 --start 4140 --log '" +
           log_.string() + "' " + more;
  }

  int limit_seconds_ = 120;
  fs::path dir_;
  fs::path log_;
  std::unique_ptr<sim::PtyRadio> radio_;
};

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

// With a standard descriptor closed the port must not be opened in its place: the program's
// text would go to the radio. The radio hears only the protocol: a refused radio the handshake
// and the identity request (the notes are written while the port is open), a short broadcast
// its frames.
TEST_F(ScriptedCommandsTest, ClosedStandardDescriptorsNeverReachTheRadio) {
  const auto expect_clean = [this](const Ran& ran, int status, const std::string& what) {
    EXPECT_EQ(ran.status, status) << what << ran.err;
    const sim::RadioCounters c = radio_->Counters();
    EXPECT_EQ(c.stray_bytes, 0u) << what;
    EXPECT_EQ(c.direct.stray_bytes, 0u) << what;
    EXPECT_EQ(c.setup.bytes_received, 0u) << what;
    EXPECT_EQ(c.rf.stray_bytes + c.rf.malformed_frames + c.rf.data_frames_bad, 0u) << what;
  };
  sim::RadioConfig refused;
  refused.serial = 9109999;
  StartRadio(refused);
  Ran ran = Run(Direct(), "", ">&- 2>'" + Err() + "'");
  expect_clean(ran, 4, "direct >&-");
  EXPECT_EQ(LogLines(log_).back()["reason"], "serial_out_of_range");
  // A log that is a folder: its failure goes to standard error, which is closed.
  StartRadio(refused);
  ran = Run("direct --port '" + radio_->DevicePath() + "' --log '" + dir_.string() + "'", "",
            ">'" + Out() + "' 2>&-");
  expect_clean(ran, 4, "direct 2>&-");
  EXPECT_TRUE(ran.out.starts_with("Radio refused: serial number 9109999 ")) << ran.out;

  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  StartRadio(config);
  ran = Run(ShortRf(), "", ">&- 2>&-");
  expect_clean(ran, 0, "rf >&- 2>&-");
  EXPECT_EQ(radio_->Counters().rf.data_frames_good, 4u);
  EXPECT_EQ(LogLines(log_).back()["outcome"], "complete");
}

// A reader of the notes that goes away after the first line: later writes fail, the upload goes
// on to its end. The erase takes half a second, so the notes of the transfer and of the line dying
// under it come well after the reader has gone.
TEST_F(ScriptedCommandsTest, ClosedPipeOnStandardErrorDoesNotStopTheUpload) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kHangUp, 40);
  StartRadio(config, 0.5);
  const std::string status = (dir_ / "status").string();
  const std::string command = "{ timeout -k 5 120 '" TVX_UPLOAD_PROGRAM "' " + Direct() +
                              " </dev/null 2>&1 >'" + Err() + "'; echo $? >'" + status +
                              "'; } | head -1 >'" + Out() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(Slurp(status), "3\n") << Slurp(Err());
  EXPECT_EQ(Slurp(Out()), "Opened " + radio_->DevicePath() + ".\n");
  EXPECT_EQ(Slurp(Err()),
            "Upload stopped: the line died at word 40 (address 8050); the radio's firmware is "
            "incomplete; load it again.\n");
  EXPECT_EQ(radio_->Counters().direct.words_checked_ok, 40u);
  EXPECT_EQ(LogLines(log_).at(0)["reason"], "line_dead");
}

// A FIFO nobody reads would hold an open for writing for ever; a log in its place is skipped
// with one warning.
TEST_F(ScriptedCommandsTest, FifoAsTheLogIsSkippedWithOneWarning) {
  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  StartRadio(config);
  limit_seconds_ = 60;
  const Ran ran = Run("rf --quiet --copies 1 --start 4140 --port '" + radio_->DevicePath() +
                      "' --log '" + fifo.string() + "'");
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
  EXPECT_EQ(radio_->Counters().rf.data_frames_good, 4u);
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
