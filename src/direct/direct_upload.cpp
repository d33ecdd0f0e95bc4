#include "direct/direct_upload.h"

#include "direct/upload_state.h"
#include "job/port_ops.h"

namespace tvx::direct {

void RunDirectUpload(job::RunContext& ctx) {
  UploadState state;
  if (RunSetup(ctx, state) != SetupResult::kReady) {
    job::CloseAllPorts(ctx);
    ctx.priority.Normal();
    job::ReportPending(ctx);  // what the set-up left latched belongs to this job
    return;
  }
  if (RunTransfer(ctx, state) == TransferResult::kWalkEnded) {
    VerifyAndClose(ctx, state);
  } else {
    ShowTimeAndClose(ctx, state);
  }
}

}  // namespace tvx::direct
