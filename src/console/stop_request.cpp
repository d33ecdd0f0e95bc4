#include "console/stop_request.h"

namespace tvx::console {

StopRequest& ProcessStopRequest() {
  static StopRequest request;
  return request;
}

int ExitStatusAfterStop(int status) {
  const int signal_number = ProcessStopRequest().Signal();
  return signal_number != 0 ? StopExitStatus(signal_number) : status;
}

}  // namespace tvx::console
