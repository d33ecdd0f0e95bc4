// A set-up script run against one radio's set-up interface, in line mode: the port opened with
// the terminal's profile, each step in turn (a send goes out at once, as typed keys would; an
// expect waits for its pattern in what the radio sent since the previous match; a wait lets
// the radio talk), every byte both ways in the session log when there is one, and the radio's
// text handed on as it comes, with the echo of a secret hidden. Event-driven: the port's wait
// returns as soon as a byte arrives; nothing polls.
//
// Runs on any thread, touching only what SetupParts names and the stop request it is given.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "job/clock.h"
#include "serial/serial_port.h"
#include "terminal/session_log.h"
#include "terminal/setup_script.h"
#include "terminal/text_matcher.h"

namespace tvx::terminal {

/// The quiet gap after the radio's last byte at which a match that only waited for more text
/// is taken as it stands (and the session log's open line is written).
inline constexpr int kSettleMs = 30;
/// The most of the radio's text kept for the message of a run that did not complete.
inline constexpr std::size_t kTailCharacters = 200;

struct SetupPlan {
  std::string device;
  std::uint32_t baud = 19200;
  std::vector<Step> steps;
  /// How long an expect waits, in seconds; 0 waits for ever.
  double timeout_seconds = 10.0;
};

enum class SetupOutcome {
  kComplete,       ///< every step passed
  kTimedOut,       ///< an expect's time ran out
  kLineDead,       ///< the line died (adapter pulled, radio hung up) or took no more bytes
  kPortNotOpened,  ///< the device did not open, or refused a line setting
  kInterrupted,    ///< the stop request ended it
  kBadPattern,     ///< an expect's pattern did not compile (checked before the port opens)
};

/// One expect that matched.
struct ExpectMatch {
  std::size_t step = 0;  ///< index into the plan's steps
  double seconds = 0;    ///< from the start of the run to the byte that completed the match
  /// The named groups, values with any secret's echo hidden.
  std::vector<Capture> captures;
};

struct SetupResult {
  SetupOutcome outcome = SetupOutcome::kComplete;
  /// The index of the step that did not pass; the number of steps when all did.
  std::size_t step = 0;
  std::vector<ExpectMatch> matches;
  /// The radio's text at the end, at most kTailCharacters characters, secrets hidden.
  std::string tail;
  /// The system's words for a port that did not open or a line that died; the pattern's
  /// compile error for kBadPattern.
  std::string detail;
  double seconds = 0;
};

/// Told what happens, on the run's thread.
class SetupListener {
 public:
  virtual ~SetupListener() = default;
  /// The radio's text as it arrives (radio_text.h form, secrets hidden).
  virtual void Text(std::string_view text) = 0;
  /// Step `index` begins.
  virtual void Step(std::size_t index) { (void)index; }
};

struct SetupParts {
  serial::SerialPort& port;
  job::Clock& clock;
  /// Where each line of the session log goes; null: no log.
  SessionLog* session_log = nullptr;
  /// Whether the run is to end now (looked at while waiting, at least every kStopCheckMs).
  std::function<bool()> stop;
  /// Ends the port's wait at once when ready (the stop's wake), or kNoWaitHandle.
  console::NativeWaitHandle wake = console::kNoWaitHandle;
};

/// Runs `plan` and closes the port. Blocks until the last step passed or the run ended.
SetupResult RunSetupScript(const SetupPlan& plan, const SetupParts& parts, SetupListener& listener);

}  // namespace tvx::terminal
