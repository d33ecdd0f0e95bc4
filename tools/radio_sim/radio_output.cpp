#include "radio_sim/radio_output.h"

#include <cstdio>
#include <utility>

#include "radio_sim/direct_radio.h"
#include "radio_sim/faults.h"
#include "radio_sim/radio_config.h"
#include "radio_sim/rf_local_radio.h"

namespace tvx::sim {

namespace {

std::string_view HandshakeFaultName(std::uint32_t why) {
  constexpr std::string_view kNames[] = {"a byte at the wrong line rate", "a pause too short",
                                         "a wrong access code", "a bad rate divisor"};
  return why < std::size(kNames) ? kNames[why] : "?";
}

// The byte after a handshake pause, by its position: 1..4 the access code, 5 the divisor.
std::string PauseText(const RadioEvent& e) {
  const double heard_ms = e.value / 1000.0;
  const std::string after =
      e.extra == 1 ? "\"4\"" : "access code byte " + std::to_string(e.extra - 1);
  const std::string needed = e.extra == 1 ? "300" : "10";
  char heard[32];
  std::snprintf(heard, sizeof heard, "%.1f", heard_ms);
  return "pause too short: " + std::string(heard) + " ms after " + after + ", the radio needs " +
         needed + " ms";
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string Describe(const RadioEvent& e) {
  const std::string v = std::to_string(e.value);
  switch (e.kind) {
    case EventKind::kModeDetected:
      return "talking " + std::string(RadioModeName(static_cast<RadioMode>(e.value)));
    case EventKind::kAccessCodeFault:
      return "wrong access code byte " + v + ": " + Hex(e.extra);
    case EventKind::kDivisorFault:
      return "bad rate divisor " + Hex(e.value);
    case EventKind::kIdentitySent:
      return "identity sent (challenge " + Hex(e.value) + ", " +
             std::to_string(e.extra != 0 ? 460800 / e.extra : 0) + " bit/s)";
    case EventKind::kLineRateFault:
      return "line rate fault: PC at " + v + " bit/s, radio at " + std::to_string(e.extra);
    case EventKind::kPauseFault:
      return PauseText(e);
    case EventKind::kHandshakeRefused:
      return "handshake refused (" + std::string(HandshakeFaultName(e.value)) +
             "): silent until the line is quiet";
    case EventKind::kCheckByteFailure:
      return "check byte failure at word " + v + " (address " + Hex(e.extra) + ")";
    case EventKind::kFaultFired: {
      const FaultInfo& info = InfoOf(static_cast<Fault>(e.value));
      std::string text = "fault: " + std::string(info.name);
      if (info.value == "B" && info.strikes == Strikes::kFrame) {
        return text + " (byte " + std::to_string(e.extra) + ")";
      }
      if (info.strikes != Strikes::kWord || e.extra == 0) return text;
      return text + " (word " + std::to_string(e.extra) + ")";
    }
    case EventKind::kChecksumSent:
      return "checksum sent " + Hex(e.value);
    case EventKind::kRfFrameBad:
      return "bad RF frame (" + std::string(RfFrameCheckName(static_cast<RfFrameCheck>(e.value))) +
             (e.extra != 0xFFFFFFFF ? ", record " + std::to_string(e.extra) : std::string()) + ")";
    case EventKind::kSetupLine:
      return "set-up line of " + v + " characters";
    case EventKind::kStrayByte:
      return "stray byte " + Hex(e.value);
    default:
      break;
  }
  // The events without a value.
  constexpr std::pair<EventKind, const char*> kFixed[] = {
      {EventKind::kDiagWake, "diagnostic port woken (\"U\")"},
      {EventKind::kProgramCommand, "programming command (\"4\")"},
      {EventKind::kLineSettingsFault, "line settings fault: not raw 8N1 without flow control"},
      {EventKind::kRefused, "radio refused by the PC (\"!\")"},
      {EventKind::kEraseStarted, "erase started"},
      {EventKind::kEraseDone, "erase done"},
      {EventKind::kResync, "resync"},
      {EventKind::kVerdictAccepted, "checksum accepted by the PC"},
      {EventKind::kVerdictRejected, "checksum rejected by the PC: read-back"},
      {EventKind::kReadBackDone, "read-back done"},
      {EventKind::kRfHeaderGood, "RF header frame good"},
      {EventKind::kHangUp, "hanging up"}};
  for (const auto& [kind, text] : kFixed) {
    if (kind == e.kind) return text;
  }
  return {};
}

}  // namespace tvx::sim
