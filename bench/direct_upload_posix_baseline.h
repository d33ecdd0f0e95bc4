// The bare word exchange of the direct upload over a pseudo-terminal, as a yardstick for the
// real uploader: three one-byte writes, wait for the 2-byte echo, one 3-byte write, wait for
// the 1-byte reply, against a minimal peer thread that answers at once.
#pragma once

#include <cstdint>

namespace tvx::bench {

struct BaselineResult {
  std::int64_t words = 0;
  double wall_seconds = 0.0;
  double cpu_seconds = 0.0;  ///< of the exchanging thread only
  bool ok = false;           ///< every echo and reply arrived intact
};

/// Runs `words` exchanges. With `spin_checks` > 0 each wait first re-checks the receive count
/// that many times before it blocks in poll().
BaselineResult RunBaseline(std::int64_t words, int spin_checks);

}  // namespace tvx::bench
