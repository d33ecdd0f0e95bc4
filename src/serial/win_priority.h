// Priority on Windows: the whole process's priority class, as the time-critical stretches run
// on the main thread and nothing else of the process competes with them then.
#pragma once

#include <cstdint>

#include "serial/priority.h"

namespace tvx::serial {

/// RaiseRealtime: asks for the real-time class; where that is refused, the high class (Windows
/// itself grants high in place of real-time to a process without the privilege). Normal: puts
/// back the class found before. Raising twice without Normal in between keeps the first saved
/// class. Never fails visibly.
class WinPriority final : public Priority {
 public:
  void RaiseRealtime() override;
  void Normal() override;

 private:
  bool raised_ = false;
  std::uint32_t saved_class_ = 0;
};

}  // namespace tvx::serial
