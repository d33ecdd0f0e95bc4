// The system's own words for the last failing operation of a port, kept beside the error number
// it returned. The thread that met the failure writes it (the terminal's writer thread among
// them); either thread reads it.
#pragma once

#include <mutex>
#include <string>
#include <utility>

namespace tvx::serial {

class FailureNote {
 public:
  void Keep(std::string text) {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
  }
  void Clear() { Keep({}); }
  std::string Text() const {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace tvx::serial
