#include "serial/network_serial_port.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/deadline.h"
#include "serial/failure_note.h"
#include "serial/network_port_name.h"
#include "serial/telnet_codec.h"

namespace tvx::serial {
namespace {

using telnet::ComCommand;

constexpr const char* kServerClosed = "the server closed the connection";
constexpr const char* kWriteTimedOut = "the server took nothing more within the write time-out";
constexpr std::size_t kReceiveChunk = 4096;

std::size_t Index(ComCommand command) {
  return static_cast<std::size_t>(command);
}

class NetworkSerialPort final : public SerialPort {
 public:
  NetworkSerialPort(std::unique_ptr<TcpLink> link, NetworkPortLimits limits)
      : link_(std::move(link)), limits_(limits) {}
  NetworkSerialPort(const NetworkSerialPort&) = delete;
  NetworkSerialPort& operator=(const NetworkSerialPort&) = delete;
  ~NetworkSerialPort() override { Close(); }

  ErrorNumber Open(std::string_view name) override;
  std::string OpenFailureText() const override { return open_failure_; }
  std::string FailureText() const override { return failure_.Text(); }
  bool IsOpen() const override { return open_; }
  ErrorNumber Close() override;

  ErrorNumber Apply(LineSetting setting, std::uint32_t value) override;
  ErrorNumber GetTimeouts(Timeouts& out) override;
  ErrorNumber SetTimeouts(const Timeouts& timeouts) override;
  ErrorNumber GetControlState(ControlState& out) override;
  ErrorNumber SetControlState(const ControlState& state) override;
  ErrorNumber PurgeInput() override;

  WaitingCount BytesWaiting() override;
  std::size_t Read(std::span<std::uint8_t> into) override;
  std::size_t Write(std::span<const std::uint8_t> bytes) override;
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override;
  bool LineDead() const override { return dead_; }

 private:
  // Takes what the connection has and reads it: data into the inbox, answers kept, negotiation
  // answered. Main thread.
  void Pump();
  // Sends `bytes` whole under the send mutex, within `limit_ms`. False when it did not.
  bool SendWhole(std::span<const std::uint8_t> bytes, int limit_ms);
  // Sends one request and waits for the server's answer to `command`, which must be `expected`.
  // `what` names the setting in the failure's words.
  ErrorNumber Request(const std::vector<std::uint8_t>& message, ComCommand command,
                      std::uint32_t expected, const char* what);
  // Before the connection closes: what was written since the radio last answered has reached
  // the server and had the time to leave on the line. A server sets its device back when its
  // client leaves; bytes still on their way would go out at those settings.
  void Settle();
  // DTR on or off: sent, never waited for.
  ErrorNumber SendDtr(bool on);
  ErrorNumber Refused(std::string words);
  ErrorNumber OpenFailed(ErrorNumber code, std::string words);
  void Died(std::string words);
  std::size_t Available() const { return inbox_.size() - inbox_from_; }
  // Moves up to into.size() buffered bytes into `into`; returns how many.
  std::size_t Take(std::span<std::uint8_t> into);

  std::unique_ptr<TcpLink> link_;
  const NetworkPortLimits limits_;
  bool open_ = false;
  std::string open_failure_;
  FailureNote failure_;
  std::mutex send_mutex_;  // one message on the connection at a time

  // Main thread only (Open, Close and the settings never overlap Write).
  telnet::Reader reader_;
  std::vector<std::uint8_t> inbox_;  // decoded bytes, from inbox_from_ on not yet read
  std::size_t inbox_from_ = 0;
  std::array<std::uint64_t, telnet::kComCommandCount> answers_seen_{};
  std::array<std::uint32_t, telnet::kComCommandCount> last_answer_{};
  bool line_error_ = false;
  ControlState control_{};
  bool flow_off_asked_ = false;
  Timeouts timeouts_{};
  // The connection closed. With unsettled_ the values Write (the writer thread) and the main
  // thread both change.
  std::atomic<bool> dead_{false};
  // Bytes written since data last came in (an answer of the radio, which had the earlier ones).
  std::atomic<std::size_t> unsettled_{0};
};

ErrorNumber NetworkSerialPort::Open(std::string_view name) {
  if (open_) return kErrPortAlreadyOpen;
  open_failure_.clear();
  std::string why;
  const auto address = ParseNetworkPortName(name, why);
  if (!address) {
    open_failure_ = "not a serial server's port: " + why;
    return kErrBadPortName;
  }
  if (const ErrorNumber code = link_->Connect(address->host, address->port, limits_.connect_ms);
      code != kNoError) {
    open_failure_ = link_->FailureText();
    link_->Close();
    return code;
  }
  reader_ = telnet::Reader();
  inbox_.clear();
  inbox_from_ = 0;
  answers_seen_.fill(0);
  last_answer_.fill(0);
  line_error_ = false;
  control_ = ControlState{};
  flow_off_asked_ = false;
  timeouts_ = Timeouts{};
  dead_ = false;
  unsettled_ = 0;
  failure_.Clear();
  open_ = true;

  // The server must take serial-port requests before any setting can be made.
  const std::vector<std::uint8_t> offer = telnet::OpeningNegotiation();
  if (!SendWhole(offer, limits_.answer_ms)) return OpenFailed(kErrNoSuchPort, failure_.Text());
  const Deadline deadline = Deadline::InMs(limits_.answer_ms);
  for (;;) {
    Pump();
    if (reader_.ComPort().enabled) return kNoError;
    if (reader_.ComPort().refused) {
      return OpenFailed(kErrDeviceControl, "the server does not take serial-port requests");
    }
    if (dead_) return OpenFailed(kErrNoSuchPort, failure_.Text());
    const int left = deadline.MsLeft();
    if (left == 0) {
      return OpenFailed(kErrNoSuchPort, "the server did not answer the telnet negotiation within " +
                                            std::to_string(limits_.answer_ms) + " ms");
    }
    link_->AwaitInput(console::kNoWaitHandle, left);
  }
}

ErrorNumber NetworkSerialPort::OpenFailed(ErrorNumber code, std::string words) {
  Close();
  open_failure_ = std::move(words);
  return code;
}

ErrorNumber NetworkSerialPort::Close() {
  if (!open_) return kNoError;
  Settle();
  link_->Close();
  open_ = false;
  dead_ = false;
  inbox_.clear();
  inbox_from_ = 0;
  failure_.Clear();
  return kNoError;
}

void NetworkSerialPort::Settle() {
  const std::size_t bytes = unsettled_.exchange(0);
  if (bytes == 0 || dead_ || control_.line_rate == 0) return;
  // A query of the rate (value 0) is answered once the server has read all that came before.
  Request(telnet::SetBaudRate(0), ComCommand::kSetBaudRate, control_.line_rate, "line rate");
  const long long line_ms = 1 + static_cast<long long>(bytes) * 10'000 / control_.line_rate;
  std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(line_ms, 100)));
}

void NetworkSerialPort::Died(std::string words) {
  failure_.Keep(std::move(words));
  dead_ = true;
}

ErrorNumber NetworkSerialPort::Refused(std::string words) {
  failure_.Keep(std::move(words));
  return kErrDeviceControl;
}

void NetworkSerialPort::Pump() {
  if (!open_) return;
  std::array<std::uint8_t, kReceiveChunk> chunk;
  telnet::ReadEvents events;
  for (;;) {
    const std::size_t n = link_->Receive(chunk);
    if (n == 0) break;
    if (inbox_from_ == inbox_.size()) {
      inbox_.clear();
      inbox_from_ = 0;
    } else if (inbox_from_ > kReceiveChunk * 16) {
      inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(inbox_from_));
      inbox_from_ = 0;
    }
    const std::size_t before = inbox_.size();
    reader_.Feed(std::span(chunk.data(), n), inbox_, events);
    if (inbox_.size() > before) unsettled_ = 0;
  }
  for (const telnet::ComReply& answer : events.replies) {
    const std::uint32_t value = answer.Number();
    // DTR answers (when a server gives them) are not waited for: kept out of the flow answers.
    if (answer.command == ComCommand::kSetControl &&
        (value == telnet::kControlDtrOn || value == telnet::kControlDtrOff || value == 7)) {
      continue;
    }
    ++answers_seen_[Index(answer.command)];
    last_answer_[Index(answer.command)] = value;
  }
  if (events.line_errors != 0) {
    line_error_ = true;
    failure_.Keep("the server reported an overrun or a framing error");
  }
  if (!events.answers.empty()) SendWhole(events.answers, limits_.answer_ms);
  if (!dead_ && link_->PeerGone()) {
    const std::string words = link_->FailureText();
    Died(words.empty() ? kServerClosed : words);
  }
}

bool NetworkSerialPort::SendWhole(std::span<const std::uint8_t> bytes, int limit_ms) {
  std::size_t sent = 0;
  {
    std::lock_guard lock(send_mutex_);
    sent = link_->Send(bytes, limit_ms);
  }
  if (sent == bytes.size()) return true;
  if (link_->PeerGone()) {
    const std::string words = link_->FailureText();
    Died(words.empty() ? kServerClosed : words);
  } else {
    failure_.Keep("the server took nothing more within " + std::to_string(limit_ms) + " ms");
  }
  return false;
}

ErrorNumber NetworkSerialPort::Request(const std::vector<std::uint8_t>& message, ComCommand command,
                                       std::uint32_t expected, const char* what) {
  Pump();
  const std::uint64_t before = answers_seen_[Index(command)];
  if (!SendWhole(message, limits_.answer_ms)) return dead_ ? kErrLineDead : kErrDeviceControl;
  const Deadline deadline = Deadline::InMs(limits_.answer_ms);
  while (answers_seen_[Index(command)] == before) {
    if (dead_) return kErrLineDead;
    const int left = deadline.MsLeft();
    if (left == 0) {
      return Refused(std::string("the server did not answer the ") + what + " request within " +
                     std::to_string(limits_.answer_ms) + " ms");
    }
    link_->AwaitInput(console::kNoWaitHandle, left);
    Pump();
  }
  const std::uint32_t got = last_answer_[Index(command)];
  if (got != expected) {
    return Refused(std::string("the server set the ") + what + " to " + std::to_string(got) +
                   " instead of " + std::to_string(expected));
  }
  return kNoError;
}

ErrorNumber NetworkSerialPort::SendDtr(bool on) {
  const auto message = telnet::ComRequestByte(ComCommand::kSetControl,
                                              on ? telnet::kControlDtrOn : telnet::kControlDtrOff);
  if (!SendWhole(message, limits_.answer_ms)) return dead_ ? kErrLineDead : kErrDeviceControl;
  control_.dtr_on = on;
  return kNoError;
}

ErrorNumber NetworkSerialPort::Apply(LineSetting setting, std::uint32_t value) {
  if (!open_) return kErrPortNotOpen;
  ErrorNumber code = kNoError;
  switch (setting) {
    case LineSetting::kLineRate:
      if (value == 0) return Refused("a line rate of 0 bit/s");
      code = Request(telnet::SetBaudRate(value), ComCommand::kSetBaudRate, value, "line rate");
      if (code == kNoError) control_.line_rate = value;
      return code;
    case LineSetting::kDataBits:
      if (value < 5 || value > 8) return Refused("data bits other than 5 to 8");
      code = Request(
          telnet::ComRequestByte(ComCommand::kSetDataSize, static_cast<std::uint8_t>(value)),
          ComCommand::kSetDataSize, value, "data size");
      if (code == kNoError) control_.data_bits = static_cast<std::uint8_t>(value);
      return code;
    case LineSetting::kParityCheck:
      if (value != 0) return Refused("a serial server offers no parity checking of its own");
      code = Request(telnet::ComRequestByte(ComCommand::kSetParity, telnet::kParityNone),
                     ComCommand::kSetParity, telnet::kParityNone, "parity");
      if (code == kNoError) control_.parity = false;
      return code;
    case LineSetting::kStopBits:
      if (value != 1 && value != 2) return Refused("stop bits other than 1 or 2");
      code = Request(
          telnet::ComRequestByte(ComCommand::kSetStopSize, static_cast<std::uint8_t>(value)),
          ComCommand::kSetStopSize, value, "stop size");
      if (code == kNoError) control_.stop_bits = static_cast<std::uint8_t>(value);
      return code;
    case LineSetting::kTxQueueSize:
    case LineSetting::kRxQueueSize:
      return kNoError;  // the queues are the server's and this port's own buffers
    case LineSetting::kCtsOutputFlow:
    case LineSetting::kDsrOutputFlow:
    case LineSetting::kDsrSensitivity:
    case LineSetting::kDtrHandshake:
      if (value != 0) return Refused("flow control by modem lines on a serial server's port");
      if (flow_off_asked_) return kNoError;  // one request turns all of it off
      code = Request(telnet::ComRequestByte(ComCommand::kSetControl, telnet::kControlNoFlow),
                     ComCommand::kSetControl, telnet::kControlNoFlow, "flow control");
      flow_off_asked_ = code == kNoError;
      return code;
    case LineSetting::kDtrLine:
      return SendDtr(value != 0);
  }
  return Refused("an unknown line setting");
}

ErrorNumber NetworkSerialPort::GetTimeouts(Timeouts& out) {
  if (!open_) return kErrPortNotOpen;
  out = timeouts_;
  return kNoError;
}

ErrorNumber NetworkSerialPort::SetTimeouts(const Timeouts& timeouts) {
  if (!open_) return kErrPortNotOpen;
  timeouts_ = timeouts;
  return kNoError;
}

ErrorNumber NetworkSerialPort::GetControlState(ControlState& out) {
  if (!open_) return kErrPortNotOpen;
  out = control_;
  return kNoError;
}

ErrorNumber NetworkSerialPort::SetControlState(const ControlState& state) {
  if (!open_) return kErrPortNotOpen;
  // The rate goes first and alone, and is in force at the server when this returns: the radio
  // answers at the new rate right after the switch.
  ErrorNumber result = Apply(LineSetting::kLineRate, state.line_rate);
  const auto also = [&result](ErrorNumber code) {
    if (code != kNoError) result = code;
  };
  if (state.data_bits != control_.data_bits) also(Apply(LineSetting::kDataBits, state.data_bits));
  if (state.parity) also(Apply(LineSetting::kParityCheck, 1));
  if (state.stop_bits != control_.stop_bits) also(Apply(LineSetting::kStopBits, state.stop_bits));
  if (state.cts_output_flow) also(Apply(LineSetting::kCtsOutputFlow, 1));
  if (state.dsr_output_flow) also(Apply(LineSetting::kDsrOutputFlow, 1));
  if (state.dtr_on != control_.dtr_on) also(SendDtr(state.dtr_on));
  return result;
}

ErrorNumber NetworkSerialPort::PurgeInput() {
  if (!open_) return kErrPortNotOpen;
  if (dead_) return kErrLineDead;
  // The answer comes after everything the server sent before it: once it is here, so is that.
  return Request(telnet::ComRequestByte(ComCommand::kPurgeData, telnet::kPurgeReceive),
                 ComCommand::kPurgeData, telnet::kPurgeReceive, "purge");
}

WaitingCount NetworkSerialPort::BytesWaiting() {
  if (!open_) return {0, kErrPortNotOpen};
  Pump();
  if (line_error_) {
    line_error_ = false;  // each report once, as the driver's counters are
    return {0, kErrLineError};
  }
  if (Available() > 0) return {Available(), kNoError};
  if (dead_) return {0, kErrLineDead};
  return {0, kNoError};
}

std::size_t NetworkSerialPort::Take(std::span<std::uint8_t> into) {
  const std::size_t n = std::min(into.size(), Available());
  std::copy_n(inbox_.begin() + static_cast<std::ptrdiff_t>(inbox_from_), n, into.begin());
  inbox_from_ += n;
  return n;
}

std::size_t NetworkSerialPort::Read(std::span<std::uint8_t> into) {
  if (!open_ || into.empty()) return 0;
  const Timeouts t = timeouts_;
  ReadTimer timer(t.read_interval, t.read_total_per_byte, t.read_total_constant, into.size());
  std::size_t got = 0;
  while (got < into.size()) {
    std::size_t n = Take(into.subspan(got));
    if (n == 0) {
      Pump();
      n = Take(into.subspan(got));
    }
    if (n > 0) {
      got += n;
      if (timer.EndsWithBytes()) break;
      continue;
    }
    if (dead_ || timer.AtOnce()) break;
    const int wait = timer.MsLeft();
    if (wait == 0) break;
    link_->AwaitInput(console::kNoWaitHandle, wait);
  }
  return got;
}

std::size_t NetworkSerialPort::Write(std::span<const std::uint8_t> bytes) {
  if (!open_ || dead_ || bytes.empty()) return 0;
  const Deadline deadline = Deadline::ForTransfer(timeouts_.write_total_per_byte,
                                                  timeouts_.write_total_constant, bytes.size());
  std::vector<std::uint8_t> wire;
  telnet::AppendEscaped(bytes, wire);
  std::size_t sent = 0;
  {
    std::lock_guard lock(send_mutex_);
    sent = link_->Send(wire, deadline.MsLeft());
    if (sent < wire.size() && sent > 0 && wire[sent - 1] == telnet::kIac) {
      // A doubled 0xFF cut in half would turn the next byte into a command: finish the pair.
      std::size_t run = 0;
      for (std::size_t i = sent; i > 0 && wire[i - 1] == telnet::kIac; --i) ++run;
      if (run % 2 == 1) sent += link_->Send(std::span(wire).subspan(sent, 1), limits_.answer_ms);
    }
  }
  if (sent < wire.size()) {
    if (link_->PeerGone()) {
      const std::string words = link_->FailureText();
      Died(words.empty() ? kServerClosed : words);
    } else {
      failure_.Keep(kWriteTimedOut);
    }
  }
  unsettled_ += sent;
  // The count of the caller's bytes whose whole escaped form left.
  std::size_t written = 0;
  for (std::size_t on_wire = 0; written < bytes.size(); ++written) {
    on_wire += bytes[written] == telnet::kIac ? 2 : 1;
    if (on_wire > sent) break;
  }
  return written;
}

void NetworkSerialPort::AwaitActivity(console::NativeWaitHandle also, int timeout_ms) {
  if (open_) {
    if (Available() > 0 || line_error_) return;
    // A closed connection would report itself at once on every call: re-check at a calm pace.
    if (dead_ && (timeout_ms < 0 || timeout_ms > kHungUpWaitMs)) timeout_ms = kHungUpWaitMs;
  }
  link_->AwaitInput(also, timeout_ms);
}

}  // namespace

std::unique_ptr<SerialPort> MakeNetworkSerialPort(std::unique_ptr<TcpLink> link,
                                                  NetworkPortLimits limits) {
  return std::make_unique<NetworkSerialPort>(std::move(link), limits);
}

}  // namespace tvx::serial
