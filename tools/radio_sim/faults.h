// The faults the simulated radio can show, in one table: name (--fault NAME[@N][=X]), what N
// counts, what X means, a line of help. A RadioConfig carries the faults asked for as a list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tvx::sim {

enum class Fault : std::uint8_t {
  kSilent,
  kBadIdentity,
  kGarbage,
  kDropEcho,
  kBadEcho,
  kBadEchoLow,
  kDropReply,
  kBadReply,
  kCorruptStore,
  kBadChecksum,
  kHangUp,
  kHangUpReadBack,
  kMute,
  kRfCorrupt,
  kRfDrop,
  kRfCorruptEcho,
  kRfDropEcho,
  kRfHoldEcho,
  kRfHangUp,
  kRfShortHeaderReply,
  kRfStrayAfterPass,
  kSetupLineError,
  kSetupSlow,
  kSetupHangUp,
};

/// What N of NAME@N counts. kAlways: the fault takes no N.
enum class Strikes : std::uint8_t { kAlways, kWord, kReadBackWord, kFrame, kHeader, kPass, kKey };

struct FaultInfo {
  Fault fault;
  std::string_view name;
  Strikes strikes;
  std::string_view value;  ///< what X is; empty: the fault takes no X
  double default_value;    ///< X when not given (NaN: X must be given)
  double max_value;        ///< X from 0 to this
  std::string_view help;
};

/// One fault asked for. `at` counts from 1 (0 for kAlways faults); `value` unset: the default.
struct FaultRequest {
  Fault fault = Fault::kSilent;
  std::uint32_t at = 0;
  std::optional<double> value;
};

const FaultInfo& InfoOf(Fault fault);
/// X of `request`, its default when not given.
double ValueOf(const FaultRequest& request);

/// Parses NAME[@N][=X]. Returns an error text for the user, empty on success.
std::string ParseFault(std::string_view text, FaultRequest& request);

/// The text of --faults, from the table (also the fault part of --help).
std::string FaultListText();

}  // namespace tvx::sim
