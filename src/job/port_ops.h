// The serial operations of the jobs, on the run's one port: opening with a job's profile,
// time-outs, discarding stale input, the line-rate switch, and the byte operations that latch
// their failures into ErrorCode.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "job/run_context.h"
#include "serial/serial_port.h"

namespace tvx::job {

enum class Profile {
  kRfUpload,      ///< 115200 bit/s, rx queue 2048
  kDirectUpload,  ///< 19200 bit/s, rx queue 2048
  kTerminal,      ///< LinkSettings baud rate, rx queue 1024; no failure paths of its own
};

/// The eleven line settings of a profile, in the order they are applied; `terminal_rate`
/// (bit/s) is the rate of kTerminal, the upload profiles have their own.
std::array<std::pair<serial::LineSetting, std::uint32_t>, 11> ProfileSettings(
    Profile profile, std::uint32_t terminal_rate);

/// Opens the LinkSettings port and applies the profile's eleven settings (all attempted, the
/// last failure kept). For the upload profiles a failure of this open or of its settings runs
/// the ErrorReport, prints "Can't Open Com Port" or "Error Opening Com Port" at the cursor and a
/// new line, beeps, closes everything, pauses 2000 ms and returns false (the job goes back to
/// the menu). The terminal profile reports a failed open and goes on, leaving 52 latched when
/// the port is not open; it always returns true.
bool OpenPortForJob(RunContext& ctx, Profile profile);

/// Sets all five time-outs to 0 (results ignored).
void ZeroTimeouts(RunContext& ctx);

/// Reads and drops whatever is waiting; runs the ErrorReport only if bytes were read and a code
/// is set. With an empty queue nothing is read and a code from the query stays pending.
void DiscardInput(RunContext& ctx);

/// Sets the snapshot's rate to 460800 / divisor and writes it under raised priority (result
/// ignored). Neither queue is flushed.
void SwitchLineRate(RunContext& ctx, serial::ControlState& snapshot, std::uint8_t divisor);

/// Closes the port (the only port or file the program holds open); failures are not reported.
void CloseAllPorts(RunContext& ctx);

/// Bytes waiting; a line error latches 57, a dead line (nothing left to read) 59; both count 0.
std::size_t BytesWaiting(RunContext& ctx);
/// Receives exactly `count` bytes (blocking under zero time-outs); returns fewer, at once, when
/// the line dies, and latches 59 then.
std::vector<std::uint8_t> Receive(RunContext& ctx, std::size_t count);
/// Sends all bytes; a failed or short write latches 69, or 59 when the line is dead. Returns
/// whether every byte was written.
bool Send(RunContext& ctx, std::span<const std::uint8_t> bytes);
bool SendByte(RunContext& ctx, std::uint8_t byte);

/// Whether the line is dead: 59 is latched, or the port has seen a hang-up (then 59 is latched
/// here). Nothing will pass on the port until it is opened again; the caller stops and reports.
bool LineDead(RunContext& ctx);

/// Runs the ErrorReport when a code is latched. A job calls it before it ends, so that no code
/// it latched reaches the next job's first check.
void ReportPending(RunContext& ctx);

/// Whether the program was asked to end (the console's stop request): the job ends at its next
/// safe point, sending nothing more than the word or frame under way.
bool StopRequested(const RunContext& ctx);

/// A pause of `ms` milliseconds with the screen shown as it stands first, so the operator reads
/// what led to it (a message before a 2 s pause, the serial number before the transfer). A stop
/// request cuts it short (within console::kStopCheckMs); returns false then.
bool Pause(RunContext& ctx, int ms);

/// What a polling loop does between two checks: shows the screen (rate-limited) and sleeps
/// until the port or the keyboard may have something, or `timeout_ms` passed (-1: no limit),
/// but never longer than console::kStopCheckMs, and not at all once a stop is requested.
/// While the console holds changes it has not shown yet, the sleep is cut short so they
/// appear within a frame.
void Idle(RunContext& ctx, int timeout_ms = -1);

}  // namespace tvx::job
