#include "job/line.h"

#include <vector>

namespace tvx::job {
using namespace serial;

LineResult Line::Latched(std::size_t count, ErrorNumber code) {
  errors_.Latch(code);
  return {count, code};
}

std::array<std::pair<LineSetting, std::uint32_t>, 11> ProfileSettings(Profile profile,
                                                                      std::uint32_t terminal_rate) {
  std::uint32_t rate = terminal_rate;
  std::uint32_t rx_queue = 1024;
  if (profile == Profile::kRfUpload) {
    rate = 115200;
    rx_queue = 2048;
  } else if (profile == Profile::kDirectUpload) {
    rate = 19200;
    rx_queue = 2048;
  }
  return {{
      {LineSetting::kLineRate, rate},
      {LineSetting::kDataBits, 8},
      {LineSetting::kParityCheck, 0},
      {LineSetting::kStopBits, 1},
      {LineSetting::kTxQueueSize, 1024},
      {LineSetting::kRxQueueSize, rx_queue},
      {LineSetting::kCtsOutputFlow, 0},
      {LineSetting::kDsrOutputFlow, 0},
      {LineSetting::kDsrSensitivity, 0},
      {LineSetting::kDtrHandshake, 0},
      {LineSetting::kDtrLine, 1},
  }};
}

OpenResult Line::Open(std::string_view device, Profile profile, std::uint32_t terminal_rate) {
  OpenResult result;
  // The checks look at what this open and these settings did: a code still pending from an
  // earlier operation is not a failure of this port.
  result.code = port_.Open(device);
  errors_.Latch(result.code);
  if (result.code != kNoError) {
    result.reason = port_.OpenFailureText();
    return result;
  }
  for (const auto& [setting, value] : ProfileSettings(profile, terminal_rate)) {
    const ErrorNumber code = port_.Apply(setting, value);
    errors_.Latch(code);
    if (code != kNoError) {
      result.code = code;
      result.settings_refused = true;
      result.reason = port_.FailureText();
    }
  }
  if (result.settings_refused && profile != Profile::kTerminal) port_.Close();
  return result;
}

void Line::ZeroTimeouts() {
  Timeouts timeouts;
  port_.GetTimeouts(timeouts);
  port_.SetTimeouts(Timeouts{});
}

void Line::BoundWrites(std::uint32_t constant_ms) {
  Timeouts timeouts;
  port_.GetTimeouts(timeouts);
  timeouts.write_total_per_byte = 0;
  timeouts.write_total_constant = constant_ms;
  port_.SetTimeouts(timeouts);
}

LineResult Line::ReadControlState(ControlState& out) {
  return Latched(0, port_.GetControlState(out));
}

LineResult Line::SwitchRate(ControlState& snapshot, std::uint8_t divisor) {
  if (divisor == 0) return {};  // no rate to switch to; the line stays as it is
  snapshot.line_rate = 460800u / divisor;
  return Latched(0, port_.SetControlState(snapshot));
}

LineResult Line::Waiting() {
  const WaitingCount waiting = port_.BytesWaiting();
  return Latched(waiting.error == kNoError ? waiting.count : 0, waiting.error);
}

LineResult Line::Receive(std::span<std::uint8_t> into) {
  if (!port_.IsOpen()) return Latched(0, kErrPortNotOpen);
  const std::size_t got = into.empty() ? 0 : port_.Read(into);
  if (got < into.size() && port_.LineDead()) return Latched(got, kErrLineDead);
  return {got, kNoError};
}

LineResult Line::Send(std::span<const std::uint8_t> bytes) {
  // A send knows one failure of its own, whatever the port's state: it did not write it all.
  const std::size_t written = bytes.empty() || !port_.IsOpen() ? 0 : port_.Write(bytes);
  if (written == bytes.size()) return {written, kNoError};
  return Latched(written, port_.LineDead() ? kErrLineDead : kErrSendFailed);
}

LineResult Line::SendByte(std::uint8_t byte) {
  return Send(std::span<const std::uint8_t>(&byte, 1));
}

LineResult Line::Purge() {
  if (!port_.IsOpen()) return {};
  const ErrorNumber code = port_.PurgeInput();
  if (code == kNoError) return {};
  return Latched(0, code);
}

LineResult Line::Discard() {
  if (const LineResult purged = Purge(); purged.dead()) return purged;
  const LineResult waiting = Waiting();
  if (waiting.count == 0) return waiting;
  std::vector<std::uint8_t> bytes(waiting.count);
  return Receive(bytes);
}

bool Line::Dead() {
  if (errors_.code == kErrLineDead) return true;
  if (!port_.LineDead()) return false;
  errors_.Latch(kErrLineDead);
  return true;
}

}  // namespace tvx::job
