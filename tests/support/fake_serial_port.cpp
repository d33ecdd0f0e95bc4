#include "support/fake_serial_port.h"

#include <algorithm>
#include <chrono>

#include "support/wait_signal.h"

namespace tvx::testing {

using serial::ErrorNumber;

ErrorNumber FakeSerialPort::Open(std::string_view) {
  open_ = open_result == 0;
  return open_result;
}

ErrorNumber FakeSerialPort::Close() {
  open_ = false;
  return 0;
}

ErrorNumber FakeSerialPort::Apply(serial::LineSetting, std::uint32_t) {
  return open_ ? 0 : serial::kErrPortNotOpen;
}

ErrorNumber FakeSerialPort::GetTimeouts(serial::Timeouts& out) {
  if (!open_) return serial::kErrPortNotOpen;
  std::lock_guard lock(mutex_);
  out = timeouts_;
  return 0;
}

ErrorNumber FakeSerialPort::SetTimeouts(const serial::Timeouts& timeouts) {
  if (!open_) return serial::kErrPortNotOpen;
  std::lock_guard lock(mutex_);
  timeouts_ = timeouts;
  return 0;
}

ErrorNumber FakeSerialPort::GetControlState(serial::ControlState&) {
  return open_ ? 0 : serial::kErrPortNotOpen;
}

ErrorNumber FakeSerialPort::SetControlState(const serial::ControlState&) {
  return open_ ? 0 : serial::kErrPortNotOpen;
}

serial::WaitingCount FakeSerialPort::BytesWaiting() {
  ++waiting_calls_;
  if (!open_) return {0, serial::kErrPortNotOpen};
  std::lock_guard lock(mutex_);
  if (const ErrorNumber error = waiting_error.load(); error != 0 && incoming_.empty()) {
    return {0, error};
  }
  return {incoming_.size(), 0};
}

std::size_t FakeSerialPort::Read(std::span<std::uint8_t> into) {
  std::lock_guard lock(mutex_);
  const std::size_t n = std::min(into.size(), incoming_.size());
  std::copy_n(incoming_.begin(), n, into.begin());
  incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

std::size_t FakeSerialPort::Write(std::span<const std::uint8_t> bytes) {
  if (!open_) return 0;
  const std::size_t taken = std::min(bytes.size(), takes_per_write.load());
  {
    std::lock_guard lock(mutex_);
    writes_.push_back({std::vector<std::uint8_t>(bytes.begin(), bytes.end()), bytes.data(), taken});
    taken_.insert(taken_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
  }
  written_.notify_all();
  return taken;
}

void FakeSerialPort::AwaitActivity(console::NativeWaitHandle also, int timeout_ms) {
  if (waiting_error.load() != 0) timeout_ms = 1;
  WaitReady(also, timeout_ms);
}

void FakeSerialPort::Receive(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  incoming_.insert(incoming_.end(), bytes.begin(), bytes.end());
}

std::vector<FakeSerialPort::WriteCall> FakeSerialPort::Writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::vector<std::uint8_t> FakeSerialPort::Taken() const {
  std::lock_guard lock(mutex_);
  return taken_;
}

std::size_t FakeSerialPort::WriteCount() const {
  std::lock_guard lock(mutex_);
  return writes_.size();
}

bool FakeSerialPort::WaitForTaken(std::size_t count, int ms) const {
  std::unique_lock lock(mutex_);
  return written_.wait_for(lock, std::chrono::milliseconds(ms),
                           [&] { return taken_.size() >= count; });
}

serial::Timeouts FakeSerialPort::Timeouts() const {
  std::lock_guard lock(mutex_);
  return timeouts_;
}

}  // namespace tvx::testing
