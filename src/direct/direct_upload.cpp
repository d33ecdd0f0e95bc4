#include "direct/direct_upload.h"

#include "direct/upload_state.h"
#include "job/port_ops.h"

namespace tvx::direct {

Result RunDirectUpload(job::RunContext& ctx) {
  UploadState state;
  if (RunSetup(ctx, state) != SetupResult::kReady) {
    job::CloseAllPorts(ctx);
    ctx.priority.Normal();
    job::ReportPending(ctx);  // what the set-up left latched belongs to this job
  } else {
    switch (RunTransfer(ctx, state)) {
      case TransferResult::kWalkEnded:
        VerifyAndClose(ctx, state);
        break;
      case TransferResult::kInterrupted:
        ShowTimeAndClose(ctx, state, Outcome::kInterrupted);
        break;
      case TransferResult::kAborted:
      case TransferResult::kLineDead:
        ShowTimeAndClose(ctx, state, Outcome::kStopped);
        break;
    }
  }
  Result result;
  result.outcome = state.outcome;
  result.serial_number = state.serial_number;
  result.seconds = state.transfer_seconds;
  result.word_attempts = state.word_attempt_count;
  result.resent_words = state.resent_words;
  result.words_done = state.words_done;
  return result;
}

}  // namespace tvx::direct
