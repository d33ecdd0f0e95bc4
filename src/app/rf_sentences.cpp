#include "app/rf_sentences.h"

#include <cstdio>
#include <string_view>

#include "app/command_line.h"
#include "app/open_failure.h"

namespace tvx::app {
namespace {

using rf::StopPlace;
using rf::StopReason;

std::string OneDecimal(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

std::string Counted(std::int64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// A name (the port, the image) as a word a POSIX shell (or PowerShell) takes as it is: plain,
// or quoted. Its text is escaped already; where an escape stands for a byte, $'...' makes the
// shell read it back (bash, zsh, ksh, busybox). A name whose only escapes are doubled
// backslashes (a Windows path) is quoted as it is.
std::string ShellWord(const Printable& name) {
  constexpr std::string_view kPlain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./:=@%+,";
  const std::string& shown = name.Text();
  if (!shown.empty() && shown.find_first_not_of(kPlain) == std::string_view::npos) return shown;
  // The name itself, as long as its only escapes are doubled backslashes.
  std::string raw;
  bool bytes_escaped = false;
  for (std::size_t i = 0; i < shown.size() && !bytes_escaped; ++i) {
    if (shown[i] == '\\') bytes_escaped = shown[++i] == 'x';
    raw += shown[i];
  }
  std::string quoted = bytes_escaped ? "$'" : "'";
  for (const char c : bytes_escaped ? shown : raw) {
    if (c != '\'') {
      quoted += c;
    } else {
      quoted += bytes_escaped ? "\\'" : "'\\''";
    }
  }
  return quoted + "'";
}

std::string Command(const RfFacts& facts, std::int32_t start, std::int64_t passes) {
  return "torvandrix-upload rf --port " + ShellWord(facts.port) + " --copies " +
         std::to_string(facts.copies) + " --start " + std::to_string(start) + " --passes " +
         std::to_string(passes) + (facts.image.Empty() ? "" : " --image " + ShellWord(facts.image));
}

// "of pass 2 of 3", or nothing for a broadcast of one pass.
std::string OfPass(const rf::Outcome& outcome) {
  if (outcome.passes_asked == 1) return {};
  return " of pass " + std::to_string(outcome.stop_pass + 1) + " of " +
         std::to_string(outcome.passes_asked);
}

// Where the broadcast stopped, as words that follow "stopped".
std::string Where(const rf::Outcome& outcome) {
  switch (outcome.stop_place) {
    case StopPlace::kHeader:
      return "at the header frame" + OfPass(outcome);
    case StopPlace::kRecord:
      return "at record " + std::to_string(outcome.stop_record) + OfPass(outcome);
    case StopPlace::kCountdown:
      return "between passes";
    case StopPlace::kNone:
      break;
  }
  return {};
}

// "1 of 3 passes complete", said when a stop came after whole passes.
std::string PassesComplete(const rf::Outcome& outcome) {
  return std::to_string(outcome.passes) + " of " + Counted(outcome.passes_asked, "pass", "passes") +
         " complete";
}

std::string ShortReason(const rf::Outcome& outcome, const RfFacts& facts) {
  switch (outcome.reason) {
    case StopReason::kLineDead:
      return "the line died";
    case StopReason::kRadioSilent:
      return "the local radio was silent for " + OneDecimal(facts.waited_seconds);
    case StopReason::kEchoesCorrupt:
      return "no intact echo came back for " + OneDecimal(facts.waited_seconds);
    case StopReason::kSignal:
      return "interrupted by signal " + std::to_string(facts.signal);
    case StopReason::kOperator:
      return "stopped by the operator";
    case StopReason::kNone:
    case StopReason::kPortNotOpened:
    case StopReason::kSettingsRefused:
      break;
  }
  return "stopped";
}

std::string NothingSentWhy(const rf::Outcome& outcome) {
  switch (outcome.nothing_sent) {
    case rf::NothingSent::kNoPass:
      return "no pass was asked for.";
    case rf::NothingSent::kNoCopies:
      return "no copies of the frames were asked for.";
    case rf::NothingSent::kStartPastEnd:
      return "the start record " + std::to_string(outcome.first_record) +
             " is past the last record of the image, " + std::to_string(outcome.record_count - 1) +
             ".";
    case rf::NothingSent::kNo:
      break;
  }
  return {};
}

}  // namespace

std::string ResumeCommands(const rf::Outcome& outcome, const RfFacts& facts) {
  const std::int32_t first = outcome.first_record;
  // The passes not yet run to their end, the one it stopped in included.
  const std::int64_t left = outcome.passes_asked - outcome.stop_pass;
  if (outcome.stop_place != StopPlace::kRecord || outcome.stop_record <= first) {
    return Command(facts, first, left);
  }
  std::string commands = Command(facts, outcome.stop_record, 1);
  if (left > 1) commands += ", then " + Command(facts, first, left - 1);
  return commands;
}

std::string RfEndSentence(const rf::Outcome& outcome, const RfFacts& facts,
                          std::string_view permission_hint) {
  if (outcome.start == rf::Start::kPortNotOpened) {
    // The system's own words are outside text too.
    return PortOpenFailure(facts.device.Text(), outcome.open_code,
                           outcome.reason == StopReason::kSettingsRefused,
                           Printable(outcome.open_error).Text(), permission_hint);
  }
  if (outcome.start == rf::Start::kQuit) return "The broadcast was not started.";
  if (!outcome.stopped) {
    if (outcome.nothing_sent == rf::NothingSent::kNo) return {};
    return "Nothing was sent: " + NothingSentWhy(outcome);
  }
  const std::string where = Where(outcome);
  const std::string after = outcome.passes > 0 && outcome.stop_place != StopPlace::kCountdown
                                ? " (" + PassesComplete(outcome) + ")"
                            : outcome.stop_place == StopPlace::kCountdown
                                ? ": " + PassesComplete(outcome)
                                : "";
  const std::string go_on = "To go on from there: " + ResumeCommands(outcome, facts);
  switch (outcome.reason) {
    case StopReason::kLineDead:
      return "The line to the local radio died " + where + after + " (code 59" +
             (outcome.line_error.empty() ? "" : ": " + outcome.line_error) +
             "): the radios did not get the rest of the image and must be loaded again from "
             "there once the line is back. " +
             go_on;
    case StopReason::kRadioSilent:
      return "The local radio sent nothing back for " + OneDecimal(facts.waited_seconds) + " " +
             where + after +
             ": check that it is on, that the cable is in and that the port is its diagnostic "
             "port. " +
             go_on;
    case StopReason::kEchoesCorrupt:
      return "No intact echo came back for " + OneDecimal(facts.waited_seconds) + " " + where +
             after + ": the local radio sent " + Counted(facts.bytes_back, "byte", "bytes") +
             ", none of them an intact echo of the frame (" +
             Counted(facts.corrupt_echoes, "whole echo differed", "whole echoes differed") +
             "). Check the line and that nothing else writes to the port. " + go_on;
    case StopReason::kSignal:
      return "Broadcast interrupted by signal " + std::to_string(facts.signal) + " " + where +
             after + ". " + go_on;
    case StopReason::kOperator:
    case StopReason::kNone:
    case StopReason::kPortNotOpened:
    case StopReason::kSettingsRefused:
      break;
  }
  return "Broadcast stopped " + where + after + ". " + go_on;
}

std::string RfOutcomeLine(const rf::Outcome& outcome, const RfFacts& facts) {
  switch (outcome.start) {
    case rf::Start::kPortNotOpened:
      return "The port " + facts.device + " could not be opened.";
    case rf::Start::kQuit:
      return "Broadcast not started.";
    case rf::Start::kBroadcast:
      break;
  }
  if (!outcome.stopped) return rf::OutcomeLine(outcome);
  std::string line = "Broadcast stopped " + Where(outcome) + ": " + ShortReason(outcome, facts);
  if (outcome.passes > 0 || outcome.stop_place == StopPlace::kCountdown) {
    line += ", " + PassesComplete(outcome);
  }
  return line + ".";
}

int RfExitStatus(const rf::Outcome& outcome) {
  switch (outcome.start) {
    case rf::Start::kPortNotOpened:
      return kExitPortNotOpened;
    case rf::Start::kQuit:
      return kExitStopped;
    case rf::Start::kBroadcast:
      break;
  }
  if (outcome.stopped || outcome.nothing_sent != rf::NothingSent::kNo) return kExitStopped;
  return kExitComplete;
}

}  // namespace tvx::app
