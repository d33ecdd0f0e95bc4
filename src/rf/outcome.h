// How an RF upload ended: how far it got, why it stopped, what it sent. Both operators read it
// (the menu's row 32 and log line, the sub-command's sentences and exit status).
#pragma once

#include <cstdint>
#include <string>

#include "serial/error_codes.h"

namespace tvx::rf {

/// How far the job got before its broadcast.
enum class Start {
  kQuit,           ///< the operator left at a question; the port was not opened
  kPortNotOpened,  ///< the port could not be opened or set
  kBroadcast,      ///< the passes ran (the rest of Outcome tells how)
};

/// Why the job did not run to its end.
enum class StopReason {
  kNone,             ///< it did (or it sent nothing: see NothingSent)
  kOperator,         ///< the operator left: a question answered "no", a key in the broadcast
  kLineDead,         ///< the port reported the line gone (59)
  kSignal,           ///< a stop request from outside (a signal)
  kRadioSilent,      ///< nothing came back from the local radio for the operator's limit
  kEchoesCorrupt,    ///< bytes came back for the operator's limit, but no intact echo
  kPortNotOpened,    ///< the device did not open
  kSettingsRefused,  ///< the device opened but refused a line setting
};

/// Where the broadcast was when it stopped.
enum class StopPlace {
  kNone,
  kHeader,     ///< sending the header frame (or about to, at the start of a pass)
  kRecord,     ///< sending the data frame of stop_record
  kCountdown,  ///< in the wait between two passes: every pass so far ran to its end
};

/// Why a broadcast could send nothing at all, known from the plan and the image.
enum class NothingSent {
  kNo,            ///< it had something to send
  kNoPass,        ///< no pass was asked for
  kNoCopies,      ///< no copy of a frame was asked for
  kStartPastEnd,  ///< the start record is past the last record of the image
};

struct Outcome {
  Start start = Start::kBroadcast;
  bool stopped = false;          ///< a key, a dead line, a stop request or the operator ended it
  bool interrupted = false;      ///< a stop request (a signal) ended it, at any stage
  std::int32_t stop_record = 0;  ///< the record being broadcast when it stopped
  std::int64_t passes = 0;       ///< passes run to their end
  std::int64_t frames = 0;       ///< data frames that got all their copies back intact
  std::int64_t mismatches = 0;   ///< echo bytes that differed, in this job
  double seconds = 0.0;          ///< from the port's opening to the end of the passes

  StopReason reason = StopReason::kNone;
  StopPlace stop_place = StopPlace::kNone;
  /// The pass (counted from 0) it stopped in; in the countdown, the one that was to follow.
  std::int64_t stop_pass = 0;
  std::int64_t passes_asked = 0;  ///< R of the plan
  std::int32_t first_record = 0;  ///< S of the plan, 0 for a negative one
  std::int32_t record_count = 0;  ///< records in the image; the last is record_count - 1
  NothingSent nothing_sent = NothingSent::kNo;
  std::int64_t header_copies = 0;  ///< header-frame copies written
  std::int64_t data_copies = 0;    ///< data-frame copies written, intact or not
  /// kPortNotOpened: the open's code, or the last refused setting's.
  serial::ErrorNumber open_code = serial::kNoError;
  /// kPortNotOpened: the system's own words for why the device did not open or refused a
  /// setting, taken when it failed (empty when it gave none).
  std::string open_error;
  /// kLineDead: the system's own words for the dead line (may be empty).
  std::string line_error;
};

/// Row 32 above the end prompt: "Broadcast complete: 2 passes, 8288 frames, 0 echo
/// mismatches." (a count of 1 takes the singular), "Broadcast stopped at record " and the
/// record, "Broadcast stopped between passes: 1 of 3 passes complete." for a stop in the wait,
/// or, for a broadcast that had nothing to send, "Nothing sent: " and why.
std::string OutcomeLine(const Outcome& outcome);

}  // namespace tvx::rf
