// Where the record of a set-up session goes (--session-log FILE): each whole line of the
// SessionLog is appended to the file as it is made, by the same rules as the upload log (only a
// regular file, opened without waiting, a line in one write, never half a line). A line that
// cannot be written never stops the session: the first failure is kept to report once, later
// ones are dropped silently, and writing goes on trying (the disk may have room again).
#pragma once

#include <string>
#include <string_view>

namespace tvx::app {

class SessionLogFile {
 public:
  explicit SessionLogFile(std::string path) : path_(std::move(path)) {}

  /// Appends one whole line (with its line end). Returns the reason the first time a write
  /// fails ("the session log PATH cannot be written: ..."), else an empty text. Blocks only
  /// for the write itself.
  std::string Append(std::string_view line);

  const std::string& Path() const { return path_; }
  /// The first failure, empty when none.
  const std::string& Failure() const { return failure_; }

 private:
  std::string path_;
  std::string failure_;
};

}  // namespace tvx::app
