// Set-up of a direct upload: the three questions, the programming-mode handshake at 19200
// bit/s, the switch to the transfer rate, the radio's identity and the erase.
#include <array>
#include <string>
#include <string_view>

#include "console/format.h"
#include "direct/challenge.h"
#include "direct/protocol.h"
#include "direct/upload_state.h"
#include "direct/waits.h"
#include "job/port_ops.h"

namespace tvx::direct {

namespace {

constexpr std::string_view kTitle = "           Download New Firmware to Radio";
constexpr std::string_view kPortQuestion =
    "Enter Y for Diag Port, N for data port, <Return> to Quit ";
constexpr std::string_view kSetupQuestion = "Radio in setup? (Y,N, or Return to Quit) ";
constexpr std::string_view kSpeedQuestion =
    "High Speed Download (use with caution and FIFO enabled) (N (default), or Y ) ";
constexpr int kDeadLinePauseMs = 2000;

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

// The handshake's checks: a latched code is reported at once and the sequence goes on, except
// on a dead line, where nothing more can pass. False then (the code has been reported).
bool CheckAlive(job::RunContext& ctx) {
  const bool dead = job::LineDead(ctx);
  job::ReportPending(ctx);
  return !dead;
}

// One handshake byte: sent by itself, its failure reported at once, then the radio's pause.
bool SendChecked(job::RunContext& ctx, std::uint8_t byte, int pause_ms) {
  job::SendByte(ctx, byte);
  if (!CheckAlive(ctx)) return false;
  if (pause_ms > 0) job::Pause(ctx, pause_ms);
  return true;
}

// The handshake at 19200 bit/s: programming command, access code, divisor, challenge, each
// byte written by itself and followed by the pause the radio needs. False on a dead line.
bool Handshake(job::RunContext& ctx, UploadState& state) {
  job::DiscardInput(ctx);
  if (!SendChecked(ctx, kProgramCommand, 300)) return false;
  job::DiscardInput(ctx);
  for (const std::uint8_t code : kAccessCode) {
    if (!SendChecked(ctx, code, 10)) return false;
  }
  if (!SendChecked(ctx, state.divisor, 0)) return false;
  ctx.random.Seed(ctx.clock.TimeOfDaySeconds());
  state.challenge = ChallengeWord(ctx.random.Next());
  job::Pause(ctx, 10);
  return SendChecked(ctx, HighByte(state.challenge), 10) &&
         SendChecked(ctx, LowByte(state.challenge), 5);
}

// The way out of the set-up when the line died (already reported): say so, close, pause.
SetupResult AbandonDeadLine(job::RunContext& ctx, UploadState& state) {
  constexpr std::string_view kDeadLine = "Radio not answering: the line is dead.";
  state.outcome = Outcome::kStopped;
  ctx.monitor->Message(kDeadLine);
  auto& screen = ctx.console.Screen();
  screen.PrintText(kDeadLine);
  screen.NewLine();
  job::CloseAllPorts(ctx);
  job::Pause(ctx, kDeadLinePauseMs);
  return SetupResult::kBackToMenu;
}

// The way out of the set-up on a stop request: nothing more goes to the radio.
SetupResult Interrupted(UploadState& state) {
  state.outcome = Outcome::kInterrupted;
  return SetupResult::kBackToMenu;
}

enum class IdentityResult { kReply, kKeyPressed, kLineDead, kStop };

// Any key the keyboard reports leaves, extended keys included.
IdentityResult AwaitIdentity(job::RunContext& ctx) {
  for (;;) {
    switch (AwaitBytesOrKey(ctx, 4)) {
      case WaitEvent::kBytes:
        return IdentityResult::kReply;
      case WaitEvent::kLineDead:
        return IdentityResult::kLineDead;
      case WaitEvent::kStop:
        return IdentityResult::kStop;
      case WaitEvent::kKey:
        if (!ctx.console.ReadKey().empty()) return IdentityResult::kKeyPressed;
        break;
    }
  }
}

enum class EraseResult { kErased, kEscape, kLineDead, kStop };

// Escape leaves; other keys are dropped; every byte other than the acknowledgement beeps.
EraseResult AwaitErase(job::RunContext& ctx) {
  for (;;) {
    switch (AwaitBytesOrKey(ctx, 1)) {
      case WaitEvent::kLineDead:
        return EraseResult::kLineDead;
      case WaitEvent::kStop:
        return EraseResult::kStop;
      case WaitEvent::kKey:
        if (console::IsEscape(ctx.console.ReadKey())) return EraseResult::kEscape;
        continue;
      case WaitEvent::kBytes:
        break;
    }
    const std::vector<std::uint8_t> byte = job::Receive(ctx, 1);
    if (!byte.empty() && byte[0] == kEraseDone) return EraseResult::kErased;
    ctx.console.Beep();
  }
}

}  // namespace

SetupResult RunSetup(job::RunContext& ctx, UploadState& state) {
  auto& screen = ctx.console.Screen();
  screen.Clear();
  screen.PrintText(kTitle);
  screen.NewLine();
  screen.NewLine();
  state.word_attempt_count = 0;

  const std::string port_answer = Ask(ctx, kPortQuestion);
  if (job::StopRequested(ctx)) return Interrupted(state);
  if (IsYes(port_answer)) {
    state.diag_port = true;
  } else if (IsNo(port_answer)) {
    state.diag_port = false;
  } else {
    return SetupResult::kBackToMenu;
  }

  if (!job::OpenPortForJob(ctx, job::Profile::kDirectUpload)) {
    state.outcome = Outcome::kPortNotOpened;
    return SetupResult::kBackToMenu;
  }
  // The diagnostic port needs waking before anything else; its failure shows at the next check.
  if (state.diag_port) job::SendByte(ctx, kDiagPortWake);

  const bool in_setup = IsYes(Ask(ctx, kSetupQuestion));
  if (job::StopRequested(ctx)) return Interrupted(state);
  if (!in_setup) return SetupResult::kBackToMenu;

  screen.NewLine();
  const bool high_speed = IsYes(Ask(ctx, kSpeedQuestion));
  if (job::StopRequested(ctx)) return Interrupted(state);
  state.divisor = high_speed ? kHighSpeedDivisor : kNormalDivisor;

  ctx.monitor->Phase("Handshake");
  job::ZeroTimeouts(ctx);
  serial::ControlState snapshot;
  (void)ctx.port.GetControlState(snapshot);

  if (!Handshake(ctx, state)) return AbandonDeadLine(ctx, state);
  if (job::StopRequested(ctx)) return Interrupted(state);
  job::SwitchLineRate(ctx, snapshot, state.divisor);

  screen.Locate(8, 1);
  screen.PrintText("Waiting for Radio ID");
  screen.NewLine();
  ctx.monitor->Phase("Waiting for Radio ID");
  state.outcome = Outcome::kStopped;  // from here on, every other way back is a stop
  const IdentityResult identity = AwaitIdentity(ctx);
  if (identity == IdentityResult::kLineDead) return AbandonDeadLine(ctx, state);
  if (identity == IdentityResult::kStop) return Interrupted(state);
  if (identity == IdentityResult::kKeyPressed) return SetupResult::kBackToMenu;

  const std::vector<std::uint8_t> reply = job::Receive(ctx, 4);
  if (reply.size() < 4 || reply[0] != kIdentityMarker) {
    ctx.console.Beep();
    state.outcome = Outcome::kRefused;
    ctx.monitor->Message("The identity reply is not a Torvandrix radio's.");
    return SetupResult::kBackToMenu;
  }
  const std::uint32_t serial_number = DecodeSerial(state.challenge, reply[1], reply[2], reply[3]);
  state.serial_number = serial_number;

  screen.PrintText("Radio Serial Number is ");
  screen.PrintNumber(serial_number);
  screen.NewLine();
  ctx.monitor->Message("Radio Serial Number is " + std::to_string(serial_number));

  if (serial_number < kSerialMin || serial_number > kSerialMax) {
    job::SendByte(ctx, kRefuseRadio);
    ctx.console.Beep();
    screen.NewLine();
    screen.PrintText("Not a Torvandrix Radio!!!");
    screen.NewLine();
    state.outcome = Outcome::kRefused;
    ctx.monitor->Message("Not a Torvandrix Radio!!!");
    job::Pause(ctx, 2000);
    return SetupResult::kBackToMenu;
  }

  job::SendByte(ctx, kStartErase);
  if (!job::Pause(ctx, 10)) return Interrupted(state);
  ctx.monitor->Phase("Waiting for erase");
  screen.PrintText("Waiting for erase");
  screen.NewLine();
  switch (AwaitErase(ctx)) {
    case EraseResult::kErased:
      return SetupResult::kReady;
    case EraseResult::kLineDead:
      return AbandonDeadLine(ctx, state);
    case EraseResult::kStop:
      return Interrupted(state);
    case EraseResult::kEscape:
      break;
  }
  return SetupResult::kBackToMenu;
}

}  // namespace tvx::direct
