// The sub-commands as a process sees them, against the simulated radio on a pseudo-terminal:
// closed standard descriptors, a reader that goes away, a FIFO as the log, a file size limit,
// the exit statuses and the log's appends from two processes. What the jobs decide and say is
// tested in the process (direct_command_test, rf_command_test); these runs are kept short.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli_platform.h"
#include "app/serial_devices.h"
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
    // The settings of whoever runs the tests stay out of the program's runs.
    setenv("XDG_CONFIG_HOME", (dir_ / "no-config").c_str(), 1);
    unsetenv("TORVANDRIX_ACCESS_CODE");
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
    EXPECT_EQ(c.rf.malformed_frames + c.rf.data_frames_bad, 0u) << what;
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
            "Upload stopped: the line died at word 40 (address 8050) (Input/output error); the "
            "radio's firmware is incomplete; load it again.\n");
  EXPECT_EQ(radio_->Counters().direct.words_checked_ok, 40u);
  EXPECT_EQ(LogLines(log_).at(0)["reason"], "line_dead");
  EXPECT_EQ(LogLines(log_).at(0)["detail"], "Input/output error");  // the system's words
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

// The words of the table's line for `device` ("-" for what is not known), empty when absent.
std::vector<std::string> PortsLine(const std::string& table, const std::string& device) {
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) fields.push_back(word);
    if (!fields.empty() && fields[0] == device) return fields;
  }
  return {};
}

nlohmann::json PortsEntry(const std::string& json, const std::string& device) {
  for (const nlohmann::json& entry : nlohmann::json::parse(json)) {
    if (entry["device"] == device) return entry;
  }
  return nullptr;
}

// A pseudo-terminal bound through a link: its line names the binding and the link, and the
// in-use mark follows a lock on the device that another process (the test) takes and gives up.
TEST_F(ScriptedCommandsTest, PortsListsALinkedPseudoTerminalAndWhetherItIsLocked) {
  StartRadio({});
  const fs::path link = dir_ / "radio";
  fs::create_symlink(radio_->DevicePath(), link);
  const std::string env = "TORVANDRIX_COM4='" + link.string() + "'";
  const std::string device = radio_->DevicePath();
  const std::vector<std::string> free_line{device, "Com4", link.string(),    "-",
                                           "-",    "no",   "pseudo-terminal"};

  Ran ran = Run("ports", env);
  ASSERT_EQ(ran.status, 0) << ran.err;
  EXPECT_TRUE(ran.out.starts_with("DEVICE ")) << ran.out;
  EXPECT_EQ(PortsLine(ran.out, device), free_line) << ran.out;
  ran = Run("ports --json", env);
  ASSERT_EQ(ran.status, 0) << ran.err;
  nlohmann::json entry = PortsEntry(ran.out, device);
  ASSERT_TRUE(entry.is_object()) << ran.out;
  EXPECT_EQ(entry["stable_name"], link.string());
  EXPECT_EQ(entry["com"], nlohmann::json::array({4}));
  EXPECT_EQ(entry["driver"], "pseudo-terminal");
  EXPECT_TRUE(entry["usb_id"].is_null());
  EXPECT_EQ(entry["in_use"], false);

  const int held = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  ran = Run("ports", env);
  std::vector<std::string> held_line = free_line;
  held_line[5] = "yes";
  EXPECT_EQ(PortsLine(ran.out, device), held_line) << ran.out;
  ran = Run("ports --json", env);
  EXPECT_EQ(PortsEntry(ran.out, device)["in_use"], true) << ran.out;

  flock(held, LOCK_UN);
  ran = Run("ports", env);
  EXPECT_EQ(PortsLine(ran.out, device), free_line) << ran.out;
  close(held);
}

// Neither --port nor TORVANDRIX_COM1, on a machine without a USB serial adapter: status 2, the
// reason and the list, and no upload (nothing logged).
TEST_F(ScriptedCommandsTest, ASubCommandWithoutAPortOrAnAdapterStopsWithTheList) {
  for (const app::SerialDevice& device : app::ListSerialDevices()) {
    if (app::IsUsbAdapter(device)) GTEST_SKIP() << "a USB serial adapter is plugged in";
  }
  StartRadio({});
  const std::string env = "env -u TORVANDRIX_COM1 TORVANDRIX_COM5='" + radio_->DevicePath() + "'";
  const Ran ran = Run("direct --log '" + log_.string() + "'", env);
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.out, "");
  const std::string reason =
      "torvandrix-upload: no --port given, and no USB serial adapter is present: name the "
      "device with --port, or bind Com1 with TORVANDRIX_COM1\n";
  ASSERT_TRUE(ran.err.starts_with(reason + "DEVICE ")) << ran.err;
  EXPECT_EQ(PortsLine(ran.err, radio_->DevicePath()).at(1), "Com5") << ran.err;
  EXPECT_FALSE(fs::exists(log_));
  EXPECT_EQ(radio_->Counters().direct.program_commands, 0u);
}

// The access code as the program takes it from its surroundings: the option, the variable and
// the default configuration file (under XDG_CONFIG_HOME), in that order, each time against a
// radio whose code is not the one built in. A radio whose serial number is refused answers the
// identity request only after a right code (status 4) and keeps silent after a wrong one
// (status 3), so the runs stay short. A bad code is refused before any port is opened, naming
// its place.
TEST_F(ScriptedCommandsTest, AccessCodeFromTheOptionTheVariableAndTheFile) {
  const fs::path config_home = dir_ / "config";
  fs::create_directories(config_home / "torvandrix-upload");
  const fs::path file = config_home / "torvandrix-upload" / "config";
  const std::string home = "XDG_CONFIG_HOME='" + config_home.string() + "' ";
  sim::RadioConfig config;
  config.serial = 9109999;
  config.access_code = {0x4E, 0x61, 0x07, 0xD2};
  const std::string right = "0x4E,0x61,0x07,0xD2";
  const std::string wrong = "0x4E,0x61,0x07,0xD3";
  struct Case {
    std::string option, variable, file;
    int status;
  };
  const std::vector<Case> cases = {
      {"", "", "", 3},       {right, "", "", 4},    {"", right, "", 4},       {"", "", right, 4},
      {right, wrong, "", 4}, {"", right, wrong, 4}, {wrong, right, right, 3}, {"", wrong, right, 3},
  };
  for (const Case& c : cases) {
    const std::string what = "option " + c.option + ", variable " + c.variable + ", file " + c.file;
    std::ofstream(file) << (c.file.empty() ? "" : "access-code = \"" + c.file + "\"\n");
    StartRadio(config);
    const std::string env =
        home + (c.variable.empty() ? "" : "TORVANDRIX_ACCESS_CODE=" + c.variable + " ");
    const Ran ran =
        Run(Direct("--timeout 0.3" + (c.option.empty() ? "" : " --access-code " + c.option)), env);
    EXPECT_EQ(ran.status, c.status) << what << "\n" << ran.out << ran.err;
    EXPECT_EQ(radio_->Counters().direct.access_code_faults, c.status == 4 ? 0u : 1u) << what;
    EXPECT_EQ(LogLines(log_).back()["access_code"],
              c.option + c.variable + c.file == "" ? "built_in" : "supplied")
        << what;
    EXPECT_EQ((ran.out + ran.err + Slurp(log_)).find("4E,0x61"), std::string::npos) << what;
  }

  const std::string form =
      " takes four bytes in hexadecimal separated by commas, e.g. 0x12,0x34,0x56,0x78\n";
  StartRadio(config);
  std::ofstream(file) << "access-code = \"0x4E,0x61,0x07\"\n";
  Ran ran = Run(Direct(), home);
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err, "torvandrix-upload: the configuration file " + file.string() +
                         ": access-code" + form + "see 'torvandrix-upload --help'\n");
  // The menu form says so before it needs a terminal.
  ran = Run("--access-code 1,2", home);
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err,
            "torvandrix-upload: --access-code" + form + "see 'torvandrix-upload --help'\n");
  EXPECT_EQ(radio_->Counters().bytes_received, 0u) << "a refused code reached the radio";
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
