#include "app/front_end.h"
#include "direct/direct_upload.h"

namespace tvx::app {

MenuJobs DefaultJobs() {
  MenuJobs jobs;
  jobs.direct_upload = direct::RunDirectUpload;
  return jobs;
}

}  // namespace tvx::app
