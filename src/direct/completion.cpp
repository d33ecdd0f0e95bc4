// The end of every direct upload that reached the transfer: the radio's checksum and the
// verdict, the read-back of every word after a wrong checksum, the program time, the close and
// the outcome line that tells the operator how the upload ended.
#include <array>
#include <span>
#include <string>
#include <string_view>

#include "console/format.h"
#include "direct/prompt_row.h"
#include "direct/protocol.h"
#include "direct/upload_state.h"
#include "direct/waits.h"
#include "image/firmware_image.h"
#include "job/port_ops.h"

namespace tvx::direct {

namespace {

constexpr int kXorRow = 19;
constexpr int kChecksumRow = 20;
constexpr int kProgramTimeRow = 29;
constexpr int kOutcomeRow = 32;

enum class WaitResult { kBytes, kEscape, kLineDead, kStop };

std::uint8_t ReadOneByte(job::RunContext& ctx) {
  std::array<std::uint8_t, 1> byte{};
  (void)ctx.port.Read(byte);
  return byte[0];
}

// One raw write of the verdict byte. False when it did not go out; a dead line is reported.
bool WriteVerdict(job::RunContext& ctx, std::uint8_t verdict) {
  ctx.send_buffer[0] = verdict;
  if (ctx.port.Write(std::span<const std::uint8_t>(ctx.send_buffer.data(), 1)) == 1) return true;
  if (job::LineDead(ctx)) job::ErrorReport(ctx.errors, ctx.console);
  return false;
}

// Waits for `count` bytes; Escape leaves, other keys are dropped. A radio that stops
// answering therefore never traps the operator, and a dead line ends the wait at once.
WaitResult AwaitBytesOrEscape(job::RunContext& ctx, std::size_t count) {
  for (;;) {
    switch (AwaitBytesOrKey(ctx, count)) {
      case WaitEvent::kBytes:
        return WaitResult::kBytes;
      case WaitEvent::kLineDead:
        return WaitResult::kLineDead;
      case WaitEvent::kStop:
        return WaitResult::kStop;
      case WaitEvent::kKey:
        if (console::IsEscape(ctx.console.ReadKey())) return WaitResult::kEscape;
        break;
    }
  }
}

// "I Sent " b0, "I Got " g0, "I Sent " b1, "I Got " g1, each followed by a zone step.
std::string ReadBackMismatchLine(std::uint8_t b0, std::uint8_t g0, std::uint8_t b1,
                                 std::uint8_t g1) {
  std::string s = "I Sent " + console::Hex(b0);
  ZoneStep(s);
  s += "I Got " + console::Hex(g0);
  ZoneStep(s);
  s += "I Sent " + console::Hex(b1);
  ZoneStep(s);
  s += "I Got " + console::Hex(g1);
  ZoneStep(s);
  return s;
}

// The radio returns the two bytes it holds at every word address of the image; each word that
// differs from the image is shown on row 30 and waits for a key. Nothing is counted or resent.
// kBytes: the walk ran to its end.
WaitResult ReadBackPass(job::RunContext& ctx, std::int64_t total_words) {
  auto& screen = ctx.console.Screen();
  ctx.monitor->Phase("Read-back");
  std::int64_t words_done = 0;
  image::ImageWalk walk(ctx.image, ctx.record_buffer, image::WalkMode::kVisitAll);
  while (walk.NextRecord()) {
    ShowProgressLine(ctx, walk);
    const std::uint8_t space_byte = walk.SpaceByte();
    for (image::Word word; walk.NextWord(word);) {
      job::SendByte(ctx, space_byte);
      job::SendByte(ctx, HighByte(word.address));
      job::SendByte(ctx, LowByte(word.address));
      const WaitResult answer = AwaitBytesOrEscape(ctx, 2);
      if (answer != WaitResult::kBytes) return answer;
      const std::uint8_t g0 = ReadOneByte(ctx);
      const std::uint8_t g1 = ReadOneByte(ctx);
      ctx.monitor->Progress(++words_done, total_words);
      if (g0 == word.b0 && g1 == word.b1) continue;
      ctx.console.Beep();
      screen.Locate(kPromptRow, 1);
      screen.SetColours(console::kYellow, console::kBlue, 0);
      const std::string line = ReadBackMismatchLine(word.b0, g0, word.b1, g1);
      screen.PrintText(line);
      ctx.monitor->Prompt(job::PromptKind::kContinue,
                          "Address " + console::Hex(word.address) + ": " + line);
      if (console::IsEscape(console::WaitForKey(ctx.console))) return WaitResult::kEscape;
      if (job::StopRequested(ctx)) return WaitResult::kStop;
    }
  }
  return WaitResult::kBytes;
}

void ShowProgramTime(job::RunContext& ctx, const UploadState& state) {
  const double elapsed = ctx.clock.Seconds() - state.transfer_start;
  auto& screen = ctx.console.Screen();
  screen.Locate(kProgramTimeRow, 1);
  screen.PrintText(console::FormatPicture("Program Time is ##.## S", elapsed));
  screen.NewLine();
}

void ShowOutcome(job::RunContext& ctx, const UploadState& state, Outcome outcome) {
  auto& screen = ctx.console.Screen();
  screen.Locate(kOutcomeRow, 1);
  if (outcome == Outcome::kComplete && state.resent_words == 0) {
    screen.SetColours(console::kLightGreen, console::kBlack, 0);
    screen.PrintText("Upload complete: the radio accepted the checksum.");
    return;
  }
  screen.SetColours(console::kYellow, console::kRed, 0);
  switch (outcome) {
    case Outcome::kComplete:
      screen.PrintText("Checksum accepted, but " + std::to_string(state.resent_words) +
                       " resent words are not covered by it: upload again to be sure.");
      break;
    case Outcome::kChecksumError:
      screen.PrintText("Upload failed: checksum error. Upload again before using the radio.");
      break;
    default:
      screen.PrintText("Upload stopped before the end: the radio's firmware is incomplete.");
      break;
  }
}

// Close, report what this job left latched, say how the upload ended, and wait for the
// closing key.
void Finish(job::RunContext& ctx, UploadState& state, Outcome outcome, bool show_time) {
  ctx.priority.Normal();
  state.outcome = outcome;
  state.transfer_seconds = ctx.clock.Seconds() - state.transfer_start;
  if (show_time) ShowProgramTime(ctx, state);
  ctx.errors.Latch(ctx.port.Close());
  job::ReportPending(ctx);
  ShowOutcome(ctx, state, outcome);
  BlankPromptRow(ctx);
  auto& screen = ctx.console.Screen();
  screen.Locate(kPromptRow, 1);
  screen.SetColours(console::kYellow, console::kBlue, 0);
  screen.PrintText("Hit any key to return to main menu");
  screen.NewLine();
  (void)console::WaitForKey(ctx.console);  // returns at once on a stop request
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
}

}  // namespace

void ShowTimeAndClose(job::RunContext& ctx, UploadState& state, Outcome outcome) {
  Finish(ctx, state, outcome, true);
}

void VerifyAndClose(job::RunContext& ctx, UploadState& state) {
  ctx.priority.Normal();
  ctx.monitor->Phase("Waiting for the radio's checksum");
  if (const WaitResult checksum = AwaitBytesOrEscape(ctx, 2); checksum != WaitResult::kBytes) {
    Finish(ctx, state, checksum == WaitResult::kStop ? Outcome::kInterrupted : Outcome::kStopped,
           true);
    return;
  }
  auto& screen = ctx.console.Screen();
  const std::uint8_t c1 = ReadOneByte(ctx);

  std::string sums = console::Hex(state.even_xor);
  ZoneStep(sums);
  sums += console::Hex(state.odd_xor);
  ZoneStep(sums);
  sums += console::Hex(state.even_xor ^ 0xFFu);
  ZoneStep(sums);
  sums += console::Hex(state.odd_xor ^ 0xFFu);
  screen.Locate(kXorRow, 1);
  screen.PrintText(sums);
  screen.NewLine();

  std::string got = console::Hex(c1);
  ZoneStep(got);
  screen.Locate(kChecksumRow, 1);
  screen.PrintText(got);

  // The radio complements its sums over an odd number of words.
  const std::uint8_t flip = (state.word_attempt_count % 2 != 0) ? 0xFF : 0x00;
  const auto e0 = static_cast<std::uint8_t>(state.even_xor ^ flip);
  const auto e1 = static_cast<std::uint8_t>(state.odd_xor ^ flip);

  const std::uint8_t c2 = ReadOneByte(ctx);
  screen.PrintText(console::Hex(c2));
  screen.NewLine();

  if (c1 == e0 && c2 == e1) {
    const bool sent = WriteVerdict(ctx, kChecksumAccepted);
    Finish(ctx, state, sent ? Outcome::kComplete : Outcome::kStopped, true);
    return;
  }
  ctx.console.Beep();
  screen.SetColours(console::kYellow, console::kBlue, 0);
  screen.PrintText("CHECK SUM ERROR!!!");
  screen.NewLine();
  ctx.monitor->Message("CHECK SUM ERROR!!!");
  if (!WriteVerdict(ctx, kChecksumRejected)) {
    Finish(ctx, state, Outcome::kStopped, true);
    return;
  }
  // After a complete read-back the program time is not shown.
  const WaitResult read_back = ReadBackPass(ctx, CountWords(ctx));
  // A read-back cut short by a stop request still ends the job as a checksum error: the
  // verdict went out, and the radio must be loaded again in any case.
  Finish(ctx, state, Outcome::kChecksumError, read_back != WaitResult::kBytes);
}

}  // namespace tvx::direct
