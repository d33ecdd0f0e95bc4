#include "serial/network_port_name.h"

#include <algorithm>
#include <cctype>

namespace tvx::serial {
namespace {

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool EqualInAnyCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// A host name or IPv4 address: letters, digits, '-', '.' and '_' (what resolvers take).
bool PlainHost(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
  });
}

// An IPv6 literal's characters (a zone after '%' kept to letters, digits and '.' '_' '-').
bool V6Host(std::string_view host) {
  return host.find(':') != std::string_view::npos &&
         std::all_of(host.begin(), host.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.' ||
                  c == '%' || std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
         });
}

}  // namespace

bool IsNetworkPortName(std::string_view name) {
  return name.size() >= kNetworkPortScheme.size() &&
         EqualInAnyCase(name.substr(0, kNetworkPortScheme.size()), kNetworkPortScheme);
}

std::optional<NetworkAddress> ParseNetworkPortName(std::string_view name, std::string& why) {
  if (!IsNetworkPortName(name)) {
    why = "it does not start with rfc2217://";
    return std::nullopt;
  }
  std::string_view rest = name.substr(kNetworkPortScheme.size());
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);  // "rfc2217://host:3001/"
  NetworkAddress address;
  std::string_view port_text;
  if (rest.starts_with('[')) {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) {
      why = "no ']' after the IPv6 address";
      return std::nullopt;
    }
    const std::string_view host = rest.substr(1, close - 1);
    if (!V6Host(host)) {
      why = "no IPv6 address between the brackets";
      return std::nullopt;
    }
    address.host = std::string(host);
    rest.remove_prefix(close + 1);
    if (!rest.starts_with(':')) {
      why = "no port number after the host";
      return std::nullopt;
    }
    port_text = rest.substr(1);
  } else {
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) {
      why = "no port number after the host";
      return std::nullopt;
    }
    const std::string_view host = rest.substr(0, colon);
    if (host.find(':') != std::string_view::npos) {
      why = "an IPv6 address must be in brackets";
      return std::nullopt;
    }
    if (!PlainHost(host)) {
      why = host.empty() ? "no host" : "the host holds characters no host name has";
      return std::nullopt;
    }
    address.host = std::string(host);
    port_text = rest.substr(colon + 1);
  }
  unsigned long number = 0;
  if (port_text.empty() || !std::all_of(port_text.begin(), port_text.end(),
                                        [](char c) { return c >= '0' && c <= '9'; })) {
    why = "the port is not a number from 1 to 65535";
    return std::nullopt;
  }
  for (const char c : port_text) {
    number = std::min(number * 10 + static_cast<unsigned long>(c - '0'), 100000UL);
  }
  if (number == 0 || number > 65535) {
    why = "the port is not a number from 1 to 65535";
    return std::nullopt;
  }
  address.port = static_cast<std::uint16_t>(number);
  return address;
}

bool SameNetworkPort(std::string_view a, std::string_view b) {
  std::string why;
  const auto first = ParseNetworkPortName(a, why);
  const auto second = ParseNetworkPortName(b, why);
  if (!first || !second) return false;
  return first->port == second->port && EqualInAnyCase(first->host, second->host);
}

}  // namespace tvx::serial
