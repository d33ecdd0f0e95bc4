// A serial port that hands every call to another one: the base of the test doubles that watch
// or bend what a job does with the real port, overriding only the calls they care about.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "serial/serial_port.h"

namespace tvx::testing {

class ForwardingPort : public serial::SerialPort {
 public:
  explicit ForwardingPort(std::unique_ptr<serial::SerialPort> inner)
      : owned_(std::move(inner)), inner_(owned_.get()) {}
  /// Hands the calls to `inner`, which is not owned and must outlive this port.
  explicit ForwardingPort(serial::SerialPort& inner) : inner_(&inner) {}

  serial::ErrorNumber Open(std::string_view name) override { return inner_->Open(name); }
  std::string OpenFailureText() const override { return inner_->OpenFailureText(); }
  std::string FailureText() const override { return inner_->FailureText(); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  serial::ErrorNumber Close() override { return inner_->Close(); }
  serial::ErrorNumber Apply(serial::LineSetting s, std::uint32_t v) override {
    return inner_->Apply(s, v);
  }
  serial::ErrorNumber GetTimeouts(serial::Timeouts& t) override { return inner_->GetTimeouts(t); }
  serial::ErrorNumber SetTimeouts(const serial::Timeouts& t) override {
    return inner_->SetTimeouts(t);
  }
  serial::ErrorNumber GetControlState(serial::ControlState& s) override {
    return inner_->GetControlState(s);
  }
  serial::ErrorNumber SetControlState(const serial::ControlState& s) override {
    return inner_->SetControlState(s);
  }
  serial::WaitingCount BytesWaiting() override { return inner_->BytesWaiting(); }
  std::size_t Read(std::span<std::uint8_t> into) override { return inner_->Read(into); }
  std::size_t Write(std::span<const std::uint8_t> bytes) override { return inner_->Write(bytes); }
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override {
    inner_->AwaitActivity(also, timeout_ms);
  }
  bool LineDead() const override { return inner_->LineDead(); }

 protected:
  serial::SerialPort& Inner() { return *inner_; }
  const serial::SerialPort& Inner() const { return *inner_; }

 private:
  std::unique_ptr<serial::SerialPort> owned_;
  serial::SerialPort* inner_;
};

/// A port that counts the bytes written through it (the pty fixtures wait until the radio has
/// heard them all). BytesWritten may be read from any thread.
class CountingPort final : public ForwardingPort {
 public:
  using ForwardingPort::ForwardingPort;

  /// Runs on the job's thread before every write goes through.
  std::function<void(std::span<const std::uint8_t>)> on_write;

  /// Bytes written through to the inner port since this one was made, over all opens.
  std::uint64_t BytesWritten() const { return bytes_written_; }
  std::size_t Write(std::span<const std::uint8_t> bytes) override {
    if (on_write) on_write(bytes);
    const std::size_t written = Inner().Write(bytes);
    bytes_written_ += written;
    return written;
  }

 private:
  std::atomic<std::uint64_t> bytes_written_{0};
};

}  // namespace tvx::testing
