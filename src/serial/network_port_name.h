// The names of ports on serial servers: "rfc2217://HOST:PORT", HOST a name, an IPv4 address or
// an IPv6 address in brackets ("rfc2217://[fe80::1]:3001"). Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tvx::serial {

inline constexpr std::string_view kNetworkPortScheme = "rfc2217://";

/// Whether `name` names a port on a serial server (it starts with the scheme, in any case).
bool IsNetworkPortName(std::string_view name);

/// A server's address as a name gives it.
struct NetworkAddress {
  std::string host;  ///< without brackets
  std::uint16_t port = 0;
};

/// Reads a network port name. On failure returns nothing and puts why into `why` (a short
/// phrase, e.g. "no port number after the host").
std::optional<NetworkAddress> ParseNetworkPortName(std::string_view name, std::string& why);

/// Whether two names reach the same server port: both read, the hosts equal in any case, the
/// port numbers equal as numbers ("rfc2217://Bench:03001" and "rfc2217://bench:3001" are).
bool SameNetworkPort(std::string_view a, std::string_view b);

}  // namespace tvx::serial
