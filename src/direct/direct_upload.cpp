#include "direct/direct_upload.h"

#include "direct/upload_state.h"
#include "serial/port_ops.h"

namespace tvx::direct {

void RunDirectUpload(app::RunContext& ctx) {
  UploadState state;
  if (RunSetup(ctx, state) != SetupResult::kReady) {
    serial::CloseAllPorts(ctx);
    ctx.priority.Normal();
    return;
  }
  if (RunTransfer(ctx, state) == TransferResult::kWalkEnded) {
    VerifyAndClose(ctx, state);
  } else {
    ShowTimeAndClose(ctx, state);
  }
}

}  // namespace tvx::direct
