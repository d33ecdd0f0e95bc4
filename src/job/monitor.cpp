#include "job/monitor.h"

namespace tvx::job {

Monitor& SilentMonitor() {
  static Monitor silent;
  return silent;
}

}  // namespace tvx::job
