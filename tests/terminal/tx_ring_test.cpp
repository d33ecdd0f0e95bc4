// The transmit ring and its writer thread against a port in memory: runs that stop at the
// physical end of the ring, a full ring, a close with unsent bytes, a reopen, and a stress run of
// the main thread's enqueue against the writer (run it under ThreadSanitizer: tools/run-tsan.sh).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "serial/priority.h"
#include "support/fake_clock.h"
#include "support/fake_serial_port.h"
#include "support/scripted_console.h"
#include "terminal/terminal_link.h"

namespace tvx::testing {
namespace {

using terminal::TerminalClose;
using terminal::TerminalOpen;
using terminal::TxEnqueue;
using terminal::TxRing;

// Waits (yielding) until `done` holds; false after 10 s.
bool Eventually(const std::function<bool()>& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

std::string Bytes(std::size_t count, int first) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text.push_back(static_cast<char>((first + i) % 256));
  return text;
}

class TxRingTest : public ::testing::Test {
 protected:
  TxRingTest() : ctx_(console_, port_, priority_, clock_) {}
  ~TxRingTest() override { TerminalClose(ctx_, link_); }

  std::string TakenText() const {
    const std::vector<std::uint8_t> taken = port_.Taken();
    return std::string(taken.begin(), taken.end());
  }

  ScriptedConsole console_;
  FakeSerialPort port_;
  serial::NoPriority priority_;
  FakeClock clock_;
  job::RunContext ctx_;
  terminal::TerminalLink link_;
};

TEST_F(TxRingTest, AWriteStopsAtTheEndOfTheRingAndTheWrappedPartFollows) {
  TerminalOpen(ctx_, link_);
  EXPECT_EQ(port_.Timeouts().write_total_per_byte, 0u);
  EXPECT_EQ(port_.Timeouts().write_total_constant, 100u);

  // An empty text changes nothing.
  EXPECT_EQ(TxEnqueue(link_, ""), 0u);
  EXPECT_EQ(link_.ring.Pending(), 0);
  EXPECT_EQ(link_.ring.Head(), 0);

  ASSERT_EQ(TxEnqueue(link_, Bytes(1020, 0)), 1020u);
  ASSERT_TRUE(Eventually([&] { return link_.ring.Pending() == 0; }));
  EXPECT_EQ(link_.ring.Tail(), 1020);
  const std::size_t writes_before = port_.WriteCount();

  ASSERT_EQ(TxEnqueue(link_, "ABCDEFGHIJ"), 10u);  // tail 1020, 10 pending
  EXPECT_EQ(link_.ring.Head(), 6);
  ASSERT_TRUE(port_.WaitForTaken(1030, 10000));
  const auto writes = port_.Writes();
  ASSERT_EQ(writes.size(), writes_before + 2);
  const auto& first = writes[writes_before];
  const auto& second = writes[writes_before + 1];
  EXPECT_EQ(std::string(first.bytes.begin(), first.bytes.end()), "ABCD");
  EXPECT_EQ(first.data, link_.ring.Storage().data() + 1020);
  EXPECT_EQ(std::string(second.bytes.begin(), second.bytes.end()), "EFGHIJ");
  EXPECT_EQ(second.data, link_.ring.Storage().data());
  EXPECT_TRUE(Eventually([&] { return link_.ring.Pending() == 0; }));
  EXPECT_EQ(link_.ring.Tail(), 6);
}

TEST_F(TxRingTest, AFullRingKeeps1024BytesAndDropsTheExcess) {
  port_.takes_per_write = 0;  // the port cannot send
  TerminalOpen(ctx_, link_);
  EXPECT_EQ(link_.ring.Room(), 1024);
  EXPECT_EQ(TxEnqueue(link_, Bytes(1500, 0)), 1024u);
  EXPECT_EQ(link_.ring.Pending(), 1024);
  EXPECT_EQ(link_.ring.Room(), 0);
  EXPECT_EQ(TxEnqueue(link_, "more"), 0u);
  EXPECT_EQ(link_.ring.Pending(), 1024);
  EXPECT_EQ(link_.ring.Head(), 0);

  port_.takes_per_write = 300;  // the port sends again: the kept bytes go out in order
  ASSERT_TRUE(port_.WaitForTaken(1024, 10000));
  EXPECT_TRUE(Eventually([&] { return link_.ring.Pending() == 0; }));
  EXPECT_EQ(TakenText(), Bytes(1024, 0));
}

TEST_F(TxRingTest, CloseDropsUnsentBytesAndAReopenStartsAtZero) {
  port_.takes_per_write = 0;
  TerminalOpen(ctx_, link_);
  ASSERT_EQ(TxEnqueue(link_, "unsent"), 6u);
  ASSERT_TRUE(Eventually([&] { return port_.WriteCount() > 0; }));  // the writer is retrying

  TerminalClose(ctx_, link_);
  EXPECT_FALSE(link_.writer.joinable());  // joined: nothing is written after the close
  EXPECT_LT(link_.ring.Pending(), 0);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(TxEnqueue(link_, "late"), 0u);
  EXPECT_EQ(TakenText(), "");

  port_.takes_per_write = SIZE_MAX;
  TerminalOpen(ctx_, link_);
  EXPECT_EQ(link_.ring.Pending(), 0);
  EXPECT_EQ(link_.ring.Head(), 0);
  EXPECT_EQ(link_.ring.Tail(), 0);
  ASSERT_EQ(TxEnqueue(link_, "new"), 3u);
  ASSERT_TRUE(port_.WaitForTaken(3, 10000));
  EXPECT_TRUE(Eventually([&] { return link_.ring.Pending() == 0; }));
  EXPECT_EQ(TakenText(), "new");  // the dropped bytes never reach the port
}

// A port that takes nothing at once (not open, or a dead line) gets one try per write time-out,
// not a spin, and the writer still ends at once on close.
TEST_F(TxRingTest, AWriterFacingAPortThatRefusesAtOnceWaitsAndStillEndsAtOnce) {
  port_.takes_per_write = 0;
  TerminalOpen(ctx_, link_);
  ASSERT_EQ(TxEnqueue(link_, "stuck"), 5u);
  std::this_thread::sleep_for(std::chrono::milliseconds(350));
  EXPECT_GE(port_.WriteCount(), 1u);
  EXPECT_LE(port_.WriteCount(), 8u);  // about one every 100 ms
  const auto start = std::chrono::steady_clock::now();
  TerminalClose(ctx_, link_);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
}

// Many small enqueues against a writer whose port takes a few bytes at a time: every byte
// arrives once and in order, no write runs past the ring's end, and the count stays in range.
TEST_F(TxRingTest, StressEnqueueAgainstTheWriter) {
  constexpr std::size_t kTotal = 200000;
  port_.takes_per_write = 37;  // tail moves off the ring's start at once
  TerminalOpen(ctx_, link_);
  std::string all;
  all.reserve(kTotal);
  for (std::size_t i = 0; i < kTotal; ++i)
    all.push_back(static_cast<char>((i * 7 + i / 251) % 256));

  std::uint32_t seed = 12345;
  auto next = [&seed](std::uint32_t bound) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % bound;
  };
  std::size_t sent = 0;
  while (sent < kTotal) {
    if (next(64) == 0) port_.takes_per_write = 1 + next(200);  // the port's pace changes
    const std::size_t chunk = std::min<std::size_t>(1 + next(97), kTotal - sent);
    sent += TxEnqueue(link_, std::string_view(all).substr(sent, chunk));
    const std::int32_t pending = link_.ring.Pending();
    ASSERT_GE(pending, 0);
    ASSERT_LE(pending, TxRing::kSize);
    if (pending == TxRing::kSize) std::this_thread::yield();
  }
  ASSERT_TRUE(port_.WaitForTaken(kTotal, 60000));
  TerminalClose(ctx_, link_);

  EXPECT_TRUE(TakenText() == all) << "the bytes written differ from the bytes queued";
  const auto storage = link_.ring.Storage();
  for (const auto& write : port_.Writes()) {
    ASSERT_GE(write.data, storage.data());
    ASSERT_LE(write.data + write.bytes.size(), storage.data() + storage.size());
    ASSERT_LE(write.taken, write.bytes.size());
  }
}

}  // namespace
}  // namespace tvx::testing
