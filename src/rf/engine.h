// The RF upload as the radio network sees it, whoever runs it: the port opened with the RF
// profile, then for every pass the stale input thrown away, the download file made, the header
// frame (when the broadcast starts at record 0) and every record's data frame from the start
// record on, each until its copies came back intact, and the six-second wait for the network
// between passes; the port closed at the end. The operator is told every step and decides what
// the protocol leaves open (see operator.h). Draws nothing, prints nothing, reads no key.
//
//   rf::Plan plan{"Com1", "/dev/ttyUSB0", 3, 0, 2};
//   job::Line line(port, errors);
//   const rf::Outcome outcome = rf::RunBroadcast(plan, {line, priority, clock, random, image,
//                                                       record_buffer}, op);
#pragma once

#include "rf/broadcast.h"
#include "rf/operator.h"
#include "rf/outcome.h"
#include "rf/plan.h"

namespace tvx::rf {

/// Runs the plan; blocks until the job is over (the operator's Ended has returned) and the port
/// is closed. A dead line ends it at once (no resend, no countdown) and is reported to the
/// operator once (LineError(59)); a stop request ends it at its next safe point. An operator's
/// end (EndBroadcast) ends this pass and all later ones, after one more countdown when the plan
/// asks for more than one pass.
Outcome RunBroadcast(const Plan& plan, const Tools& tools, Operator& op);

}  // namespace tvx::rf
