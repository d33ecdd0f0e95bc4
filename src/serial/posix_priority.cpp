#include "serial/posix_priority.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tvx::serial {
namespace {

// Below the kernel's threaded interrupt handlers (which run at 50), so the serial driver's own
// work still preempts us; above every ordinary thread. A raised stretch always ends in a
// blocking poll, and the kernel's real-time throttling keeps a share of the CPU for the rest of
// the machine even if it did not. Round-robin, so that uploads raised at once (one thread each)
// take turns on a busy core instead of one holding it until it blocks.
//
// Every call names the calling thread (gettid), never the process: each upload's thread raises
// and lowers only itself.
constexpr int kRealtimePriority = 10;
// How far the nice fallback goes at most.
constexpr int kLowestNice = -10;

#ifdef SCHED_RESET_ON_FORK
constexpr int kResetOnFork = SCHED_RESET_ON_FORK;  // children never inherit the raised policy
#else
constexpr int kResetOnFork = 0;
#endif

// The highest real-time priority the process may take, 0 when none.
int AllowedRealtimePriority() {
  const int top = std::min(kRealtimePriority, sched_get_priority_max(SCHED_RR));
  if (geteuid() == 0) return top;  // root may; the scheduler still refuses without CAP_SYS_NICE
  rlimit limit{};
  if (getrlimit(RLIMIT_RTPRIO, &limit) != 0) return 0;
  if (limit.rlim_cur == RLIM_INFINITY) return top;
  return std::min<long long>(top, static_cast<long long>(limit.rlim_cur));
}

// The lowest nice value the process may set, as RLIMIT_NICE allows (20 - limit), or root's -20.
int LowestPermittedNice() {
  if (geteuid() == 0) return -20;
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) != 0) return 20;
  if (limit.rlim_cur == RLIM_INFINITY) return -20;
  return 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40));
}

bool ReadNice(int& nice_value) {
  errno = 0;
  const int value = getpriority(PRIO_PROCESS, gettid());
  if (value == -1 && errno != 0) return false;
  nice_value = value;
  return true;
}

}  // namespace

void PosixPriority::RaiseRealtime() {
  if (raised_ != Raised::kNone) return;
  // The way was found at the first raise: one call now (the upload raises for every record).
  if (way_known_) {
    if (way_ == Raised::kRealtime) {
      sched_param raised{};
      raised.sched_priority = raised_value_;
      if (sched_setscheduler(gettid(), SCHED_RR | kResetOnFork, &raised) == 0) {
        raised_ = Raised::kRealtime;
      }
    } else if (way_ == Raised::kNice && setpriority(PRIO_PROCESS, gettid(), raised_value_) == 0) {
      raised_ = Raised::kNice;
    }
    return;
  }

  const int policy = sched_getscheduler(gettid());
  sched_param param{};
  if (policy < 0 || sched_getparam(gettid(), &param) != 0) return;
  int nice_value = 0;
  if (!ReadNice(nice_value)) return;
  saved_policy_ = policy;
  saved_rt_priority_ = param.sched_priority;
  saved_nice_ = nice_value;
  way_known_ = true;
  way_ = Raised::kNone;

  const int base_policy = policy & ~kResetOnFork;
  if (base_policy == SCHED_FIFO || base_policy == SCHED_RR) return;  // started real-time already

  const int rt = AllowedRealtimePriority();
  if (rt > 0 && rt >= sched_get_priority_min(SCHED_RR)) {
    sched_param raised{};
    raised.sched_priority = rt;
    if (sched_setscheduler(gettid(), SCHED_RR | kResetOnFork, &raised) == 0) {
      raised_ = way_ = Raised::kRealtime;
      raised_value_ = rt;
      return;
    }
  }
  const int target = std::max(LowestPermittedNice(), kLowestNice);
  if (target < nice_value && setpriority(PRIO_PROCESS, gettid(), target) == 0) {
    raised_ = way_ = Raised::kNice;
    raised_value_ = target;
  }
}

void PosixPriority::Normal() {
  switch (raised_) {
    case Raised::kNone:
      return;
    case Raised::kRealtime: {
      sched_param param{};
      param.sched_priority = saved_rt_priority_;
      sched_setscheduler(gettid(), saved_policy_, &param);
      break;
    }
    case Raised::kNice:
      setpriority(PRIO_PROCESS, gettid(), saved_nice_);
      break;
  }
  raised_ = Raised::kNone;
}

}  // namespace tvx::serial
