// The direct upload as an engine: runs a plan against the port it is handed, from the open
// through the handshake, identity, erase, word transfer and checksum verdict (with the
// read-back after a rejected checksum) to the close. It draws nothing, prints nothing, reads no
// key and no environment: at every decision it asks its operator, and it tells the operator
// its phases, progress, failures and outcome.
//
//   direct::Parts parts{ctx.port, ctx.errors, ctx.priority, ctx.clock, ctx.random, ctx.image};
//   const direct::Result result = direct::RunEngine(plan, parts, screen_operator);
//
// Every port operation goes through job::Line; a failure latches into `errors` and is told to
// the operator (LineError) where the job reports it. A dead line ends the upload at once,
// through one path. Blocks until the upload ends; returns with the port closed and the
// priority class normal.
#pragma once

#include <cstdint>
#include <span>

#include "direct/operator.h"
#include "direct/plan.h"
#include "direct/result.h"
#include "job/clock.h"
#include "job/error_state.h"
#include "job/random.h"
#include "serial/priority.h"
#include "serial/serial_port.h"

namespace tvx::direct {

/// What the engine runs on. Not owned; all outlive the run.
struct Parts {
  serial::SerialPort& port;
  job::ErrorState& errors;  ///< the run's latch (the menu's status line counts its reports)
  serial::Priority& priority;
  job::Clock& clock;    ///< the radio's pauses and every time measured
  job::Random& random;  ///< the run's generator; seeded from the time of day for the challenge
  std::span<const std::uint8_t> image;  ///< stored form
};

Result RunEngine(Plan plan, const Parts& parts, Operator& op);

/// The words an upload walk of `image` sends (and a read-back asks for).
std::int64_t CountWords(std::span<const std::uint8_t> image);

}  // namespace tvx::direct
