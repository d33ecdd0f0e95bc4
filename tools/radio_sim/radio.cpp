// The radio's arithmetic (radio_arith.h), the choice of face (radio.h) and the events told
// as text (radio_output.h).
#include "radio_sim/radio.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "image/stored_image_data.h"

#ifndef TVX_ACCESS_CODE
#error "TVX_ACCESS_CODE is set by the build (see the top-level CMakeLists.txt)"
#endif

namespace tvx::sim {

const std::array<std::uint8_t, 4> kRadioAccessCode = {TVX_ACCESS_CODE};

std::array<std::uint8_t, 2> FrameCrc(std::span<const std::uint8_t> bytes) {
  unsigned crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc & 0xFF)};
}

std::uint16_t NextMix(std::uint16_t word) {
  const unsigned w = word;
  const unsigned in = ((w >> 15) ^ (w >> 4) ^ (w >> 3) ^ (w >> 2)) & 1;
  return static_cast<std::uint16_t>(((w << 1) & 0xFFFF) | in);
}

std::uint8_t DataCheckByte(std::uint8_t d0, std::uint8_t d1) {
  const unsigned x = (d0 ^ d1 ^ 0xFF) & 0xFF;
  return static_cast<std::uint8_t>(((x << 3) | (x >> 5)) & 0xFF);
}

std::array<std::uint8_t, 3> MaskSerial(std::uint16_t challenge, std::uint32_t serial) {
  const std::uint16_t k1 = NextMix(challenge);
  const std::uint16_t k2 = NextMix(k1);
  return {static_cast<std::uint8_t>((serial >> 8) ^ (k1 >> 8)),
          static_cast<std::uint8_t>(serial ^ k1),
          static_cast<std::uint8_t>((serial >> 16) ^ (k2 >> 8))};
}

ExpectedImage::ExpectedImage(std::span<const std::uint8_t> stored)
    : stored_(stored.empty() ? std::span<const std::uint8_t>(image::detail::kStoredImage,
                                                             image::detail::kStoredImageSize)
                             : stored) {
  std::uint8_t first = 0;
  std::uint8_t second = 0;
  std::uint32_t words = 0;
  walked_ = static_cast<std::uint32_t>(Records());
  for (std::size_t i = 0; i < Records(); ++i) {
    const ImageRecord r = Record(i);
    const int count = std::min(int{r.length} - 4, 16);
    if (count < 1) continue;
    unsigned address = unsigned{r.address_high} << 8 | r.address_low;
    for (int k = 0; k < count; k += 2) {
      first ^= r.data[static_cast<std::size_t>(k)];
      // The second byte of an odd record's last word is the next byte of its data field.
      second ^= r.data[static_cast<std::size_t>(k) + 1];
      ++words;
      address = (address + 2) & 0xFFFF;
    }
    if (address == 0) {
      walked_ = static_cast<std::uint32_t>(i) + 1;
      break;
    }
  }
  const std::uint8_t flip = words % 2 != 0 ? 0xFF : 0x00;
  checksum_ = {static_cast<std::uint8_t>(first ^ flip), static_cast<std::uint8_t>(second ^ flip)};
}

MemoryComparison CompareMemory(const ExpectedImage& image, const RadioMemory& memory) {
  MemoryComparison result;
  for (std::size_t i = 0; i < image.WalkedRecords(); ++i) {
    const ImageRecord r = image.Record(i);
    const int count = std::min(int{r.length} - 4, 16);
    const auto& space = memory.space[r.type == 14 ? 0 : 1];
    unsigned address = unsigned{r.address_high} << 8 | r.address_low;
    for (int k = 0; k < count; k += 2) {
      const bool same = space[address] == r.data[static_cast<std::size_t>(k)] &&
                        space[(address + 1) & 0xFFFF] == r.data[static_cast<std::size_t>(k) + 1];
      ++result.words;
      if (!same) ++result.differing;
      address = (address + 2) & 0xFFFF;
    }
  }
  return result;
}

ImageRecord ExpectedImage::Record(std::size_t index) const {
  const std::uint8_t* s = stored_.data() + index * 20;
  ImageRecord r;
  r.address_low = s[0];
  r.address_high = s[1];
  r.type = s[2];
  r.length = s[3];
  for (std::size_t group = 0; group < 4; ++group) {
    for (std::size_t i = 0; i < 4; ++i) r.data[group * 4 + i] = s[4 + group * 4 + 3 - i];
  }
  return r;
}

namespace {

constexpr std::string_view kModeNames[] = {"auto", "direct", "rf", "setup"};

/// Which face a first byte calls up (a typed key: printable, CR, backspace, escape, F1).
RadioMode DetectMode(std::uint8_t b) {
  if (b == kWakeByte || b == kProgramByte) return RadioMode::kDirect;
  if (b == RfLocalRadio::kHeaderType || b == RfLocalRadio::kDataType) return RadioMode::kRf;
  if ((b >= 0x20 && b < 0x7F) || b == 13 || b == 8 || b == 27 || b == 127 || b == 255) {
    return RadioMode::kSetup;
  }
  return RadioMode::kAuto;
}

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
      return "wrong access code";  // which byte, or what came, would tell the code
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
      {EventKind::kHangUp, "hanging up"},
      {EventKind::kComeBack, "back on a new device"}};
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
    if (active_ == RadioMode::kAuto && DetectMode(in[0]) != RadioMode::kAuto) {
      active_ = DetectMode(in[0]);
      ++counters_.mode_changes;
      out.Note(EventKind::kModeDetected, static_cast<std::uint32_t>(active_));
    }
    if (active_ != RadioMode::kAuto) {
      in = in.subspan(FeedActive(in, line, now, out));
      if (in.empty()) break;
      // The face at rest left in[0] alone: another one may take it, or nobody.
      if (config_.mode == RadioMode::kAuto) {
        active_ = RadioMode::kAuto;
        continue;
      }
    }
    ++counters_.stray_bytes;
    out.Note(EventKind::kStrayByte, in[0]);
    in = in.subspan(1);
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
