// The CPU time the benchmarks compare: user and system seconds so far of the calling thread
// (RUSAGE_THREAD, the default) or of the whole process (RUSAGE_SELF).
#pragma once

#include <sys/resource.h>

namespace tvx::bench {

inline double CpuSeconds(int who = RUSAGE_THREAD) {
  rusage usage{};
  getrusage(who, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace tvx::bench
