#include "rf/outcome.h"

#include <string_view>

namespace tvx::rf {

namespace {

std::string Counted(std::int64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string NothingSentLine(const Outcome& outcome) {
  switch (outcome.nothing_sent) {
    case NothingSent::kNoPass:
      return "Nothing sent: no pass was asked for.";
    case NothingSent::kNoCopies:
      return "Nothing sent: no copies of the frames were asked for.";
    case NothingSent::kStartPastEnd:
      return "Nothing sent: record " + std::to_string(outcome.first_record) +
             " is past the last record, " + std::to_string(outcome.record_count - 1) + ".";
    case NothingSent::kNo:
      break;
  }
  return {};
}

}  // namespace

std::string OutcomeLine(const Outcome& outcome) {
  if (outcome.stopped && outcome.stop_place == StopPlace::kCountdown) {
    return "Broadcast stopped between passes: " + std::to_string(outcome.passes) + " of " +
           Counted(outcome.passes_asked, "pass", "passes") + " complete.";
  }
  if (outcome.stopped) return "Broadcast stopped at record " + std::to_string(outcome.stop_record);
  if (outcome.nothing_sent != NothingSent::kNo) return NothingSentLine(outcome);
  return "Broadcast complete: " + Counted(outcome.passes, "pass", "passes") + ", " +
         Counted(outcome.frames, "frame", "frames") + ", " +
         Counted(outcome.mismatches, "echo mismatch", "echo mismatches") + ".";
}

}  // namespace tvx::rf
