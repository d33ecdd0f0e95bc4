#include "radio_sim/radio.h"

#include <cstdio>
#include <utility>

namespace tvx::sim {

namespace {

constexpr std::string_view kModeNames[] = {"auto", "direct", "rf", "setup"};

std::string_view HandshakeFaultName(std::uint32_t why) {
  constexpr std::string_view kNames[] = {"a byte at the wrong line rate", "a pause too short",
                                         "a wrong access code", "a bad rate divisor"};
  return why < std::size(kNames) ? kNames[why] : "?";
}

// The byte after a handshake pause, by its position: 1..4 the access code, 5 the divisor.
std::string PauseText(const RadioEvent& e) {
  const std::string after =
      e.extra == 1 ? "\"4\"" : "access code byte " + std::to_string(e.extra - 1);
  char text[128];
  std::snprintf(text, sizeof text, "pause too short: %.1f ms after %s, the radio needs %s ms",
                e.value / 1000.0, after.c_str(), e.extra == 1 ? "300" : "10");
  return text;
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

bool ParseRadioMode(std::string_view text, RadioMode& mode) {
  for (std::size_t i = 0; i < std::size(kModeNames); ++i) {
    if (text == kModeNames[i]) mode = static_cast<RadioMode>(i);
    if (text == kModeNames[i]) return true;
  }
  return false;
}

std::string_view RadioModeName(RadioMode mode) {
  return kModeNames[static_cast<std::size_t>(mode)];
}

RadioMode DetectMode(std::uint8_t b) {
  if (b == kWakeByte || b == kProgramByte) return RadioMode::kDirect;
  if (b == RfLocalRadio::kHeaderType || b == RfLocalRadio::kDataType) return RadioMode::kRf;
  if ((b >= 0x20 && b < 0x7F) || b == 13 || b == 8 || b == 27 || b == 127 || b == 255) {
    return RadioMode::kSetup;
  }
  return RadioMode::kAuto;
}

Radio::Radio(const RadioConfig& config)
    : config_(config), direct_(config), rf_(config), setup_(config), active_(config.mode) {}

std::size_t Radio::FeedActive(std::span<const std::uint8_t> in, const LineState& line, double now,
                              RadioOutput& out) {
  if (active_ == RadioMode::kDirect) return direct_.Feed(in, line, now, out);
  if (active_ == RadioMode::kRf) return rf_.Feed(in, line, now, out);
  return active_ == RadioMode::kSetup ? setup_.Feed(in, line, now, out) : 0;
}

void Radio::Feed(std::span<const std::uint8_t> in, const LineState& line, double now,
                 RadioOutput& out) {
  const std::size_t start = out.Bytes().size();
  counters_.bytes_received += in.size();
  while (!in.empty()) {
    if (active_ == RadioMode::kAuto) {
      const RadioMode detected = DetectMode(in[0]);
      if (detected == RadioMode::kAuto) {
        ++counters_.stray_bytes;
        out.Note(EventKind::kStrayByte, in[0]);
        in = in.subspan(1);
        continue;
      }
      active_ = detected;
      ++counters_.mode_changes;
      out.Note(EventKind::kModeDetected, static_cast<std::uint32_t>(detected));
    }
    in = in.subspan(FeedActive(in, line, now, out));
    if (in.empty()) break;
    // The face at rest left in[0] alone: another one may take it, or nobody.
    if (config_.mode == RadioMode::kAuto) {
      active_ = RadioMode::kAuto;
    } else {
      ++counters_.stray_bytes;
      out.Note(EventKind::kStrayByte, in[0]);
      in = in.subspan(1);
    }
  }
  if (config_.Has(Fault::kSilent)) out.TruncateBytes(start);
  counters_.bytes_sent += out.Bytes().size() - start;
}

void Radio::Advance(const LineState& line, double now, RadioOutput& out) {
  const std::size_t start = out.Bytes().size();
  direct_.Advance(line, now, out);
  rf_.Advance(line, now, out);
  if (config_.Has(Fault::kSilent)) out.TruncateBytes(start);
  counters_.bytes_sent += out.Bytes().size() - start;
}

std::optional<double> Radio::NextDeadline(double now) const {
  Earliest next;
  direct_.NextDeadline(now, next);
  rf_.NextDeadline(next);
  return next.at;
}

RadioCounters Radio::Counters() const {
  RadioCounters c = counters_;
  c.direct = direct_.Counters();
  c.rf = rf_.Counters();
  c.setup = setup_.Counters();
  return c;
}

void Radio::Fill(RadioSnapshot& snapshot) const {
  snapshot.counters = Counters();
  snapshot.memory = direct_.Memory();
  snapshot.rf_records = rf_.RecordStats();
}

}  // namespace tvx::sim
