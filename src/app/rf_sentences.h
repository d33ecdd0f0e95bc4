// What the rf sub-command says at its end: the sentence on standard error that names why a
// broadcast did not complete, where, and the command line that goes on from there; the outcome
// line on standard output; the exit status. Pure.
#pragma once

#include <cstdint>
#include <string>

#include "app/printable_text.h"
#include "rf/outcome.h"

namespace tvx::app {

/// What the command line and the policy operator know that the outcome does not hold.
struct RfFacts {
  Printable port;    ///< as given to --port (what the command that goes on names)
  Printable device;  ///< what was opened
  std::int32_t copies = 0;
  /// The image file as --image gave it (the command that goes on must send the same image);
  /// empty: the built-in image.
  Printable image;
  int signal = 0;  ///< the stop request's signal, 0 when none came
  /// When the operator gave up for want of an intact echo: how long none had come, and what
  /// came back meanwhile.
  double waited_seconds = 0.0;
  std::int64_t bytes_back = 0;
  std::int64_t corrupt_echoes = 0;  ///< whole echoes that differed from the frame
};

/// The command lines that go on from where a broadcast stopped, e.g. "torvandrix-upload rf
/// --port /dev/ttyUSB0 --copies 3 --start 1200 --passes 1", followed by ", then " and the
/// command for the passes left after that one when the stop left a pass half sent. A port
/// that needs quoting is quoted for a POSIX shell; one with escaped bytes as $'...', whose
/// \xHH and \\ a shell reads back as the bytes (no byte reaches the terminal raw).
std::string ResumeCommands(const rf::Outcome& outcome, const RfFacts& facts);

/// One sentence for a person on standard error; empty for a complete broadcast. For a port
/// that did not open see PortOpenFailure (this gives it too).
std::string RfEndSentence(const rf::Outcome& outcome, const RfFacts& facts,
                          std::string_view permission_hint);

/// The outcome line for standard output, e.g. "Broadcast complete: 1 pass, 14 frames, 0 echo
/// mismatches." or "Broadcast stopped at record 4130: the local radio was silent for 10.0 s."
std::string RfOutcomeLine(const rf::Outcome& outcome, const RfFacts& facts);

/// 0 complete, 3 stopped or nothing sent, 5 port not opened (a stop request's 128 + N is the
/// caller's).
int RfExitStatus(const rf::Outcome& outcome);

}  // namespace tvx::app
