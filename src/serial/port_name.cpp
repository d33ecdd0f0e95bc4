#include "serial/port_name.h"

namespace tvx::serial {

int ComPortNumber(std::string_view name) {
  if (name.size() != 4) return 0;
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  if (lower(name[0]) != 'c' || lower(name[1]) != 'o' || lower(name[2]) != 'm') return 0;
  if (name[3] < '1' || name[3] > '9') return 0;
  return name[3] - '0';
}

}  // namespace tvx::serial
