// A serial port in memory for the terminal's tests: it records every write (the writer thread
// calls Write while the test's thread uses the rest), takes as many bytes per write as the test
// allows, hands out received bytes the test queued, and can report a dead line.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

#include "serial/serial_port.h"

namespace tvx::testing {

class FakeSerialPort final : public serial::SerialPort {
 public:
  /// What Open returns (0: the port opens).
  serial::ErrorNumber open_result = 0;
  /// Bytes one write takes at most; 0: the port takes nothing (as when it cannot send).
  std::atomic<std::size_t> takes_per_write{SIZE_MAX};
  /// Once the queued received bytes are read, BytesWaiting reports this error with a count of
  /// 0 (0: none).
  std::atomic<serial::ErrorNumber> waiting_error{0};

  serial::ErrorNumber Open(std::string_view name) override;
  bool IsOpen() const override { return open_; }
  serial::ErrorNumber Close() override;
  serial::ErrorNumber Apply(serial::LineSetting, std::uint32_t) override;
  serial::ErrorNumber GetTimeouts(serial::Timeouts& out) override;
  serial::ErrorNumber SetTimeouts(const serial::Timeouts& timeouts) override;
  serial::ErrorNumber GetControlState(serial::ControlState&) override;
  serial::ErrorNumber SetControlState(const serial::ControlState&) override;
  serial::WaitingCount BytesWaiting() override;
  std::size_t Read(std::span<std::uint8_t> into) override;
  std::size_t Write(std::span<const std::uint8_t> bytes) override;
  /// Waits on `also` alone, at most `timeout_ms` (or 1 ms once a line error is set, as a
  /// hung-up device wakes its waiters at once).
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override;

  /// Queues bytes as if the radio had sent them.
  void Receive(std::span<const std::uint8_t> bytes);

  /// One call of Write: what it was given and how many it took.
  struct WriteCall {
    std::vector<std::uint8_t> bytes;
    const std::uint8_t* data = nullptr;
    std::size_t taken = 0;
  };
  std::vector<WriteCall> Writes() const;
  /// The bytes taken, over all writes, in order.
  std::vector<std::uint8_t> Taken() const;
  std::size_t WriteCount() const;
  /// Blocks until at least `count` bytes were taken or `ms` passed; returns whether they were.
  bool WaitForTaken(std::size_t count, int ms) const;
  /// The time-outs last set.
  serial::Timeouts Timeouts() const;
  int BytesWaitingCalls() const { return waiting_calls_.load(); }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable written_;
  bool open_ = false;
  serial::Timeouts timeouts_{};
  std::deque<std::uint8_t> incoming_;  // guarded by mutex_
  std::vector<WriteCall> writes_;      // guarded by mutex_
  std::vector<std::uint8_t> taken_;    // guarded by mutex_
  std::atomic<int> waiting_calls_{0};
};

}  // namespace tvx::testing
