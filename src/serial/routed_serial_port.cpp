#include "serial/routed_serial_port.h"

#include <utility>

#include "serial/network_port_name.h"

namespace tvx::serial {
namespace {

class RoutedSerialPort final : public SerialPort {
 public:
  RoutedSerialPort(std::unique_ptr<SerialPort> local, std::unique_ptr<SerialPort> network)
      : local_(std::move(local)), network_(std::move(network)), active_(local_.get()) {}

  ErrorNumber Open(std::string_view device) override {
    if (active_->IsOpen()) return kErrPortAlreadyOpen;
    active_ = IsNetworkPortName(device) ? network_.get() : local_.get();
    return active_->Open(device);
  }
  std::string OpenFailureText() const override { return active_->OpenFailureText(); }
  std::string FailureText() const override { return active_->FailureText(); }
  bool IsOpen() const override { return active_->IsOpen(); }
  ErrorNumber Close() override { return active_->Close(); }

  ErrorNumber Apply(LineSetting setting, std::uint32_t value) override {
    return active_->Apply(setting, value);
  }
  ErrorNumber GetTimeouts(Timeouts& out) override { return active_->GetTimeouts(out); }
  ErrorNumber SetTimeouts(const Timeouts& timeouts) override {
    return active_->SetTimeouts(timeouts);
  }
  ErrorNumber GetControlState(ControlState& out) override { return active_->GetControlState(out); }
  ErrorNumber SetControlState(const ControlState& state) override {
    return active_->SetControlState(state);
  }
  ErrorNumber PurgeInput() override { return active_->PurgeInput(); }

  WaitingCount BytesWaiting() override { return active_->BytesWaiting(); }
  std::size_t Read(std::span<std::uint8_t> into) override { return active_->Read(into); }
  std::size_t Write(std::span<const std::uint8_t> bytes) override { return active_->Write(bytes); }
  bool LineDead() const override { return active_->LineDead(); }
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override {
    active_->AwaitActivity(also, timeout_ms);
  }

 private:
  std::unique_ptr<SerialPort> local_;
  std::unique_ptr<SerialPort> network_;
  SerialPort* active_;  // changes only in Open, which never overlaps the writer thread's Write
};

}  // namespace

std::unique_ptr<SerialPort> MakeRoutedSerialPort(std::unique_ptr<SerialPort> local,
                                                 std::unique_ptr<SerialPort> network) {
  return std::make_unique<RoutedSerialPort>(std::move(local), std::move(network));
}

}  // namespace tvx::serial
