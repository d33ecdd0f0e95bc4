// A script for the radio's set-up interface: steps that send text as typed keys, wait for the
// radio to say something, or pause, run in order. Steps come from the command line (--send,
// --send-secret, --expect, in the order given) or from a script file with one step a line:
//
//   # a comment (a line whose first non-blank character is #)
//   send TEXT           the text, with escapes, sent as typed keys are
//   send-secret TEXT    the same, but the text is never shown, echoed or recorded
//   expect PATTERN      wait for the pattern (a regular expression) in what the radio sent
//   wait MS             a pause of MS milliseconds (0 to 3600000)
//
// The word and its argument are parted by one blank or tab; everything after it, blanks
// included, is the argument. Blank lines are skipped and a carriage return ending a line is
// not part of it. TEXT takes the escapes \r, \n, \t, \\ and \xNN (two hexadecimal digits); a
// backslash before anything else is an error. A PATTERN is taken as written (the regular
// expression has escapes of its own). Pure: no I/O; a bad step is an error text that names its
// place and never holds a secret.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tvx::terminal {

enum class StepKind : std::uint8_t { kSend, kSendSecret, kExpect, kWait };

struct Step {
  StepKind kind = StepKind::kSend;
  /// kSend, kSendSecret: the bytes to send (escapes resolved); kExpect: the pattern as written.
  std::string text;
  std::uint32_t wait_ms = 0;  ///< kWait
  /// Where the step was written, for messages: "--expect" or "rig.txt line 4".
  std::string place;
};

/// The longest pause a wait step may ask for (one hour).
inline constexpr std::uint32_t kMaxWaitMs = 3'600'000;

/// Resolves the escapes of a send step's TEXT into `bytes`. Returns an error text (which
/// escape is wrong, never the rest of the text), empty on success.
std::string ResolveEscapes(std::string_view text, std::string& bytes);

/// Adds the step of one command-line option ("--send", "--send-secret" or "--expect") with its
/// value to `steps`. Returns a usage error naming the option and its step number, empty on
/// success.
std::string AddOptionStep(StepKind kind, std::string_view value, std::vector<Step>& steps);

/// Parses a script file's `content` (its name for messages: `name`) into `steps`, appended in
/// file order. Returns the first error, "NAME line N: ...", empty on success; a file without
/// a step is an error.
std::string ParseScript(std::string_view name, std::string_view content, std::vector<Step>& steps);

/// How a step is named in messages: "send \"1\\r\"", "send-secret <secret>",
/// "expect \"ID (\\d+)\"", "wait 500" (bytes outside printable ASCII escaped). Never the
/// text of a secret.
std::string StepLabel(const Step& step);

}  // namespace tvx::terminal
