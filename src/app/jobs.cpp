#include <memory>

#include "app/commands.h"
#include "app/front_end.h"
#include "app/upload_log.h"
#include "direct/direct_upload.h"
#include "rf/rf_upload.h"
#include "terminal/radio_setup.h"

namespace tvx::app {

MenuJobs DefaultJobs(UploadLog* log) {
  MenuJobs jobs;
  // The log line is written when the upload ends, before its closing key.
  jobs.direct_upload = [log](job::RunContext& ctx) {
    direct::RunDirectUpload(ctx, [&ctx, log](const direct::Result& result) {
      LogEntry entry = DirectLogEntry(result);
      CompleteLogEntry(entry, ctx);
      if (log != nullptr) log->Append(entry);
    });
  };
  // The log line is written as the job ends, before its end prompt waits for a key.
  jobs.rf_upload = [log](job::RunContext& ctx) {
    rf::RunRfUpload(ctx, [log, &ctx](const rf::Outcome& outcome) {
      LogEntry entry = RfLogEntry(outcome);
      CompleteLogEntry(entry, ctx);
      if (log != nullptr) log->Append(entry);
    });
  };
  // The transmit ring lives for the whole run; every terminal session reuses it.
  jobs.radio_setup = [link = std::make_shared<terminal::TerminalLink>()](job::RunContext& ctx) {
    terminal::RunRadioSetup(ctx, *link);
  };
  return jobs;
}

}  // namespace tvx::app
