// The program against a real serial server: ser2net on the loopback address in front of the
// simulated radio's pseudo-terminal, the program reaching it as rfc2217://127.0.0.1:PORT. A
// direct upload word for word with the rate switch taken, an RF pass, a set-up script, a server
// killed mid-transfer, two servers at once. Kept few and short: the radio answers at once and
// the image is small. Skipped, saying so, where ser2net is not installed.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "image/image_file.h"
#include "image/stored_image_builder.h"
#include "radio_sim/posix_pty_radio.h"
#include "support/ser2net_process.h"

namespace tvx::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::uint64_t kImageWords = 136;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class SerialServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Ser2netProcess::Program().empty()) {
      GTEST_SKIP() << "ser2net is not installed (Debian package ser2net; tools/ensure-deps.sh "
                      "installs it): the serial server tests are skipped";
    }
    dir_ = fs::path(::testing::TempDir()) / ("tvx_server_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    setenv("XDG_CONFIG_HOME", (dir_ / "no-config").c_str(), 1);
    image_ = dir_ / "small.img";
    // 17 full records: 136 words, the last at 0xFFFF.
    StoredImageBuilder small;
    small.Record(20, 15, 0x8000).RunToTop(0xFF00);
    ASSERT_EQ(image::WriteImageFile(image_.string(), small.Bytes()), "");
  }
  void TearDown() override {
    servers_.clear();
    for (auto& radio : radios_) radio->Stop();
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // A radio answering at once, and a server in front of it.
  std::pair<sim::PtyRadio*, Ser2netProcess*> Bench(sim::RadioConfig config = {}) {
    config.erase_seconds = 0;
    config.rate_switch_timeout = 5.0;
    config.handshake_timeout = 5.0;
    config.frame_timeout = 5.0;
    radios_.push_back(std::make_unique<sim::PtyRadio>(config));
    EXPECT_EQ(radios_.back()->Start(), "");
    servers_.push_back(std::make_unique<Ser2netProcess>(radios_.back()->DevicePath()));
    EXPECT_TRUE(servers_.back()->Up()) << "ser2net did not start listening";
    return {radios_.back().get(), servers_.back().get()};
  }

  // Runs the program; a hang is killed after a minute.
  int Run(const std::string& arguments) {
    const std::string command = "timeout -k 5 60 '" TVX_UPLOAD_PROGRAM "' " + arguments +
                                " </dev/null >'" + (dir_ / "out").string() + "' 2>'" +
                                (dir_ / "err").string() + "'";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  // Whether the radio took the program's verdict, which may reach it after the program ended.
  static bool Verdict(const sim::PtyRadio& radio) {
    return radio.WaitFor(
        [](const sim::RadioCounters& c) { return c.direct.verdicts_accepted == 1; }, 5s);
  }
  std::string Out() const { return Slurp(dir_ / "out"); }
  std::string Err() const { return Slurp(dir_ / "err"); }
  std::string Log() const { return (dir_ / "log.jsonl").string(); }
  nlohmann::json LastLogLine() const {
    std::ifstream in(Log());
    std::string line, last;
    while (std::getline(in, line)) last = line;
    return nlohmann::json::parse(last);
  }

  fs::path dir_;
  fs::path image_;
  std::vector<std::unique_ptr<sim::PtyRadio>> radios_;
  std::vector<std::unique_ptr<Ser2netProcess>> servers_;
};

TEST_F(SerialServerTest, DirectUploadAtHighSpeedWordForWord) {
  auto [radio, server] = Bench();
  const int status = Run("direct --port " + server->PortName() + " --log '" + Log() +
                         "' --high-speed --image '" + image_.string() + "'");
  ASSERT_EQ(status, 0) << Out() << Err() << "handshakes the radio refused: "
                       << radio->Counters().direct.handshakes_refused;
  EXPECT_TRUE(Verdict(*radio));
  const auto counters = radio->Counters().direct;
  EXPECT_EQ(counters.last_divisor, 4);  // 115200 bit/s after the switch
  EXPECT_EQ(counters.line_rate_faults, 0u);
  EXPECT_EQ(counters.line_setting_faults, 0u);
  EXPECT_EQ(counters.handshakes_refused, 0u);
  EXPECT_EQ(counters.words_checked_ok, kImageWords);
  EXPECT_EQ(counters.word_attempts, kImageWords);
  EXPECT_EQ(radio->Line().rate, 115200u);
}

TEST_F(SerialServerTest, RfPassAndSetupScript) {
  auto [rf_radio, rf_server] = Bench();
  int status =
      Run("rf --port " + rf_server->PortName() + " --copies 1 --start 4140 --log '" + Log() + "'");
  ASSERT_EQ(status, 0) << Out() << Err();
  EXPECT_EQ(LastLogLine()["outcome"], "complete");
  EXPECT_EQ(rf_radio->Counters().rf.line_rate_faults, 0u);

  sim::RadioConfig setup;
  setup.mode = sim::RadioMode::kSetup;
  setup.fast_setup = true;
  auto [setup_radio, setup_server] = Bench(setup);
  std::ofstream(dir_ / "rig.txt") << "send ?\\r\nexpect Serial Number (?<serial>\\d+)\n";
  status = Run("setup --port " + setup_server->PortName() + " --script '" +
               (dir_ / "rig.txt").string() + "' --json --log '" + Log() + "'");
  ASSERT_EQ(status, 0) << Out() << Err();
  EXPECT_NE(Out().find("\"serial\":\"9123456\""), std::string::npos) << Out();
}

TEST_F(SerialServerTest, ServerKilledMidTransferIsADeadLineWithItsWord) {
  auto [radio, server] = Bench();
  std::thread killer([&, radio = radio, server = server] {
    radio->WaitFor([](const sim::RadioCounters& c) { return c.direct.words_checked_ok >= 40; },
                   30s);
    server->Kill(SIGKILL);
  });
  const int status = Run("direct --port " + server->PortName() + " --log '" + Log() +
                         "' --image '" + image_.string() + "'");
  killer.join();
  EXPECT_EQ(status, 3) << Out() << Err();
  const nlohmann::json line = LastLogLine();
  EXPECT_EQ(line["reason"], "line_dead") << line;
  // The end of the stream, or the system's words when a read met the reset or a send the
  // closed connection first.
  EXPECT_TRUE(line["detail"] == "the server closed the connection" ||
              line["detail"] == "Connection reset by peer" || line["detail"] == "Broken pipe")
      << line;
  EXPECT_GE(line["word"].get<int>(), 39);  // the radio may have checked one the PC never heard
  EXPECT_LT(line["word"].get<int>(), static_cast<int>(kImageWords));
  EXPECT_NE(Out().find("the line died"), std::string::npos) << Out();
}

TEST_F(SerialServerTest, TwoServersAtOnceAndTheSamePortTwiceRefused) {
  auto [first_radio, first] = Bench();
  auto [second_radio, second] = Bench();
  int status = Run("direct --port " + first->PortName() + " --port " + second->PortName() +
                   " --log '" + Log() + "' --image '" + image_.string() + "'");
  ASSERT_EQ(status, 0) << Out() << Err();
  EXPECT_TRUE(Verdict(*first_radio));
  EXPECT_TRUE(Verdict(*second_radio));

  status =
      Run("direct --port " + first->PortName() + " --port rfc2217://127.0.0.1:0" +
          first->PortName().substr(first->PortName().rfind(':') + 1) + " --log '" + Log() + "'");
  EXPECT_EQ(status, 2) << Err();
  EXPECT_NE(Err().find("are the same device"), std::string::npos) << Err();
}

TEST_F(SerialServerTest, RefusedConnectionIsCode53WithTheSystemsWords) {
  const int status =
      Run("direct --port rfc2217://127.0.0.1:" + std::to_string(Ser2netProcess::FreePort()) +
          " --log '" + Log() + "'");
  EXPECT_EQ(status, 5);
  EXPECT_NE(Err().find("code 53, no such port (Connection refused)"), std::string::npos) << Err();
}

}  // namespace
}  // namespace tvx::testing
