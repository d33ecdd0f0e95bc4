// The command line of torvandrix-radio-sim, its help text and its closing summary.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "radio_sim/radio.h"

namespace tvx::sim {

struct SimOptions {
  SimOptions() { config.line_time = true; }  ///< the program answers at line time unless --fast

  RadioConfig config;
  std::string link;        ///< where to put a symbolic link to the device; empty: none
  bool until_eof = false;  ///< also end when standard input reaches end of file
  bool verbose = false;    ///< print the radio's events on standard error
  bool help = false;
  bool list_faults = false;  ///< --faults
  /// --image FILE: the stored image the radio checks uploads against (config.image points
  /// here); empty: the one built in.
  std::vector<std::uint8_t> image;
};

/// Parses the arguments after the program name into `options`. Returns an error text for the
/// user, empty on success. "--name value" and "--name=value" are both accepted (CLI11).
std::string ParseOptions(std::span<const std::string_view> args, SimOptions& options);

/// The text of --help.
std::string UsageText();

/// A few lines of counts for the end of a run.
std::string SummaryText(const RadioCounters& counters);

/// After a direct upload: whether the radio's memory holds every word of `image`.
std::string MemoryText(const MemoryComparison& comparison);

}  // namespace tvx::sim
