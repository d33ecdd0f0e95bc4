// The whole simulated radio: programming mode, RF local radio and set-up menu behind one byte
// stream. In RadioMode::kAuto the first byte picks the face ("U"/"4" direct, 0xE2/0xE3 RF, a
// typed key set-up), which keeps the line until it is at rest and meets a byte that starts none
// of its own. Pure engine: no I/O, no clock; the caller passes the time and the line settings.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "radio_sim/direct_radio.h"
#include "radio_sim/radio_config.h"
#include "radio_sim/radio_output.h"
#include "radio_sim/rf_local_radio.h"
#include "radio_sim/setup_interface.h"

namespace tvx::sim {

struct RadioCounters {
  std::uint64_t bytes_received = 0;
  std::uint64_t bytes_sent = 0;
  std::uint64_t stray_bytes = 0;  ///< bytes no face of the radio could take
  std::uint32_t mode_changes = 0;
  DirectCounters direct;
  RfCounters rf;
  SetupCounters setup;
};

/// How the words of an image compare with what a radio's memory holds.
struct MemoryComparison {
  std::uint32_t words = 0;      ///< words of the image's walk
  std::uint32_t differing = 0;  ///< of them, those the memory does not hold
};
/// Compares every word of `image`'s walk (in the space its type names) with `memory`.
MemoryComparison CompareMemory(const ExpectedImage& image, const RadioMemory& memory);

/// A copy of everything a test may want to look at.
struct RadioSnapshot {
  RadioCounters counters;
  RadioMemory memory;
  std::vector<RecordFrameStats> rf_records;
};

class Radio {
 public:
  explicit Radio(const RadioConfig& config);

  /// Handles bytes received from the PC; appends the answer to `out` (nothing if silent).
  void Feed(std::span<const std::uint8_t> in, const LineState& line, double now, RadioOutput& out);
  /// Lets time pass (erase, rate-switch check, frame time-outs).
  void Advance(const LineState& line, double now, RadioOutput& out);
  /// When Advance next has work (absolute seconds), if anything waits on time.
  std::optional<double> NextDeadline(double now) const;

  const RadioConfig& Config() const { return config_; }
  /// kAuto while no face has the line.
  RadioMode ActiveMode() const { return active_; }
  /// The set-up menu's output should go out at the line rate (unless RadioConfig::fast_setup).
  bool PacedOutput() const { return active_ == RadioMode::kSetup && !config_.fast_setup; }
  /// How much later than usual the answers now leave, in seconds (the set-up menu's slow
  /// fault); the runners add it to each answer's delivery.
  double AnswerDelay() const {
    const FaultRequest* slow = config_.Find(Fault::kSetupSlow);
    return active_ == RadioMode::kSetup && slow != nullptr ? ValueOf(*slow) / 1000.0 : 0.0;
  }

  RadioCounters Counters() const;
  void Fill(RadioSnapshot& snapshot) const;

  const DirectRadio& Direct() const { return direct_; }
  const RfLocalRadio& Rf() const { return rf_; }
  const SetupInterface& Setup() const { return setup_; }

 private:
  std::size_t FeedActive(std::span<const std::uint8_t> in, const LineState& line, double now,
                         RadioOutput& out);

  RadioConfig config_;
  DirectRadio direct_;
  RfLocalRadio rf_;
  SetupInterface setup_;
  RadioMode active_;
  RadioCounters counters_;  ///< the radio's own; the faces' are filled in by Counters()
};

}  // namespace tvx::sim
