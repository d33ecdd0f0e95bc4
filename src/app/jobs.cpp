#include "app/front_end.h"
#include "direct/direct_upload.h"
#include "rf/rf_upload.h"

namespace tvx::app {

MenuJobs DefaultJobs() {
  MenuJobs jobs;
  jobs.direct_upload = direct::RunDirectUpload;
  jobs.rf_upload = rf::RunRfUpload;
  return jobs;
}

}  // namespace tvx::app
