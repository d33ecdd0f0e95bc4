// What the simulated radio is told before it starts, and the PC's line settings as it sees them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "radio_sim/faults.h"
#include "radio_sim/radio_arith.h"

namespace tvx::sim {

/// Which of the radio's three faces answers. kAuto picks from the first bytes it hears.
enum class RadioMode { kAuto, kDirect, kRf, kSetup };

/// Parses "auto", "direct", "rf", "setup". False for anything else.
bool ParseRadioMode(std::string_view text, RadioMode& mode);
std::string_view RadioModeName(RadioMode mode);

/// The serial line as the PC set it up; `known` false (the caller cannot tell): no line checks.
struct LineState {
  bool known = false;
  std::uint32_t rate = 0;  ///< bit/s; 0 when the rate has no standard value
  std::uint8_t data_bits = 8;
  bool parity = false;
  std::uint8_t stop_bits = 1;
  bool rts_cts = false;  ///< hardware flow control
  bool raw = true;       ///< no line editing, echo, signals or character translation

  /// 8 data bits, no parity, one stop bit, no hardware flow control, raw bytes.
  bool IsPlain8N1() const { return data_bits == 8 && !parity && stop_bits == 1 && !rts_cts && raw; }

  /// The rate at the radio's previous look at the line, and how long before this look (seconds):
  /// the bytes read now arrived in between, at either rate.
  std::uint32_t previous_rate = 0;
  double since_previous_look = 0.0;
};

/// The earliest of the moments the radio's faces wait for (absolute seconds), if any.
struct Earliest {
  void Take(double t) {
    if (!at || t < *at) at = t;
  }
  std::optional<double> at;
};

/// Everything a test or the program can set.
struct RadioConfig {
  /// The first fault of this kind asked for, or null.
  const FaultRequest* Find(Fault fault) const {
    for (const FaultRequest& f : faults) {
      if (f.fault == fault) return &f;
    }
    return nullptr;
  }
  bool Has(Fault fault) const { return Find(fault) != nullptr; }
  /// N of the first fault of this kind, 0 when none is asked for.
  std::uint32_t At(Fault fault) const { return Has(fault) ? Find(fault)->at : 0; }
  /// Adds a fault: config.Add(Fault::kDropEcho, 5).
  RadioConfig& Add(Fault fault, std::uint32_t at = 0, std::optional<double> value = {}) {
    faults.push_back(FaultRequest{fault, at, value});
    return *this;
  }

  RadioMode mode = RadioMode::kAuto;
  std::uint32_t serial = 9123456;  ///< answered in the identity reply, masked with the challenge
  /// The four bytes the radio's programming mode requires after "4" (default: the uploader's).
  std::array<std::uint8_t, 4> access_code = kRadioAccessCode;
  double erase_seconds = 0.25;  ///< from the erase command to the erase-done byte

  /// The set-up menu answers as fast as the line takes bytes, not at the line rate.
  bool fast_setup = false;
  /// What the set-up menu reports under "3".
  std::string firmware_revision = "2.54";
  /// The faults to show (faults.h), in any order; a fault may be listed more than once.
  std::vector<FaultRequest> faults;
  std::uint32_t seed = 1;  ///< for the RF fault draws and the noise bytes

  // Timing of the radio's own checks, in seconds.
  double rate_switch_timeout = 0.5;  ///< how long the PC may take to switch its line rate
  double frame_timeout = 0.25;       ///< a frame not complete this long after it began is dropped
  double resync_window = 0.05;       ///< how long an all-0xFF frame waits for a 4th 0xFF
  double rf_quiet_gap = 0.02;        ///< after a malformed RF frame, silence that ends it
  double handshake_timeout = 1.0;    ///< a handshake with a longer gap is given up
  double refusal_quiet = 1.0;        ///< after a refused handshake, silence before it listens

  // Delivery of the answers (the pseudo-terminal runner; the engines ignore these).
  bool line_time = false;  ///< answers no earlier than a real line at the PC's rate has them
  double latency = 0.0;    ///< extra delay before each answer reaches the PC, as an adapter adds

  /// The image the RF frames are checked against (stored form); empty: the built-in image.
  std::span<const std::uint8_t> image;
};

}  // namespace tvx::sim
