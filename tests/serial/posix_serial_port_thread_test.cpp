// The termios backend shared by two threads as the Radio Setup Screen shares it: a writer thread
// writing keys while the main thread waits, queries and reads, and the radio's side of the line
// goes away meanwhile. Run it under ThreadSanitizer (tools/run-tsan.sh): the dead-line flag that
// both threads set and read must not race.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "serial/posix_serial_port.h"
#include "serial/pseudo_terminal.h"

namespace tvx::testing {
namespace {

TEST(PosixPortThreadTest, WriterAndReaderBothSeeTheHangUpWithoutARace) {
  PseudoTerminal radio;
  ASSERT_TRUE(radio.Ready());
  const std::unique_ptr<serial::SerialPort> port = serial::MakePosixSerialPort();
  ASSERT_EQ(port->Open(radio.SlavePath()), 0);
  serial::Timeouts timeouts;
  timeouts.write_total_constant = 100;  // the terminal's write time-out
  ASSERT_EQ(port->SetTimeouts(timeouts), 0);

  std::atomic<bool> stop{false};
  std::atomic<int> writes_after_dead{0};
  std::thread writer([&] {
    const std::uint8_t key = 'k';
    while (!stop) {
      if (port->Write(std::span<const std::uint8_t>(&key, 1)) == 0 && port->LineDead()) {
        ++writes_after_dead;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  });

  // The radio talks, then goes away while the writer still writes.
  radio.Send({'O', 'K'});
  std::thread hang_up([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    radio.CloseMaster();
  });
  std::size_t got = 0;
  bool dead = false;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!dead && std::chrono::steady_clock::now() < limit) {
    port->AwaitActivity(console::kNoWaitHandle, 5);
    const serial::WaitingCount waiting = port->BytesWaiting();
    if (waiting.count > 0) {
      std::uint8_t bytes[16];
      got += port->Read(std::span<std::uint8_t>(bytes, std::min<std::size_t>(waiting.count, 16)));
    }
    dead = waiting.error == serial::kErrLineDead && port->LineDead();
  }
  hang_up.join();
  // The writer meets the dead line too (its writes fail at once from now on).
  while (writes_after_dead == 0 && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  stop = true;
  writer.join();

  EXPECT_TRUE(dead);
  EXPECT_EQ(got, 2u);
  EXPECT_GT(writes_after_dead.load(), 0);
  EXPECT_EQ(port->Close(), 0);
  EXPECT_FALSE(port->LineDead());
}

}  // namespace
}  // namespace tvx::testing
