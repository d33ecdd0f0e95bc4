// Several direct uploads at once through the sub-command's runner, each against a simulated
// radio of its own on a pseudo-terminal answering at line time behind an adapter's latency,
// timed and costed per upload over the first words of the release image.
#pragma once

#include <cstdint>

namespace tvx::bench {

struct AtOnceResult {
  bool ok = false;                        ///< every upload reached the words asked for
  double slowest_seconds_per_word = 0.0;  ///< of the uploads' transfers, the slowest
  double worst_cpu_per_word = 0.0;        ///< of the uploads' threads, the costliest (seconds)
};

/// Runs `uploads` direct uploads at once (the real POSIX port and priority, one thread each)
/// at 115200 bit/s against as many radios behind `latency` seconds, and ends them all (as a
/// stop request would) once each has had `words` words answered. Blocks; takes the process's
/// stop request for its own and clears it.
AtOnceResult RunUploadsAtOnce(int uploads, double latency, std::uint64_t words);

}  // namespace tvx::bench
