#include "app/session_log_file.h"

#include "app/cli_platform.h"

namespace tvx::app {

std::string SessionLogFile::Append(std::string_view line) {
  const std::string error = AppendLine(path_, line, false);
  if (error.empty() || !failure_.empty()) return {};
  failure_ = "the session log " + path_ + " cannot be written: " + error;
  return failure_;
}

}  // namespace tvx::app
