// Menu key "4": the RF upload. The image goes out as the download file (a header frame and one
// data frame per record) through the local radio on the port to the radios of its network: each
// data frame until the asked number of copies came back intact, pass after pass with a six-second
// wait for the network in between. Returns with the port closed; the caller draws the menu again.
#pragma once

#include <cstdint>
#include <string>

#include "job/run_context.h"

namespace tvx::rf {

/// How far the job got before its broadcast.
enum class Start {
  kQuit,           ///< the operator left at a question; the port was not opened
  kPortNotOpened,  ///< the port could not be opened or set
  kBroadcast,      ///< the passes ran (the rest of Outcome tells how)
};

/// How a broadcast ended, for the outcome line above the end prompt.
struct Outcome {
  Start start = Start::kBroadcast;
  bool stopped = false;          ///< a key, a dead line or a stop request ended it
  bool interrupted = false;      ///< a stop request (a signal) ended it, at any stage
  std::int32_t stop_record = 0;  ///< the record being broadcast when it stopped
  std::int64_t passes = 0;       ///< passes run to their end
  std::int64_t frames = 0;       ///< data frames that got all their copies back intact
  std::int64_t mismatches = 0;   ///< echo bytes that differed, in this job
  double seconds = 0.0;          ///< from the port's opening to the end of the passes
};

/// Runs the job; returns how it ended.
Outcome RunRfUpload(job::RunContext& ctx);

/// "Broadcast complete: 2 passes, 8288 frames, 0 echo mismatches." (a count of 1 takes the
/// singular) or "Broadcast stopped at record " and the record index.
std::string OutcomeLine(const Outcome& outcome);

}  // namespace tvx::rf
