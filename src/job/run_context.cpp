#include "job/run_context.h"

#include "serial/port_name.h"

namespace tvx::job {

std::string LinkSettings::DeviceOf(std::string_view name) const {
  const int number = serial::ComPortNumber(name);
  if (number == 0) return std::string(name);
  return devices[static_cast<std::size_t>(number - 1)];
}

}  // namespace tvx::job
