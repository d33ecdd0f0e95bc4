// The program time the direct upload shows on row 29, read back from a scripted console.
#pragma once

#include <string>

#include "support/scripted_console.h"

namespace tvx::testing {

/// The seconds on row 29 when it reads "Program Time is ##.## S" (two decimals, at least two
/// integer positions, a blank in an unused leading one); -1 when it does not.
inline double ShownProgramTime(const ScriptedConsole& console) {
  const std::string row = console.RowTrimmed(29);
  const std::string prefix = "Program Time is ";
  const std::string suffix = " S";
  if (!row.starts_with(prefix) || !row.ends_with(suffix)) return -1;
  const std::string field = row.substr(prefix.size(), row.size() - prefix.size() - suffix.size());
  if (field.size() < 5 || field[field.size() - 3] != '.') return -1;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const bool digit = field[i] >= '0' && field[i] <= '9';
    const bool blank_allowed = i == 0 && field.size() == 5;
    if (i != field.size() - 3 && !digit && !(blank_allowed && field[i] == ' ')) return -1;
  }
  return std::stod(field);
}

}  // namespace tvx::testing
