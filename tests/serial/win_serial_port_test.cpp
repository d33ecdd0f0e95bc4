// The Windows serial backend against the simulated radio. win_radio_test.sh starts the radio of
// a native build on a pseudo-terminal, has wine map a COM port to it and names that port in
// TVX_RADIO_PORT ("Com5"); another COM port, named in TVX_MISSING_PORT, has no device behind it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "direct/direct_upload.h"
#include "job/clock.h"
#include "job/run_context.h"
#include "serial/error_codes.h"
#include "serial/win_priority.h"
#include "serial/win_serial_port.h"
#include "support/scripted_console.h"
#include "support/small_image.h"

namespace tvx::serial {
namespace {

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : fallback;
}

const std::string kRadioPort = Env("TVX_RADIO_PORT", "Com5");
const std::string kMissingPort = Env("TVX_MISSING_PORT", "Com8");

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

TEST(WinSerialPortTest, OpenGivesTheCodesOfAFreeABusyAndAMissingPort) {
  auto first = MakeWinSerialPort();
  auto second = MakeWinSerialPort();
  ASSERT_EQ(first->Open(kRadioPort), kNoError);
  EXPECT_EQ(first->Open(kRadioPort), kErrPortAlreadyOpen);
  EXPECT_EQ(second->Open(kRadioPort), kErrAccessDenied);
  EXPECT_EQ(second->Open(kMissingPort), kErrNoSuchPort);
  EXPECT_EQ(second->Open(""), kErrBadPortName);
  EXPECT_EQ(first->Close(), kNoError);
  EXPECT_EQ(first->Close(), kNoError);
  EXPECT_EQ(second->Open(kRadioPort), kNoError);  // free again once closed
}

// What is there but is no serial port is said to be none (5, and what it is), not a permission
// problem; a pipe is not even opened.
TEST(WinSerialPortTest, WhatIsNoSerialPortIsSaidToBeNone) {
  const std::filesystem::path dir =
      std::filesystem::path(::testing::TempDir()) / "tvx-win-not-a-port";
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(std::filesystem::create_directories(dir));
  const std::string file = (dir / "file").string();
  const std::string read_only = (dir / "read-only").string();
  std::ofstream(file) << "x";
  std::ofstream(read_only) << "x";
  ASSERT_TRUE(SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_READONLY));
  const struct {
    std::string path;
    const char* kind;
  } cases[] = {
      {"NUL", "a device that is not a serial port"},
      {file, "a regular file"},
      {read_only, "a regular file"},  // Windows refuses its open: still no permission problem
      {dir.string(), "a directory"},
      {"\\\\.\\pipe\\tvx-not-a-port", "a pipe"},
  };
  auto port = MakeWinSerialPort();
  for (const auto& c : cases) {
    EXPECT_EQ(port->Open(c.path), kErrDeviceControl) << c.path;
    EXPECT_EQ(port->OpenFailureText(), c.kind) << c.path;
    EXPECT_FALSE(port->IsOpen()) << c.path;
  }
  SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::filesystem::remove_all(dir);
}

// The activity wait sleeps on a silent port and wakes for a key. The radio in programming mode
// says nothing until spoken to.
TEST(WinSerialPortTest, ActivityWaitSleepsOnASilentLineAndWakesForAKey) {
  auto port = MakeWinSerialPort();
  ASSERT_EQ(port->Open(kRadioPort), kNoError);
  ASSERT_EQ(port->Apply(LineSetting::kLineRate, 19200), kNoError);
  testing::ScriptedConsole console;

  // A job's polling loop for one second: wait, look, wait again.
  const double cpu_before = ProcessCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::seconds(1);
  int wakes = 0;
  while (std::chrono::steady_clock::now() < end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    port->AwaitActivity(console.KeyWaitHandle(), static_cast<int>(left.count()) + 1);
    EXPECT_EQ(port->BytesWaiting().count, 0u);
    ++wakes;
  }
  EXPECT_LT(ProcessCpuSeconds() - cpu_before, 0.1) << "the wait spins: " << wakes << " wakes";

  std::thread typist([&console] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    console.Feed("a");
  });
  port->AwaitActivity(console.KeyWaitHandle(), -1);  // only the key can end this wait
  typist.join();
  EXPECT_TRUE(console.KeyWaiting());
}

// A whole direct upload through this backend: questions answered, the line switched to
// 115200 bit/s (the radio hears nothing at any other rate after the switch), every word sent
// and echoed, the activity wait woken by every answer, and the radio's checksum accepted.
TEST(WinSerialPortTest, DirectUploadAtHighSpeedEndsWithTheChecksumAccepted) {
  auto port = MakeWinSerialPort();
  testing::ScriptedConsole console;
  WinPriority priority;
  job::RunContext ctx(console, *port, priority, job::SystemClock());
  ctx.link.devices[0] = kRadioPort;  // Com1 stands for the radio's port
  ctx.image = testing::SmallImage();  // every step of the upload, in 139 words
  console.Feed("N\rY\ry\r");         // data port, radio in set-up, high speed
  console.OnKeyWanted([](testing::ScriptedConsole& c) {
    for (int row = 1; row <= 50; ++row) {
      if (c.RowText(row).find("Hit any key to return to main menu") != std::string::npos) {
        c.Feed("x");
        return;
      }
    }
  });
  console.SetStarveLimitMs(60000);
  direct::RunDirectUpload(ctx);
  EXPECT_FALSE(console.Starved());
  bool accepted = false;
  for (int row = 1; row <= 50; ++row) {
    if (console.RowText(row).find("Upload complete: the radio accepted the checksum.") !=
        std::string::npos) {
      accepted = true;
    }
  }
  std::string screen;
  for (int row = 1; row <= 51; ++row) screen += console.RowTrimmed(row) + "\n";
  EXPECT_TRUE(accepted) << screen;
  EXPECT_FALSE(port->IsOpen());
}

}  // namespace
}  // namespace tvx::serial
