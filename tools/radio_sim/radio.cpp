#include "radio_sim/radio.h"

namespace tvx::sim {

namespace {
constexpr std::string_view kModeNames[] = {"auto", "direct", "rf", "setup"};
}  // namespace

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
