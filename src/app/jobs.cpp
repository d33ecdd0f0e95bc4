#include <memory>

#include "app/commands.h"
#include "app/front_end.h"
#include "app/serial_devices.h"
#include "app/session_log_file.h"
#include "app/upload_log.h"
#include "direct/direct_upload.h"
#include "rf/rf_upload.h"
#include "terminal/radio_setup.h"

namespace tvx::app {

MenuJobs DefaultJobs(UploadLog* log, const std::optional<std::array<std::uint8_t, 4>>& access_code,
                     const ChosenImage* image, SessionLogFile* session_log) {
  MenuJobs jobs;
  const std::string source = image != nullptr ? image->Source() : BuiltInImage().Source();
  if (image != nullptr) jobs.image_row = MenuImageRow(*image);
  // The log line is written when the upload ends, before its closing key.
  jobs.direct_upload = [log, &access_code, source](job::RunContext& ctx) {
    const auto on_end = [&ctx, log, &access_code, &source](const direct::Result& result) {
      LogEntry entry = DirectLogEntry(result);
      CompleteLogEntry(entry, ctx, source);
      entry.access_code = AccessCodeToken(access_code.has_value());
      if (log != nullptr) log->Append(entry);
    };
    direct::RunDirectUpload(ctx, on_end, access_code.value_or(direct::kAccessCode));
  };
  // The log line is written as the job ends, before its end prompt waits for a key.
  jobs.rf_upload = [log, source](job::RunContext& ctx) {
    rf::RunRfUpload(ctx, [log, &ctx, &source](const rf::Outcome& outcome) {
      LogEntry entry = RfLogEntry(outcome);
      CompleteLogEntry(entry, ctx, source);
      if (log != nullptr) log->Append(entry);
    });
  };
  // The transmit ring lives for the whole run; every terminal session reuses it. A pulled
  // adapter is looked for under its stable name; the record's failure waits for the screen's end.
  terminal::RadioSetupOptions options;
  options.stable_name = StableDeviceName;
  if (session_log != nullptr) {
    options.session_log = [session_log](std::string_view line) { session_log->Append(line); };
  }
  jobs.radio_setup = [link = std::make_shared<terminal::TerminalLink>(), options](
                         job::RunContext& ctx) { terminal::RunRadioSetup(ctx, *link, options); };
  return jobs;
}

}  // namespace tvx::app
