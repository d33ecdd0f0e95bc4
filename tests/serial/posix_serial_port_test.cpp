// The termios backend on pseudo-terminals: the line each profile leaves, the exclusive open,
// the line-rate switch without loss, time-outs and line errors.
#include "serial/posix_serial_port.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include "job/line.h"
#include "job/run_context.h"
#include "serial/posix_errors.h"
#include "serial/pseudo_terminal.h"
#include "support/fake_clock.h"
#include "support/scripted_console.h"

namespace tvx::testing {
namespace {

constexpr int kCom = 7;
const char* const kPortName = "Com7";

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

class PosixPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(radio.Ready());
    ctx.link.port_name = kPortName;
    ctx.link.devices[kCom - 1] = radio.SlavePath();
  }

  PseudoTerminal radio;
  std::unique_ptr<serial::SerialPort> port = serial::MakePosixSerialPort();
  ScriptedConsole console;
  serial::NoPriority priority;
  FakeClock clock;
  job::RunContext ctx{console, *port, priority, clock};
  job::Line line{*port, ctx.errors};

  // Opens Com7 with `profile`; true when the port opened and took every setting.
  bool Open(job::Profile profile) {
    return line.Open(ctx.link.DeviceOf(kPortName), profile, 57600).ok();
  }
  std::vector<std::uint8_t> Receive(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    bytes.resize(line.Receive(bytes).count);
    return bytes;
  }
};

void ExpectLine(const termios& line, speed_t speed) {
  EXPECT_EQ(cfgetospeed(&line), speed);
  EXPECT_EQ(cfgetispeed(&line), speed);
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);
}

TEST_F(PosixPortTest, EachProfileLeavesEightNoneOneWithoutHandshake) {
  const std::pair<job::Profile, speed_t> cases[] = {
      {job::Profile::kRfUpload, B115200},
      {job::Profile::kDirectUpload, B19200},
      {job::Profile::kTerminal, B57600},
  };
  for (const auto& [profile, speed] : cases) {
    SCOPED_TRACE(static_cast<int>(profile));
    ASSERT_TRUE(Open(profile));
    EXPECT_EQ(ctx.errors.code, 0);  // DTR on a pty: accepted without effect
    ExpectLine(radio.Line(), speed);
    line.Close();
  }
  EXPECT_EQ(console.Beeps(), 0);
}

TEST_F(PosixPortTest, LineRateSwitchLosesNoQueuedByte) {
  ASSERT_TRUE(Open(job::Profile::kDirectUpload));
  line.ZeroTimeouts();
  serial::ControlState snapshot;
  ASSERT_TRUE(line.ReadControlState(snapshot).ok());
  EXPECT_EQ(snapshot.line_rate, 19200u);

  radio.Send(Bytes("before"));
  EXPECT_TRUE(line.Send(Bytes("sent")).ok());
  EXPECT_TRUE(line.SwitchRate(snapshot, 4).ok());
  ExpectLine(radio.Line(), B115200);
  // A pty hands bytes across asynchronously: give them a moment to show up on this side.
  for (int i = 0; i < 200 && line.Waiting().count < 6; ++i) line.AwaitActivity(-1, 10);
  EXPECT_EQ(line.Waiting().count, 6u);
  EXPECT_EQ(Receive(6), Bytes("before"));
  EXPECT_EQ(radio.Receive(4), Bytes("sent"));

  EXPECT_TRUE(line.SwitchRate(snapshot, 24).ok());
  ExpectLine(radio.Line(), B19200);
  EXPECT_EQ(ctx.errors.code, 0);
}

TEST_F(PosixPortTest, MissingDeviceEndsTheJobWithCode53) {
  ctx.link.devices[kCom - 1] = "/dev/no-such-serial-device";
  const job::OpenResult opened = line.Open(ctx.link.DeviceOf(kPortName), job::Profile::kRfUpload);
  EXPECT_EQ(opened.code, serial::kErrNoSuchPort);
  EXPECT_EQ(opened.reason, "No such file or directory");
  job::ShowOpenFailure(ctx, opened.settings_refused);
  EXPECT_EQ(console.RowText(51).substr(64, 12), "  1  53   0 ");
  EXPECT_EQ(console.RowText(1).substr(0, 20), "Can't Open Com Port ");
  EXPECT_EQ(console.Screen().CursorRow(), 2);
  EXPECT_EQ(clock.SleptMs(), 2000);
  EXPECT_FALSE(port->IsOpen());
}

TEST_F(PosixPortTest, PortIsExclusiveUntilClosed) {
  ASSERT_EQ(port->Open(radio.SlavePath()), 0);
  EXPECT_EQ(port->Open(radio.SlavePath()), serial::kErrPortAlreadyOpen);
  auto second = serial::MakePosixSerialPort();
  EXPECT_EQ(second->Open(radio.SlavePath()), serial::kErrAccessDenied);
  EXPECT_NE(second->OpenFailureText(), "");
  port->Close();
  ASSERT_EQ(second->Open(radio.SlavePath()), 0);  // exclusivity released
  second->Close();

  // Another program holding the device.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    const int fd = ::open(radio.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    flock(fd, LOCK_EX);
    (void)!::write(ready[1], "x", 1);
    pause();
    _exit(0);
  }
  char x;
  ASSERT_EQ(::read(ready[0], &x, 1), 1);
  EXPECT_FALSE(Open(job::Profile::kDirectUpload));
  EXPECT_EQ(ctx.errors.code, serial::kErrAccessDenied);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_TRUE(Open(job::Profile::kDirectUpload));
}

TEST_F(PosixPortTest, BadNamesAreRefused) {
  EXPECT_EQ(port->Open(""), serial::kErrBadPortName);
  EXPECT_EQ(port->Open(std::string_view("/dev/null\0x", 11)), serial::kErrBadPortName);
  // A port name is the front end's: the backend takes only devices.
  EXPECT_EQ(port->Open("Com7"), serial::kErrNoSuchPort);
  EXPECT_EQ(port->OpenFailureText(), "No such file or directory");
  EXPECT_EQ(port->Open(radio.SlavePath()), 0);
  EXPECT_EQ(port->OpenFailureText(), "");
}

// A device the user may not open is the system refusing (75), which no other program closing
// the port would mend; it is not "in use" (70).
TEST_F(PosixPortTest, APermissionErrorIsTheSystemRefusingNotAPortInUse) {
  // What the status line shows for each way an open is refused.
  EXPECT_EQ(serial::ErrorFromErrno(EACCES), 75);
  EXPECT_EQ(serial::ErrorFromErrno(EPERM), 75);
  EXPECT_EQ(serial::ErrorFromErrno(EBUSY), serial::kErrAccessDenied);
  EXPECT_EQ(serial::ErrorFromErrno(EWOULDBLOCK), serial::kErrAccessDenied);
  if (geteuid() == 0) GTEST_SKIP() << "root may open any device";
  struct stat info {};
  ASSERT_EQ(stat(radio.SlavePath().c_str(), &info), 0);
  ASSERT_EQ(chmod(radio.SlavePath().c_str(), 0), 0);
  EXPECT_EQ(port->Open(radio.SlavePath()), 75);
  EXPECT_EQ(port->OpenFailureText(), "Permission denied");
  chmod(radio.SlavePath().c_str(), info.st_mode & 07777);
}

// What is there but is no serial port is said to be none (5, and what it is), not a permission
// problem; a FIFO is never waited on.
TEST_F(PosixPortTest, WhatIsNoSerialPortIsSaidToBeNone) {
  const std::string dir = ::testing::TempDir() + "tvx-not-a-port-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const std::string file = dir + "/file";
  const std::string fifo = dir + "/fifo";
  std::fclose(std::fopen(file.c_str(), "w"));
  ASSERT_EQ(chmod(file.c_str(), 0444), 0);  // not writable either: still no permission problem
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    const char* kind;
  } cases[] = {
      {"/dev/null", "a device that is not a terminal"},
      {"/dev/urandom", "a device that is not a terminal"},
      {file, "a regular file"},
      {fifo, "a FIFO"},
      {dir, "a directory"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(port->Open(c.path), serial::kErrDeviceControl) << c.path;
    EXPECT_EQ(port->OpenFailureText(), c.kind) << c.path;
    EXPECT_FALSE(port->IsOpen()) << c.path;
  }
  std::filesystem::remove_all(dir);
}

TEST_F(PosixPortTest, DiscardEmptiesTheQueue) {
  ASSERT_TRUE(Open(job::Profile::kRfUpload));
  line.ZeroTimeouts();
  EXPECT_EQ(line.Discard().count, 0u);  // nothing waiting: returns at once
  radio.Send(Bytes("stale echo"));
  for (int i = 0; i < 100 && line.Waiting().count < 10; ++i) line.AwaitActivity(-1, 20);
  EXPECT_EQ(line.Discard().count, 10u);
  EXPECT_EQ(line.Waiting().count, 0u);
  EXPECT_EQ(ctx.errors.code, 0);
}

TEST_F(PosixPortTest, ZeroTimeoutReadWaitsForEveryByte) {
  ASSERT_TRUE(Open(job::Profile::kDirectUpload));
  line.ZeroTimeouts();
  std::thread feeder([this] {
    for (const char* part : {"AB", "CDE", "F"}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      radio.Send(Bytes(part));
    }
  });
  EXPECT_EQ(Receive(6), Bytes("ABCDEF"));
  feeder.join();
}

TEST_F(PosixPortTest, WritesThatCannotCompleteGive69) {
  ASSERT_TRUE(Open(job::Profile::kTerminal));
  line.BoundWrites(100);
  // Nobody reads the radio's side: the pseudo-terminal fills up and the write times out.
  const std::vector<std::uint8_t> flood(1 << 20, 0x55);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(line.Send(flood).code, serial::kErrSendFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(line.FailureText(), "the line took nothing more within the write time-out");

  line.Close();
  EXPECT_EQ(line.FailureText(), "");
  EXPECT_EQ(line.SendByte(1).code, serial::kErrSendFailed);
}

// The radio's side goes away (a pulled adapter looks the same): every query, read and write
// says the line is dead (59), and stays so until the port is opened again.
TEST_F(PosixPortTest, HangUpIsADeadLineAndWaitsDoNotSpin) {
  ASSERT_TRUE(Open(job::Profile::kRfUpload));
  line.ZeroTimeouts();
  radio.CloseMaster();
  EXPECT_EQ(line.Waiting().code, serial::kErrLineDead);
  EXPECT_FALSE(line.Up());
  EXPECT_NE(line.FailureText(), "");  // the system's words for the hang-up
  std::uint8_t byte[4];
  EXPECT_EQ(line.Receive(byte).code, serial::kErrLineDead);  // at once, not waiting for a radio
  EXPECT_EQ(line.SendByte(1).code, serial::kErrLineDead);
  // The hang-up is reported by poll at once on every call; a wait still has to sleep.
  const auto start = std::chrono::steady_clock::now();
  port->AwaitActivity(console::kNoWaitHandle, 200);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
  line.Close();
  EXPECT_FALSE(port->LineDead());
}

// A read under zero time-outs waits for every byte, but not for a line that dies meanwhile.
TEST_F(PosixPortTest, ReceiveReturnsWhenTheLineDiesDuringTheRead) {
  ASSERT_TRUE(Open(job::Profile::kDirectUpload));
  line.ZeroTimeouts();
  radio.Send(Bytes("A"));
  // A hang-up flushes what the port has not read yet, so the line dies only once the "A" has
  // arrived and the reader holds it and waits for the rest.
  const auto settle = [this](int unread) {
    for (int i = 0; i < 2000 && radio.Unread() != unread; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  settle(1);
  std::promise<std::vector<std::uint8_t>> received;
  auto result = received.get_future();
  std::thread reader([&] { received.set_value(Receive(4)); });
  settle(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  radio.CloseMaster();
  // Only a guard against a hang: the read ends as soon as the hang-up is seen.
  const bool returned = result.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  if (!returned) {
    reader.detach();
    FAIL() << "the read did not return after the hang-up";
  }
  reader.join();
  EXPECT_EQ(result.get(), Bytes("A"));
  EXPECT_EQ(ctx.errors.code, serial::kErrLineDead);
}

TEST_F(PosixPortTest, AwaitActivityWakesForAKeyWithThePortClosed) {
  std::thread typist([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    console.Feed("k");
  });
  const auto start = std::chrono::steady_clock::now();
  port->AwaitActivity(console.KeyWaitHandle(), 10000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  typist.join();
}

TEST(PosixPriorityTest, NormalPutsBackWhatWasThere) {
  const int policy = sched_getscheduler(0);
  errno = 0;
  const int nice_value = getpriority(PRIO_PROCESS, 0);
  serial::PosixPriority priority;
  priority.RaiseRealtime();
  const int raised_policy = sched_getscheduler(0);
  const int raised_nice = getpriority(PRIO_PROCESS, 0);
  priority.RaiseRealtime();
  priority.Normal();
  EXPECT_EQ(sched_getscheduler(0), policy);
  EXPECT_EQ(getpriority(PRIO_PROCESS, 0), nice_value);
  // Every later stretch is raised the same way and put back to the same state.
  for (int stretch = 0; stretch < 2; ++stretch) {
    priority.RaiseRealtime();
    EXPECT_EQ(sched_getscheduler(0), raised_policy);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), raised_nice);
    priority.Normal();
    EXPECT_EQ(sched_getscheduler(0), policy);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), nice_value);
  }
}

// Each upload raises the thread it runs on: while one is raised, the program's other threads
// keep their scheduling; its Normal puts its own thread back.
TEST(PosixPriorityTest, RaisesOnlyTheCallingThread) {
  const auto policy_now = [] { return sched_getscheduler(gettid()); };
  const auto nice_now = [] { return getpriority(PRIO_PROCESS, gettid()); };
  const int policy = policy_now();
  const int nice_value = nice_now();
  std::promise<void> raised;
  std::promise<void> looked;
  int raised_policy = 0, raised_nice = 0, after_policy = 0, after_nice = 0;
  std::thread upload([&] {
    serial::PosixPriority priority;
    priority.RaiseRealtime();
    raised_policy = policy_now();
    raised_nice = nice_now();
    raised.set_value();
    looked.get_future().wait();
    priority.Normal();
    after_policy = policy_now();
    after_nice = nice_now();
  });
  raised.get_future().wait();
  EXPECT_EQ(policy_now(), policy);
  EXPECT_EQ(nice_now(), nice_value);
  looked.set_value();
  upload.join();
  EXPECT_EQ(after_policy, policy);
  EXPECT_EQ(after_nice, nice_value);
  if (raised_policy == policy && raised_nice == nice_value) {
    GTEST_SKIP() << "this machine lets the process raise nothing";
  }
  EXPECT_TRUE(raised_policy == (SCHED_RR | SCHED_RESET_ON_FORK) || raised_nice < nice_value)
      << raised_policy << " " << raised_nice;
}

}  // namespace
}  // namespace tvx::testing
