// The simulated radio over a real pseudo-terminal, and the program around it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "direct/protocol.h"
#include "job/line.h"
#include "radio_sim/posix_pty_radio.h"
#include "serial/posix_serial_port.h"

namespace tvx::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

/// The PC's end: the slave device opened like a serial port.
class PortEnd {
 public:
  explicit PortEnd(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {}
  ~PortEnd() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool IsOpen() const { return fd_ >= 0; }

  /// Raw 8N1 without flow control at `speed`.
  void SetLine(speed_t speed) {
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd_, TCSANOW, &t);
  }
  void Write(const Bytes& bytes) {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  /// Up to `count` bytes, waiting at most `timeout_ms` for each.
  Bytes Read(std::size_t count, int timeout_ms = 2000) {
    Bytes got;
    std::uint8_t buffer[256];
    while (got.size() < count) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeout_ms) <= 0 || (p.revents & POLLIN) == 0) break;
      const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }
  /// The handshake up to the challenge at 19200 bit/s with the radio's pauses; returns once the
  /// radio heard it. Before each pause the radio has read what came before it, so a loaded
  /// machine cannot shorten a pause as the radio measures it.
  void Handshake(const sim::PtyRadio& radio, std::uint16_t challenge, speed_t speed = B19200,
                 int pause_after_command_ms = 300) {
    SetLine(speed);
    std::uint64_t sent = radio.Counters().bytes_received;
    auto send = [&](std::uint8_t b, int pause_ms) {
      Write({b});
      ++sent;
      EXPECT_TRUE(
          radio.WaitFor([&](const sim::RadioCounters& c) { return c.bytes_received >= sent; }, 2s));
      std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    };
    send(direct::kProgramCommand, pause_after_command_ms);
    for (std::uint8_t b : direct::kAccessCode) send(b, 10);
    send(direct::kHighSpeedDivisor, 10);
    send(direct::HighByte(challenge), 10);
    send(direct::LowByte(challenge), 0);
  }

 private:
  int fd_;
};

sim::RadioConfig Quick() {
  sim::RadioConfig c;
  c.erase_seconds = 0;
  return c;
}

// For tests not about the radio's limits on a slow PC: a loaded machine may hold this side up.
sim::RadioConfig Patient() {
  sim::RadioConfig c = Quick();
  c.rate_switch_timeout = 5.0;
  c.handshake_timeout = 5.0;
  return c;
}

TEST(PtyRadioTest, HandshakeAndWordOverARealPty) {
  sim::PtyRadio radio(Patient());
  ASSERT_EQ(radio.Start(), "");
  PortEnd pc(radio.DevicePath());
  ASSERT_TRUE(pc.IsOpen());
  pc.Handshake(radio, 0x1234);
  pc.SetLine(B115200);
  EXPECT_EQ(pc.Read(4), (Bytes{0xFF, 0x12, 0xE8, 0xC3}));
  pc.Write({direct::kStartErase});
  EXPECT_EQ(pc.Read(1), Bytes{direct::kEraseDone});
  pc.Write({0x01, 0x80, 0x10});
  EXPECT_EQ(pc.Read(2), (Bytes{0x80, 0x10}));
  pc.Write({0x12, 0x14, 0xCF});
  EXPECT_EQ(pc.Read(1), Bytes{0x94});

  const auto snapshot = radio.Snapshot();
  EXPECT_EQ(snapshot->memory.space[1][0x8010], 0x12);
  EXPECT_EQ(snapshot->counters.direct.words_checked_ok, 1u);
  EXPECT_EQ(snapshot->counters.direct.line_rate_faults, 0u);
  EXPECT_EQ(snapshot->counters.direct.line_setting_faults, 0u);
  EXPECT_EQ(radio.Line().rate, 115200u);
}

// The radio reads the rate of each byte from the pty as the PC set it: a handshake at another
// rate, or one that cuts the pause after "4" short, meets silence.
TEST(PtyRadioTest, HandshakeAtAnotherRateOrWithoutItsPauseMeetsSilence) {
  struct Case {
    const char* name;
    speed_t speed;
    int pause_ms;
    bool rate_fault;
  };
  for (const Case c : {Case{"115200", B115200, 300, true}, Case{"no pause", B19200, 0, false}}) {
    SCOPED_TRACE(c.name);
    sim::PtyRadio radio(Quick());
    ASSERT_EQ(radio.Start(), "");
    PortEnd pc(radio.DevicePath());
    pc.Handshake(radio, 0x1234, c.speed, c.pause_ms);
    pc.SetLine(B115200);
    EXPECT_TRUE(pc.Read(1, 300).empty());
    const sim::DirectCounters counters = radio.Counters().direct;
    EXPECT_EQ(counters.handshakes_refused, 1u);
    EXPECT_EQ(counters.line_rate_faults, c.rate_fault ? 1u : 0u);
    EXPECT_EQ(counters.pause_faults, c.rate_fault ? 0u : 1u);
    EXPECT_EQ(counters.identities_sent, 0u);
  }
}

TEST(PtyRadioTest, PcThatKeepsItsRateGetsGarbageAndALineRateFault) {
  sim::RadioConfig c = Quick();
  c.rate_switch_timeout = 0.1;
  sim::PtyRadio radio(c);
  ASSERT_EQ(radio.Start(), "");
  PortEnd pc(radio.DevicePath());
  pc.Handshake(radio, 0x1234);
  EXPECT_EQ(pc.Read(4), (Bytes{0, 0, 0, 0}));
  EXPECT_TRUE(radio.WaitFor([](const auto& k) { return k.direct.line_rate_faults == 1; }, 2s));
}

TEST(PtyRadioTest, HangUpClosesTheLineAfterTheWordIsAnswered) {
  sim::RadioConfig c = Patient();
  c.Add(sim::Fault::kHangUp, 1);
  sim::PtyRadio radio(c);
  ASSERT_EQ(radio.Start(), "");
  PortEnd pc(radio.DevicePath());
  pc.Handshake(radio, 0x0001);
  pc.SetLine(B115200);
  pc.Read(4);
  pc.Write({direct::kStartErase});
  pc.Read(1);
  pc.Write({0x00, 0x80, 0x00});
  pc.Read(2);
  const direct::DataFrame f = direct::MakeDataFrame(0x8000, 1, 2);
  pc.Write({f.d0, f.d1, f.check});
  EXPECT_EQ(pc.Read(1), Bytes{f.expected_reply});  // the answer still arrives
  EXPECT_TRUE(radio.WaitForHangUp(2s));
  EXPECT_TRUE(pc.Read(1, 200).empty());
}

TEST(PtyRadioTest, SetupTextComesAtTheLineRate) {
  sim::PtyRadio radio(Quick());
  ASSERT_EQ(radio.Start(), "");
  PortEnd pc(radio.DevicePath());
  pc.SetLine(B4800);
  const auto start = std::chrono::steady_clock::now();
  pc.Write({'?', '\r'});
  const Bytes menu = pc.Read(190);
  ASSERT_EQ(menu.size(), 190u);
  // 190 characters of 10 bits at 4800 bit/s take about 0.4 s.
  EXPECT_GT(std::chrono::steady_clock::now() - start, 300ms);
}

// Each job's line as the radio reads it from the pty after the job's profile went through the
// real serial backend (and, for the direct upload, its rate switch): 8 data bits, no parity,
// one stop bit, no flow control, raw, at the profile's rate.
TEST(PtyRadioTest, EveryProfileReachesTheRadioAsEightNoneOneAtItsRate) {
  struct Case {
    job::Profile profile;
    std::uint32_t link_rate;
    std::uint8_t divisor;  ///< 0: no rate switch
    std::uint32_t rate;
  };
  const Case cases[] = {{job::Profile::kRfUpload, 9600, 0, 115200},
                        {job::Profile::kDirectUpload, 9600, 0, 19200},
                        {job::Profile::kDirectUpload, 9600, direct::kHighSpeedDivisor, 115200},
                        {job::Profile::kDirectUpload, 9600, direct::kNormalDivisor, 19200},
                        {job::Profile::kTerminal, 38400, 0, 38400},
                        {job::Profile::kTerminal, 2400, 0, 2400}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.profile)) + " at " + std::to_string(c.rate));
    sim::PtyRadio radio(Quick());
    ASSERT_EQ(radio.Start(), "");
    auto port = serial::MakePosixSerialPort();
    job::ErrorState errors;
    job::Line line(*port, errors);
    ASSERT_TRUE(line.Open(radio.DevicePath(), c.profile, c.link_rate).ok());
    if (c.divisor != 0) {  // the direct job's own switch
      serial::ControlState snapshot;
      ASSERT_TRUE(line.ReadControlState(snapshot).ok());
      ASSERT_TRUE(line.SwitchRate(snapshot, c.divisor).ok());
    }
    // The radio looks at the line whenever it wakes: once more after the rate is seen, so the
    // look is surely one made after every setting.
    for (int i = 0; i < 200 && radio.Line().rate != c.rate; ++i) {
      radio.Say({});
      std::this_thread::sleep_for(5ms);
    }
    radio.Say({});
    std::this_thread::sleep_for(20ms);
    const sim::LineState seen = radio.Line();
    EXPECT_EQ(seen.rate, c.rate);
    EXPECT_EQ(seen.data_bits, 8);
    EXPECT_FALSE(seen.parity);
    EXPECT_EQ(seen.stop_bits, 1);
    EXPECT_FALSE(seen.rts_cts);
    EXPECT_TRUE(seen.raw);
    line.Close();
  }
}

TEST(RadioSimProgramTest, PrintsItsDeviceKeepsALinkAndEndsWithItsInput) {
  const std::string link = ::testing::TempDir() + "radio_sim_link_" + std::to_string(getpid());
  int to_child[2];
  int from_child[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(from_child), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(to_child[0], 0);
    dup2(from_child[1], 1);
    close(to_child[1]);
    close(from_child[0]);
    execl(TVX_RADIO_SIM, TVX_RADIO_SIM, "--until-eof", "--link", link.c_str(), nullptr);
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  FILE* out = fdopen(from_child[0], "r");
  char line[256] = {};
  ASSERT_NE(fgets(line, sizeof line, out), nullptr);
  std::string device(line);
  ASSERT_FALSE(device.empty());
  device.pop_back();
  EXPECT_EQ(device.rfind("/dev/", 0), 0u) << device;
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), device);

  close(to_child[1]);  // end of input: the radio stops
  std::string rest;
  while (fgets(line, sizeof line, out) != nullptr) rest += line;
  fclose(out);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(rest.find("radio: heard 0 bytes"), std::string::npos) << rest;
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0);  // the link is gone
}

// The set-up hang-up with a return: the link goes with the device and comes back to a new
// one, on which the radio answers with the settings it had.
TEST(RadioSimProgramTest, HangsUpAndComesBackUnderTheSameLink) {
  const std::string link = ::testing::TempDir() + "radio_sim_back_" + std::to_string(getpid());
  int to_child[2];
  int from_child[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(from_child), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(to_child[0], 0);
    dup2(from_child[1], 1);
    close(to_child[1]);
    close(from_child[0]);
    execl(TVX_RADIO_SIM, TVX_RADIO_SIM, "--until-eof", "--fast", "--fault", "setup-hang-up@7=0.6",
          "--link", link.c_str(), nullptr);
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  FILE* out = fdopen(from_child[0], "r");
  char line[256] = {};
  auto read_line = [&] {
    std::string text = fgets(line, sizeof line, out) != nullptr ? line : "";
    if (!text.empty()) text.pop_back();
    return text;
  };
  const std::string first = read_line();
  {
    PortEnd pc(link);
    ASSERT_TRUE(pc.IsOpen());
    pc.SetLine(B19200);
    pc.Write({'N', 'E', 'T', 'I', 'D', '9', '\r'});  // the hang-up follows key 7
    const Bytes said = pc.Read(60, 1000);
    EXPECT_NE(std::string(said.begin(), said.end()).find("Network ID set to 9"), std::string::npos);
  }
  // While it is away, its name is gone (the kernel may give the new one the old name).
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    struct stat st {};
    gone = lstat(link.c_str(), &st) != 0;
    if (!gone) std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(gone);
  const std::string back = read_line();  // printed once the new device is there
  ASSERT_EQ(back.rfind("radio: back on /dev/", 0), 0u) << back << " after " << first;
  const std::string device = back.substr(std::string("radio: back on ").size());
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), device);
  {
    PortEnd pc(link);
    ASSERT_TRUE(pc.IsOpen());
    pc.SetLine(B19200);
    pc.Write({'1', '\r'});
    const Bytes said = pc.Read(200, 500);
    const std::string text(said.begin(), said.end());
    EXPECT_NE(text.find("Network ID          9\r\n"), std::string::npos) << text;
  }
  close(to_child[1]);
  while (fgets(line, sizeof line, out) != nullptr) {
  }
  fclose(out);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// --faults lists every fault with what its N counts and its X; a fault it does not know ends the
// program with the pointer to that list.
TEST(RadioSimProgramTest, ListsItsFaultsAndRefusesAnUnknownOne) {
  auto run = [](const std::string& args, int& status) {
    FILE* out = popen((std::string(TVX_RADIO_SIM) + " " + args + " 2>&1").c_str(), "r");
    std::string text;
    char line[256];
    while (out != nullptr && fgets(line, sizeof line, out) != nullptr) text += line;
    status = out != nullptr ? pclose(out) : -1;
    return text;
  };
  int status = -1;
  const std::string list = run("--faults", status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const char* entry :
       {"\n  silent ", "\n  drop-echo@W ", "\n  hang-up-readback@R ", "\n  rf-corrupt-echo@F[=B] ",
        "\n  rf-short-header@H ", "\n  rf-stray-after-pass@P[=N]\n", "\n  setup-line-error@K ",
        "\n  setup-slow[=MS] ", "\n  setup-hang-up@K[=S] "}) {
    EXPECT_NE(list.find(entry), std::string::npos) << entry;
  }
  const std::string refused = run("--fault drop-everything", status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
  EXPECT_NE(refused.find("no fault named \"drop-everything\" (--faults lists them)"),
            std::string::npos)
      << refused;
}

}  // namespace
}  // namespace tvx::testing
