// What one RF upload is asked to do: the port, how many copies of each frame must come back
// intact, where the broadcast starts and how many passes it makes. The menu's questions fill it
// in, or the options of the sub-command. A plain value.
#pragma once

#include <cstdint>
#include <string>

namespace tvx::rf {

struct Plan {
  /// The port as the operator named it, for the log: "ComN" in the menu, the device otherwise.
  std::string port_name;
  /// What is opened: a device path (or a Windows port name).
  std::string device;
  /// N: copies of every frame that must come back intact. 0 or less: every frame is still built
  /// and shown, but nothing is written.
  std::int32_t copies = 1;
  /// S: the first record sent; 0 also sends the header frame first. Below 0 counts as 0.
  std::int32_t start_record = 0;
  /// R: passes of the whole download file; 0 or less: none.
  std::int64_t passes = 1;
};

}  // namespace tvx::rf
