#include <memory>

#include "app/front_end.h"
#include "direct/direct_upload.h"
#include "rf/rf_upload.h"
#include "terminal/radio_setup.h"

namespace tvx::app {

MenuJobs DefaultJobs() {
  MenuJobs jobs;
  jobs.direct_upload = direct::RunDirectUpload;
  jobs.rf_upload = rf::RunRfUpload;
  // The transmit ring lives for the whole run; every terminal session reuses it.
  jobs.radio_setup = [link = std::make_shared<terminal::TerminalLink>()](job::RunContext& ctx) {
    terminal::RunRadioSetup(ctx, *link);
  };
  return jobs;
}

}  // namespace tvx::app
