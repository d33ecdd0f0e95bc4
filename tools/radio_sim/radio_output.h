// What the radio produces while it handles received bytes: its answer, events for logs and tests,
// requests for the line. The caller empties it after each batch; its storage is reused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tvx::sim {

enum class EventKind : std::uint8_t {
  kModeDetected,       ///< value: RadioMode
  kDiagWake,           ///< "U" heard
  kProgramCommand,     ///< "4" heard: programming handshake begins
  kAccessCodeFault,    ///< the access code was wrong (nothing more is kept: it would tell it)
  kDivisorFault,       ///< value: the byte heard
  kIdentitySent,       ///< value: challenge, extra: divisor
  kLineRateFault,      ///< value: rate the PC had, extra: rate expected
  kLineSettingsFault,  ///< the PC's line is not 8N1 raw without flow control
  kPauseFault,         ///< value: the pause heard in microseconds, extra: handshake byte 1..5
  kHandshakeRefused,   ///< value: HandshakeFault; the radio stays silent
  kRefused,            ///< "!" heard: back to idle
  kEraseStarted,
  kEraseDone,
  kCheckByteFailure,  ///< value: word attempt, extra: address
  kResync,            ///< four 0xFF heard
  kFaultFired,        ///< value: Fault, extra: word attempt (or frame, byte...)
  kChecksumSent,      ///< value: first byte << 8 | second byte
  kVerdictAccepted,
  kVerdictRejected,
  kReadBackDone,
  kRfFrameBad,  ///< value: RfFrameCheck, extra: record index (or 0xFFFFFFFF)
  kRfHeaderGood,
  kSetupLine,  ///< value: length of the typed line
  kStrayByte,  ///< value: the byte, heard where no protocol expects it
  kHangUp,     ///< value: 1 when the device comes back (the set-up hang-up fault)
  kComeBack,   ///< the device is back (a new one, under the same link path)
};

struct RadioEvent {
  EventKind kind = EventKind::kStrayByte;
  std::uint32_t value = 0;
  std::uint32_t extra = 0;
};

/// One line of text for a log ("resync", "check byte failure at word 17 (address 0x8020)").
std::string Describe(const RadioEvent& event);

class RadioOutput {
 public:
  RadioOutput() {
    bytes_.reserve(8192);
    events_.reserve(64);
  }

  void Send(std::uint8_t byte) { bytes_.push_back(byte); }
  void Send(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  }
  void Send(std::string_view text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }
  void Note(EventKind kind, std::uint32_t value = 0, std::uint32_t extra = 0) {
    events_.push_back(RadioEvent{kind, value, extra});
  }
  void RequestHangUp() { hang_up_ = true; }
  /// The PC's line should report a receive error (as a framing error would) from now on.
  void RequestLineError() { line_error_ = true; }

  std::span<const std::uint8_t> Bytes() const { return bytes_; }
  std::span<const RadioEvent> Events() const { return events_; }
  bool HangUpRequested() const { return hang_up_; }
  bool LineErrorRequested() const { return line_error_; }

  /// Forgets the bytes sent after the first `size` (a silent radio sends nothing).
  void TruncateBytes(std::size_t size) {
    if (size < bytes_.size()) bytes_.resize(size);
  }
  /// Empties everything, keeping the storage.
  void Clear() {
    bytes_.clear();
    events_.clear();
    hang_up_ = false;
    line_error_ = false;
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::vector<RadioEvent> events_;
  bool hang_up_ = false;
  bool line_error_ = false;
};

}  // namespace tvx::sim
