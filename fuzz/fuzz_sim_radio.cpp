// The simulated radio's readers (programming mode, RF frames, set-up menu) against any bytes a
// PC could send, at any pace and line rate, through the radio's public feed and timer calls only.
//
// Input: one byte of set-up (bits 0-1 the mode: auto, direct, RF, set-up; bit 2 whether the
// radio sees the line settings; bits 3-5 the first line rate), then steps of a control byte and
// its data. The control byte's top 3 bits say what happens before its data is fed: 0 nothing,
// 1 to 5 a pause (1 ms, 10 ms, 100 ms, 300 ms, 2 s), 6 a new line rate (bits 0-2) and no data,
// 7 the radio's timers are run out one deadline after the other. Its low 5 bits are how many
// data bytes follow (0 to 31).
//
// Checked: the radio counts every byte it heard and every byte it sent; stray bytes are some of
// those heard; a deadline lies ahead of the time the radio was last advanced to (else a runner
// waiting for it would spin); the timers settle; the programming mode and the RF side answer
// at most a few bytes per byte heard.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "radio_sim/radio.h"

namespace {

using tvx::sim::LineState;
using tvx::sim::Radio;
using tvx::sim::RadioConfig;
using tvx::sim::RadioMode;
using tvx::sim::RadioOutput;

// 0 stands for a rate without a standard value; 19200 and 460800 / divisor are the radio's.
constexpr std::array<std::uint32_t, 8> kRates = {0,     1200,  9600,   19200,
                                                 38400, 57600, 115200, 230400};
constexpr std::array<double, 6> kPauses = {0.0, 0.001, 0.010, 0.100, 0.300, 2.0};
// A run of the timers ends after this many deadlines (a handshake looks every millisecond for
// up to a second).
constexpr int kMostDeadlines = 5000;

// A small firmware image in stored form (each 4-byte group of a record reversed): records of
// 20 bytes at 0x7000 and 0x8010 and the last one, 6 bytes at 0xFFFE. The radio walks its image
// whenever it is made; the release image's walk would take most of each run.
std::vector<std::uint8_t> SmallImage() {
  const std::array<std::uint8_t, 4> heads[] = {
      {20, 15, 0x70, 0x00}, {20, 15, 0x80, 0x10}, {6, 15, 0xFF, 0xFE}};
  std::vector<std::uint8_t> stored;
  for (const auto& head : heads) {
    std::array<std::uint8_t, 20> record{};
    for (std::size_t i = 0; i < record.size(); ++i) {
      record[i] = i < 4 ? head[i] : static_cast<std::uint8_t>(i - 4);
    }
    for (std::size_t group = 0; group < record.size(); group += 4) {
      for (std::size_t i = 4; i-- > 0;) stored.push_back(record[group + i]);
    }
  }
  return stored;
}

class Driver {
 public:
  Driver(const RadioConfig& config, bool line_known, std::uint32_t rate) : radio_(config) {
    line_.known = line_known;
    line_.rate = rate;
    line_.previous_rate = rate;
  }

  void SetRate(std::uint32_t rate) { line_.rate = rate; }
  void Pause(double seconds) { now_ += seconds; }

  void Feed(std::span<const std::uint8_t> bytes) {
    Look();
    radio_.Feed(bytes, line_, now_, out_);
    heard_ += bytes.size();
    Collect();
  }

  void RunTimers() {
    for (int i = 0; i < kMostDeadlines; ++i) {
      const std::optional<double> deadline = radio_.NextDeadline(now_);
      if (!deadline) return;
      TVX_FUZZ_CHECK(std::isfinite(*deadline));
      if (*deadline > now_) now_ = *deadline;
      Look();
      radio_.Advance(line_, now_, out_);
      Collect();
      const std::optional<double> next = radio_.NextDeadline(now_);
      TVX_FUZZ_CHECK(!next || *next > now_);
    }
    TVX_FUZZ_CHECK(!"the timers never settle");
  }

  void CheckCounts(bool answers_in_kind) const {
    const tvx::sim::RadioCounters counters = radio_.Counters();
    TVX_FUZZ_CHECK(counters.bytes_received == heard_);
    TVX_FUZZ_CHECK(counters.bytes_sent == sent_);
    TVX_FUZZ_CHECK(counters.stray_bytes <= heard_);
    if (answers_in_kind) TVX_FUZZ_CHECK(sent_ <= 4 * heard_ + 64);
  }

 private:
  // The radio's view of the line at this look: the rate now, and the one at its last look.
  void Look() {
    line_.since_previous_look = now_ - last_look_;
    last_look_ = now_;
  }

  void Collect() {
    sent_ += out_.Bytes().size();
    out_.Clear();
    line_.previous_rate = line_.rate;
  }

  Radio radio_;
  LineState line_;
  RadioOutput out_;
  // Far from 0, where a time plus a time-out is rounded, as on a clock that has run for a while.
  double now_ = 1234.567;
  double last_look_ = now_;
  std::uint64_t heard_ = 0;
  std::uint64_t sent_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  constexpr RadioMode kModes[] = {RadioMode::kAuto, RadioMode::kDirect, RadioMode::kRf,
                                  RadioMode::kSetup};
  static const std::vector<std::uint8_t> image = SmallImage();
  RadioConfig config;
  config.image = image;
  config.mode = kModes[data[0] & 3];
  Driver driver(config, (data[0] & 4) != 0, kRates[(data[0] >> 3) & 7]);
  // The set-up menu's texts may be long ("TEXT 100000"); the other faces answer in kind.
  const bool answers_in_kind = config.mode == RadioMode::kDirect || config.mode == RadioMode::kRf;

  for (std::size_t i = 1; i < size;) {
    const std::uint8_t control = data[i++];
    const int action = control >> 5;
    const std::size_t count = control & 0x1F;
    if (action == 6) {
      driver.SetRate(kRates[count & 7]);
      continue;
    }
    if (action == 7) {
      driver.RunTimers();
    } else {
      driver.Pause(kPauses[static_cast<std::size_t>(action)]);
    }
    const std::size_t n = count < size - i ? count : size - i;
    driver.Feed(std::span<const std::uint8_t>(data + i, n));
    i += n;
    driver.CheckCounts(answers_in_kind);
  }
  driver.RunTimers();
  driver.CheckCounts(answers_in_kind);
  return 0;
}
