// The line settings of a port expressed on a termios record. Used only by the POSIX backend.
#pragma once

#include <termios.h>

#include <cstdint>

#include "serial/serial_port.h"

namespace tvx::serial {

/// The termios speed code for a rate in bit/s; false when the platform has none for it.
bool SpeedForRate(std::uint32_t rate, speed_t& speed);
/// The rate in bit/s of a termios speed code, 0 when unknown.
std::uint32_t RateForSpeed(speed_t speed);

/// Raw mode for binary transfers: no input or output processing, no echo, no signals, no
/// XON/XOFF, receiver on and modem control lines ignored (CLOCAL|CREAD); reads return as soon as
/// one byte is there.
void MakeRawLine(termios& line);

/// Changes one termios-held line setting. Returns false when the value cannot be had on this
/// platform (the request is refused). Settings without a termios field (queue sizes, DSR
/// options, DTR handshake off, the DTR line) leave the record unchanged and return true for the
/// values that need nothing; the DTR line itself is the caller's business.
bool ApplyToLine(termios& line, LineSetting setting, std::uint32_t value);

/// Fills the termios-held parts of a control state (all but the DTR line).
void ReadControlState(const termios& line, ControlState& state);
/// Writes the termios-held parts of a control state; false when a value cannot be had.
bool WriteControlState(termios& line, const ControlState& state);

/// Whether the settings this program relies on (rate, character size, parity, stop bits,
/// hardware flow control, input parity check) are the same in both records. tcsetattr reports
/// success when any part of a change took, so a change is confirmed by reading it back.
bool SameLine(const termios& a, const termios& b);

}  // namespace tvx::serial
