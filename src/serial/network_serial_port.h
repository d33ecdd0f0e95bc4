// The serial port of a serial server, reached over TCP with telnet's serial-port option: Open
// takes "rfc2217://HOST:PORT" (network_port_name.h).
//
// - Open connects within `connect_ms` (53 with the system's words when the host is unknown,
//   the server refuses or never answers; 64 for a bad name) and waits up to `answer_ms` for the
//   server to take serial-port requests (5 when it refuses them).
// - Each line setting is one request. The rate, data size, parity, stop size and flow control
//   wait up to `answer_ms` for the server's answer (5 when none comes or it kept another value),
//   so that a setting is in force before the next byte passes; DTR is never waited for (a server
//   in front of a device without modem lines leaves it unanswered). Queue sizes are taken here.
// - SetControlState sends the new rate at once and returns once the server has answered it.
// - PurgeInput has the server drop what its device received and waits until everything the
//   server sent before is here; the caller then reads and drops it.
// - Input is read from the connection when asked for (BytesWaiting, Read, AwaitActivity):
//   nothing is asked of the server per read. A line error the server reports gives 57 once; a
//   closed connection is a dead line (59).
// Write may run on the terminal's writer thread while the main thread reads: every send to the
// server (data, requests, negotiation answers) goes out whole under one mutex.
#pragma once

#include <memory>

#include "serial/serial_port.h"
#include "serial/tcp_link.h"

namespace tvx::serial {

struct NetworkPortLimits {
  int connect_ms = 5000;  ///< the whole connect, name look-up included
  int answer_ms = 2000;   ///< each answer of the server waited for
};

std::unique_ptr<SerialPort> MakeNetworkSerialPort(std::unique_ptr<TcpLink> link,
                                                  NetworkPortLimits limits = {});

}  // namespace tvx::serial
