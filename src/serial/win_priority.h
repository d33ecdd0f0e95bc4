// Priority on Windows: the priority class is the whole process's (Windows has no class per
// thread), so it is raised while any upload of the process is in a time-critical stretch and
// put back when the last one leaves its stretch; each upload's thread also raises its own
// thread priority for its stretch, so that one raised upload never waits behind another
// thread of the program that is not.
#pragma once

#include <cstdint>

#include "serial/priority.h"

namespace tvx::serial {

/// RaiseRealtime: asks for the real-time class; where that is refused, the high class (Windows
/// itself grants high in place of real-time to a process without the privilege); and the
/// calling thread at "above normal". Normal: the thread's priority back, and the class found
/// before the first raise of the process once no other WinPriority is raised. Raising twice
/// without Normal in between changes nothing. Never fails visibly. One object per thread: its
/// calls must come from the thread that raised; several objects may be used at once.
class WinPriority final : public Priority {
 public:
  void RaiseRealtime() override;
  void Normal() override;

 private:
  bool raised_ = false;
  bool thread_raised_ = false;
  int saved_thread_priority_ = 0;
};

}  // namespace tvx::serial
