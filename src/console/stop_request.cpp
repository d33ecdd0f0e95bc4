#include "console/stop_request.h"

namespace tvx::console {

StopRequest& ProcessStopRequest() {
  static StopRequest request;
  return request;
}

}  // namespace tvx::console
