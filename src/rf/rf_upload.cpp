#include "rf/rf_upload.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "console/format.h"
#include "image/firmware_image.h"
#include "job/port_ops.h"
#include "rf/broadcast.h"
#include "rf/download_file.h"
#include "rf/frames.h"

namespace tvx::rf {

namespace {

constexpr int kPromptRow = 30;
constexpr int kOutcomeRow = 32;
constexpr int kCountdownRow = 35;
constexpr int kCountdownFrom = 5;

// The operator's answers.
struct Plan {
  std::int32_t copies = 0;        // N: copies of each data frame
  std::int32_t first_record = 0;  // S
  std::int32_t passes = 0;        // R
};

std::int32_t AskNumber(job::RunContext& ctx, std::string_view question) {
  ctx.console.Screen().PrintText(question);
  return console::RoundToInt(console::NumericValue(console::ReadLine(ctx.console)));
}

// False when the operator leaves (anything but "Y"/"y" first, or N of 0 or above 9).
bool AskQuestions(job::RunContext& ctx, Plan& plan) {
  auto& screen = ctx.console.Screen();
  screen.Clear();
  screen.PrintText("       Download New Firmware to Radio Over RF");
  screen.NewLine();
  screen.NewLine();
  screen.NewLine();
  screen.PrintText("Serial Port connected to Radio diagnostic port? (Y,N, or Return to Quit) ");
  const std::string answer = console::ReadLine(ctx.console);
  if (job::StopRequested(ctx) || (answer != "Y" && answer != "y")) return false;
  screen.NewLine();
  plan.copies = AskNumber(ctx, "Number of times each line is sent? (1-9) (0 to quit) ");
  if (job::StopRequested(ctx) || plan.copies == 0 || plan.copies > 9) return false;
  plan.first_record = AskNumber(ctx, "Starting Line Number? (enter 0 to start at beqinning) ");
  if (job::StopRequested(ctx)) return false;
  // Records count from 0; a negative start would fetch from before the image.
  if (plan.first_record < 0) plan.first_record = 0;
  plan.passes = AskNumber(ctx, "Number of times to repeat full process ");
  return !job::StopRequested(ctx);
}

// Six seconds for the radio network to find itself again, counted down on row 35. False when a
// stop request cut it short.
bool ReacquireNetwork(job::RunContext& ctx) {
  ctx.monitor->Phase("Waiting to re-acuire radio network");
  auto& screen = ctx.console.Screen();
  for (int t = kCountdownFrom; t >= 0; --t) {
    screen.Locate(kCountdownRow, 1);
    screen.PrintText("Waiting to re-acuire radio network");
    screen.PrintNumber(t);
    screen.NewLine();
    if (!job::Pause(ctx, 1000)) return false;
  }
  screen.Locate(kCountdownRow, 1);
  screen.PrintText(std::string(49, ' '));
  screen.NewLine();
  return true;
}

// The passes; returns how the broadcast ended.
Outcome RunPasses(job::RunContext& ctx, const Plan& plan) {
  auto& screen = ctx.console.Screen();
  const std::int64_t mismatches_before = ctx.rf_mismatch_count;
  Outcome outcome;
  RfFrameBuffer frame{};
  bool dead = false;
  // The frames the monitor hears of: every record from S on, in every pass.
  const std::int64_t per_pass =
      std::max<std::int64_t>(0, image::WalkRecordCount(ctx.image) - plan.first_record);
  const std::int64_t total_frames = per_pass * std::max<std::int64_t>(0, plan.passes);
  std::int64_t frames_done = 0;
  // Wider than the answer it is compared with, so no repeat count can make it overflow.
  for (std::int64_t pass = 0; pass < plan.passes && !dead;) {
    job::DiscardInput(ctx);
    ctx.monitor->Phase("Pass " + std::to_string(pass + 1) + " of " + std::to_string(plan.passes));
    const DownloadFile file = CreateDownloadFile(screen, ctx.clock, ctx.image, ctx.record_buffer,
                                                 ctx.progress_counter, pass);
    const std::size_t header_length = RfHeaderFrame(frame, file.record_count, file.checksum);
    ShowHeaderFrame(screen, frame);

    bool stopped = false;
    bool interrupted = false;
    std::int32_t record = plan.first_record;
    if (plan.first_record == 0) {
      const FrameResult header = BroadcastHeader(
          ctx, std::span<const std::uint8_t>(frame.data(), header_length), plan.copies);
      dead = header == FrameResult::kLineDead;
      interrupted = header == FrameResult::kStop;
    }
    for (; !dead && !interrupted && record < file.record_count; ++record) {
      // A stop request ends the pass before a new record goes out.
      if (job::StopRequested(ctx)) {
        interrupted = true;
        break;
      }
      image::FetchRecord(ctx.image, record, ctx.record_buffer);
      const std::uint8_t s = RandomByte(ctx.random.Next());
      const std::size_t length = RfDataFrame(frame, ctx.record_buffer, record, s);
      ShowDataFrame(screen, frame, length, record, ctx.rf_mismatch_count);
      const FrameResult result =
          BroadcastDataFrame(ctx, std::span<const std::uint8_t>(frame.data(), length), plan.copies);
      if (result == FrameResult::kLineDead) {
        dead = true;
        break;
      }
      if (result == FrameResult::kStop) {
        interrupted = true;
        break;
      }
      if (result == FrameResult::kSent && plan.copies > 0) ++outcome.frames;
      ctx.monitor->Progress(++frames_done, total_frames);
      ctx.console.Present(false);
      // After the last copy the keyboard was just asked; a key that comes in the moment since
      // is taken after the next frame.
      const bool ask = result == FrameResult::kKeyWaiting || plan.copies <= 0;
      if (ask && !ctx.console.ReadKey().empty()) {
        stopped = true;
        break;
      }
    }
    if (dead) {
      job::ErrorReport(ctx.errors, ctx.console);
      stopped = true;
    }
    if (stopped || interrupted) {
      outcome.stopped = true;
      outcome.interrupted = interrupted;
      outcome.stop_record = record;
      if (dead || interrupted) break;
      pass = plan.passes;  // a key ends this pass and all later ones
    } else {
      ++outcome.passes;
    }
    ++pass;
    if (plan.passes != 1 && pass != plan.passes && !ReacquireNetwork(ctx)) {
      // Every pass so far ran to its end; the next would have started at S.
      outcome.stopped = true;
      outcome.interrupted = true;
      outcome.stop_record = plan.first_record;
      break;
    }
  }
  outcome.mismatches = ctx.rf_mismatch_count - mismatches_before;
  return outcome;
}

std::string Counted(std::int64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

}  // namespace

std::string OutcomeLine(const Outcome& outcome) {
  if (outcome.stopped) {
    return "Broadcast stopped at record " + std::to_string(outcome.stop_record);
  }
  return "Broadcast complete: " + Counted(outcome.passes, "pass", "passes") + ", " +
         Counted(outcome.frames, "frame", "frames") + ", " +
         Counted(outcome.mismatches, "echo mismatch", "echo mismatches") + ".";
}

Outcome RunRfUpload(job::RunContext& ctx) {
  Plan plan;
  Outcome outcome;
  if (!AskQuestions(ctx, plan)) {
    job::CloseAllPorts(ctx);
    outcome.start = Start::kQuit;
    outcome.interrupted = job::StopRequested(ctx);
    return outcome;
  }
  if (!job::OpenPortForJob(ctx, job::Profile::kRfUpload)) {
    outcome.start = Start::kPortNotOpened;
    return outcome;
  }
  job::ZeroTimeouts(ctx);

  const double start = ctx.clock.Seconds();
  outcome = RunPasses(ctx, plan);
  outcome.seconds = ctx.clock.Seconds() - start;

  auto& screen = ctx.console.Screen();
  screen.Locate(kOutcomeRow, 1);
  screen.PrintText(OutcomeLine(outcome));
  screen.Locate(kPromptRow, 1);
  screen.SetColours(console::kYellow, console::kBlue, 0);
  screen.PrintText("Hit any key to return to main menu");
  screen.NewLine();
  (void)console::WaitForKey(ctx.console);  // returns at once on a stop request
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
  ctx.errors.Latch(ctx.port.Close());
  return outcome;
}

}  // namespace tvx::rf
