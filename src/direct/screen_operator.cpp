#include "direct/screen_operator.h"

#include <string>
#include <string_view>
#include <utility>

#include "console/format.h"
#include "direct/prompt_row.h"
#include "job/run_context.h"

namespace tvx::direct {

namespace {

constexpr std::string_view kTitle = "           Download New Firmware to Radio";
constexpr std::string_view kPortQuestion =
    "Enter Y for Diag Port, N for data port, <Return> to Quit ";
constexpr std::string_view kSetupQuestion = "Radio in setup? (Y,N, or Return to Quit) ";
constexpr std::string_view kSpeedQuestion =
    "High Speed Download (use with caution and FIFO enabled) (N (default), or Y ) ";
constexpr std::string_view kDeadLine = "Radio not answering: the line is dead.";
constexpr std::string_view kNotARadio = "Not a Torvandrix Radio!!!";
// How long a failure's message stays up before the menu returns.
constexpr int kReadMessageMs = 2000;
// While the console still holds changes back, a wait is cut to about one frame so they appear.
constexpr int kFrameWaitMs = 35;

constexpr int kIdentityRow = 8;
constexpr int kXorRow = 19;
constexpr int kChecksumRow = 20;
constexpr int kHintRow = 24;
constexpr int kProgressRow = 25;
constexpr int kProgramTimeRow = 29;
constexpr int kOutcomeRow = 32;
constexpr std::int32_t kProgressLimit = 7;  // the transfer refreshes on every eighth record

// Answers are whole lines compared exactly: " Y", "yes" and "Y " are none of these.
bool IsYes(const std::string& answer) {
  return answer == "Y" || answer == "y";
}
bool IsNo(const std::string& answer) {
  return answer == "N" || answer == "n";
}

std::string Ask(job::RunContext& ctx, std::string_view question) {
  ctx.console.Screen().PrintText(question);
  return console::ReadLine(ctx.console);
}

// The record progress line at row 25, column 1: the record index with "#####   ", the address
// in hexadecimal, a zone step and the data count as a plain number; the line is not ended.
void ShowProgressLine(job::RunContext& ctx, const image::ImageWalk& walk) {
  std::string line = console::FormatPicture("#####   ", walk.RecordIndex());
  line += console::Hex(walk.Address());
  ZoneStep(line);
  line += console::PlainNumber(walk.DataCount());
  auto& screen = ctx.console.Screen();
  screen.Locate(kProgressRow, 1);
  screen.PrintText(line);
}

// "I Sent " b0, "I Got " g0, "I Sent " b1, "I Got " g1, each followed by a zone step.
std::string ReadBackMismatchLine(const Mismatch& m) {
  std::string s = "I Sent " + console::Hex(m.b0);
  ZoneStep(s);
  s += "I Got " + console::Hex(m.g0);
  ZoneStep(s);
  s += "I Sent " + console::Hex(m.b1);
  ZoneStep(s);
  s += "I Got " + console::Hex(m.g1);
  ZoneStep(s);
  return s;
}

Decision FromPrompt(bool gave_up) {
  return gave_up ? Decision::GiveUp() : Decision::Retry();
}

}  // namespace

ScreenOperator::ScreenOperator(job::RunContext& ctx, std::function<void(const Result&)> on_end)
    : ctx_(ctx), on_end_(std::move(on_end)) {}

bool ScreenOperator::AskPort(Plan& plan) {
  auto& screen = ctx_.console.Screen();
  screen.Clear();
  screen.PrintText(kTitle);
  screen.NewLine();
  screen.NewLine();
  const std::string answer = Ask(ctx_, kPortQuestion);
  if (StopRequested()) return false;
  if (!IsYes(answer) && !IsNo(answer)) return false;
  plan.diag_port = IsYes(answer);
  return true;
}

bool ScreenOperator::StopRequested() {
  return job::StopRequested(ctx_);
}

console::NativeWaitHandle ScreenOperator::WakeHandle() {
  return ctx_.console.KeyWaitHandle();
}

bool ScreenOperator::InputPending() {
  return ctx_.console.KeyWaiting();
}

job::LookAgain ScreenOperator::NextLook(const WaitState&) {
  // While the console still holds changes back, look again within a frame so they appear.
  return {.within_ms = ctx_.console.Present(false) ? -1 : kFrameWaitMs};
}

void ScreenOperator::Doze(int ms) {
  ctx_.console.AwaitKey(ms);
}

bool ScreenOperator::Confirm(Plan& plan) {
  const bool in_setup = IsYes(Ask(ctx_, kSetupQuestion));
  if (StopRequested() || !in_setup) return false;
  ctx_.console.Screen().NewLine();
  const bool high_speed = IsYes(Ask(ctx_, kSpeedQuestion));
  if (StopRequested()) return false;
  plan.high_speed = high_speed;
  return true;
}

// A key waiting at a wait is the operator's answer. At the identity wait any key leaves; at
// the erase, checksum and read-back waits Escape leaves and other keys are dropped. At the
// word's waits the key opens the retry prompt: at the echo wait the key is itself the first
// answer (Escape leaves at once), at the reply wait it only opens the prompt, even Escape.
Decision ScreenOperator::AtWait(const WaitState& wait) {
  auto& console = ctx_.console;
  if (!console.KeyWaiting()) return Decision::WaitOn();
  switch (wait.wait) {
    case Wait::kIdentity:
      return console.ReadKey().empty() ? Decision::WaitOn() : Decision::GiveUp();
    case Wait::kErase:
    case Wait::kChecksum:
    case Wait::kReadBack:
      return console::IsEscape(console.ReadKey()) ? Decision::GiveUp() : Decision::WaitOn();
    case Wait::kEcho:
      if (console::IsEscape(console.ReadKey())) return Decision::GiveUp();
      return FromPrompt(AskOnPromptRow(ctx_, AddressWaitPrompt(), false, false));
    case Wait::kReply:
      (void)console.ReadKey();
      return FromPrompt(AskOnPromptRow(ctx_, DataWaitPrompt(wait.address), false, false));
  }
  return Decision::WaitOn();
}

Decision ScreenOperator::AtFault(const Fault& fault) {
  switch (fault.prompt) {
    case Prompt::kAddressEcho:
      return FromPrompt(
          AskOnPromptRow(ctx_, AddressEchoPrompt(fault.address, fault.echo), true, false));
    case Prompt::kDataTransmit:
      return FromPrompt(AskOnPromptRow(ctx_, DataTransmitPrompt(), true, true));
    case Prompt::kBadData:
      return FromPrompt(AskOnPromptRow(
          ctx_, BadDataPrompt(fault.sent_d1, fault.reply, fault.address), true, true));
    default:
      break;
  }
  return Decision::Retry();
}

// A key waiting between records is taken: Escape gives up, anything else is dropped.
bool ScreenOperator::NextRecord() {
  return !console::IsEscape(ctx_.console.ReadKey());
}

// The difference stays on row 30 until the next one or the end; any key but Escape goes on.
bool ScreenOperator::AtMismatch(const Mismatch& mismatch) {
  ctx_.console.Beep();
  auto& screen = ctx_.console.Screen();
  screen.Locate(kPromptRow, 1);
  screen.SetColours(console::kYellow, console::kBlue, 0);
  const std::string line = ReadBackMismatchLine(mismatch);
  screen.PrintText(line);
  return !console::IsEscape(console::WaitForKey(ctx_.console));
}

void ScreenOperator::OpenFailed(const Result& result) {
  job::ShowOpenFailure(ctx_, result.settings_refused);
}

void ScreenOperator::Begin(Phase phase) {
  phase_ = phase;
  auto& screen = ctx_.console.Screen();
  switch (phase) {
    case Phase::kHandshake:
      break;
    case Phase::kIdentity:
      screen.Locate(kIdentityRow, 1);
      screen.PrintText("Waiting for Radio ID");
      screen.NewLine();
      break;
    case Phase::kErase:
      screen.PrintText("Waiting for erase");
      screen.NewLine();
      break;
    case Phase::kTransfer:
      screen.PrintText("Starting Download");
      screen.NewLine();
      screen.Locate(kHintRow, 1);
      screen.PrintText("If Programing Pauses, Press <Enter> for Retry");
      screen.NewLine();
      break;
    case Phase::kChecksum:
    case Phase::kReadBack:
      break;
  }
}

// What led to a pause is on the terminal during it.
void ScreenOperator::Pausing(int) {
  ctx_.console.Present(true);
}

void ScreenOperator::LineError(serial::ErrorNumber code) {
  ctx_.errors.code = code;
  job::ErrorReport(ctx_.errors, ctx_.console);
}

void ScreenOperator::NotARadio(const std::array<std::uint8_t, 4>&) {
  ctx_.console.Beep();
}

void ScreenOperator::SerialNumber(std::uint32_t serial) {
  auto& screen = ctx_.console.Screen();
  screen.PrintText("Radio Serial Number is ");
  screen.PrintNumber(serial);
  screen.NewLine();
}

void ScreenOperator::SerialOutOfRange(std::uint32_t) {
  ctx_.console.Beep();
  auto& screen = ctx_.console.Screen();
  screen.NewLine();
  screen.PrintText(kNotARadio);
  screen.NewLine();
  job::Pause(ctx_, kReadMessageMs);
}

void ScreenOperator::UnexpectedByte(std::uint8_t) {
  ctx_.console.Beep();
}

// The transfer refreshes the progress line on every eighth record, on the run's counter that no
// job resets; the read-back on every record.
void ScreenOperator::RecordStarted(const image::ImageWalk& walk) {
  if (phase_ == Phase::kReadBack) {
    ShowProgressLine(ctx_, walk);
    return;
  }
  if (++ctx_.progress_counter > kProgressLimit) {
    ctx_.progress_counter = 0;
    ShowProgressLine(ctx_, walk);
  }
}

// Row 19: the sums and their complements; row 20: the radio's two bytes. A rejection beeps and
// says so on row 21 in yellow on blue, which stays until the job ends.
void ScreenOperator::Checksum(const ChecksumReport& report) {
  std::string sums = console::Hex(report.even_xor);
  ZoneStep(sums);
  sums += console::Hex(report.odd_xor);
  ZoneStep(sums);
  sums += console::Hex(report.even_xor ^ 0xFFu);
  ZoneStep(sums);
  sums += console::Hex(report.odd_xor ^ 0xFFu);
  auto& screen = ctx_.console.Screen();
  screen.Locate(kXorRow, 1);
  screen.PrintText(sums);
  screen.NewLine();
  std::string got = console::Hex(report.c1);
  ZoneStep(got);
  got += console::Hex(report.c2);
  screen.Locate(kChecksumRow, 1);
  screen.PrintText(got);
  screen.NewLine();
  if (report.accepted) return;
  ctx_.console.Beep();
  screen.SetColours(console::kYellow, console::kBlue, 0);
  screen.PrintText("CHECK SUM ERROR!!!");
  screen.NewLine();
}

void ScreenOperator::TransferEnded(double seconds, bool show_time) {
  if (!show_time) return;
  auto& screen = ctx_.console.Screen();
  screen.Locate(kProgramTimeRow, 1);
  screen.PrintText(console::FormatPicture("Program Time is ##.## S", seconds));
  screen.NewLine();
}

void ScreenOperator::ShowOutcome(const Result& result) {
  auto& screen = ctx_.console.Screen();
  screen.Locate(kOutcomeRow, 1);
  if (result.outcome == Outcome::kComplete && result.resent_words == 0) {
    screen.SetColours(console::kLightGreen, console::kBlack, 0);
    screen.PrintText("Upload complete: the radio accepted the checksum.");
    return;
  }
  screen.SetColours(console::kYellow, console::kRed, 0);
  switch (result.outcome) {
    case Outcome::kComplete:
      screen.PrintText("Checksum accepted, but " + std::to_string(result.resent_words) +
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

// An upload that reached the transfer ends with the outcome on row 32 and waits for the
// closing key; one that did not goes straight back to the menu (after the message of a dead
// line and its pause).
void ScreenOperator::Finished(const Result& result) {
  auto& screen = ctx_.console.Screen();
  if (!result.transfer_started) {
    if (result.reason == Reason::kLineDead) {
      screen.PrintText(kDeadLine);
      screen.NewLine();
    }
    if (on_end_) on_end_(result);
    if (result.reason == Reason::kLineDead) job::Pause(ctx_, kReadMessageMs);
    return;
  }
  ShowOutcome(result);
  BlankPromptRow(ctx_);
  if (on_end_) on_end_(result);
  screen.Locate(kPromptRow, 1);
  screen.SetColours(console::kYellow, console::kBlue, 0);
  screen.PrintText("Hit any key to return to main menu");
  screen.NewLine();
  (void)console::WaitForKey(ctx_.console);  // returns at once on a stop request
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
}

}  // namespace tvx::direct
