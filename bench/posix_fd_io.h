// Blocking whole-buffer reads on a POSIX descriptor, for the benchmarks' radio stand-ins.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace tvx::bench {

/// Reads exactly `count` bytes into `into`, blocking; false at end of file or on an error.
inline bool ReadExactly(int fd, std::uint8_t* into, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = read(fd, into + got, count - got);
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace tvx::bench
