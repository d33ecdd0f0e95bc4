// Priority on POSIX: raises the calling thread (each job's time-critical stretches run on its own
// thread) as far as the process is allowed without asking for privileges. Several uploads at
// once each have their own PosixPriority on their own thread.
#pragma once

#include "serial/priority.h"

namespace tvx::serial {

/// RaiseRealtime: the calling thread only, to SCHED_RR at a modest priority when the process
/// may use it (root, or a non-zero RLIMIT_RTPRIO); else a lower nice value when RLIMIT_NICE
/// permits one; else nothing.
/// Normal: puts back exactly the policy, real-time priority and nice value found before.
/// Raising twice without Normal in between keeps the first saved state. Never fails visibly.
/// The state and the way to raise are found at the first raise and kept (nothing else in the
/// program changes the scheduling), so each later raise and each Normal is one system call.
/// One object per thread: its calls must all come from the thread that raised.
class PosixPriority final : public Priority {
 public:
  void RaiseRealtime() override;
  void Normal() override;

 private:
  enum class Raised { kNone, kRealtime, kNice };
  Raised raised_ = Raised::kNone;
  int saved_policy_ = 0;
  int saved_rt_priority_ = 0;
  int saved_nice_ = 0;
  bool way_known_ = false;
  Raised way_ = Raised::kNone;  ///< what the first raise managed
  int raised_value_ = 0;        ///< its real-time priority or nice value
};

}  // namespace tvx::serial
