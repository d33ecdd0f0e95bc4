#include "app/direct_policy.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/cli_platform.h"

#include "console/format.h"
#include "direct/prompt_row.h"

namespace tvx::app {
namespace {

std::string OneDecimal(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

// The prompt the menu would show for a fault, without its trailing blank.
std::string PromptText(const direct::Fault& fault) {
  std::string text;
  switch (fault.prompt) {
    case direct::Prompt::kAddressEcho:
      text = direct::AddressEchoPrompt(fault.address, fault.echo);
      break;
    case direct::Prompt::kDataTransmit:
      text = direct::DataTransmitPrompt();
      break;
    case direct::Prompt::kBadData:
      text = direct::BadDataPrompt(fault.sent_d1, fault.reply, fault.address);
      break;
    default:
      break;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// What an unanswered wait of the word exchange lacked.
std::string Missing(const direct::WaitState& wait) {
  const bool echo = wait.wait == direct::Wait::kEcho;
  if (wait.waiting == 0) return echo ? "no echo" : "no reply";
  return "only " + std::to_string(wait.waiting) + " of the " + std::to_string(wait.expected) +
         (echo ? " echo bytes" : " reply bytes");
}

}  // namespace

DirectPolicy::DirectPolicy(LineSink& report, job::Clock& clock, Printable device,
                           std::int32_t retries, double timeout_seconds,
                           const console::StopRequest& stop)
    : report_(report),
      clock_(clock),
      retries_(std::max(0, retries)),
      timeout_seconds_(std::max(0.0, timeout_seconds)),
      stop_(stop) {
  facts_.device = std::move(device);
  facts_.timeout_seconds = timeout_seconds_;
}

bool DirectPolicy::StopRequested() {
  return stop_.Requested();
}

job::LookAgain DirectPolicy::NextLook(const direct::WaitState& wait) {
  if (timeout_seconds_ <= 0.0) return {};
  return {.until = wait.since + timeout_seconds_};
}

void DirectPolicy::Doze(int ms) {
  clock_.SleepMs(ms);
}

// The options chose the speed already; the radio is in set-up, or its identity wait says so.
bool DirectPolicy::Confirm(direct::Plan&) {
  return true;
}

direct::Decision DirectPolicy::AtWait(const direct::WaitState& wait) {
  if (timeout_seconds_ <= 0.0) return direct::Decision::WaitOn();
  const double waited = clock_.Seconds() - wait.since;
  if (waited < timeout_seconds_) return direct::Decision::WaitOn();
  if (wait.wait == direct::Wait::kEcho || wait.wait == direct::Wait::kReply) {
    return RetryOrStop(WordLabel(wait.word, wait.address) + ": " + Missing(wait) + " in " +
                       OneDecimal(waited));
  }
  facts_.gave_up_at_limit = true;
  facts_.limit_wait = wait;
  facts_.waited_seconds = waited;
  // Bytes that came and are not the answer are no silence.
  const bool came = wait.waiting > 0 || wait.unexpected > 0;
  return direct::Decision::GiveUp(came ? direct::Reason::kUnexpectedBytes
                                       : direct::Reason::kRadioSilent);
}

direct::Decision DirectPolicy::AtFault(const direct::Fault& fault) {
  return RetryOrStop(WordLabel(fault.word, fault.address) + ": " + PromptText(fault));
}

direct::Decision DirectPolicy::RetryOrStop(const std::string& what) {
  if (retries_used_ < retries_) {
    ++retries_used_;
    report_.Note(what + "  -> retry " + std::to_string(retries_used_) + " of " +
                 std::to_string(retries_));
    return direct::Decision::Retry();
  }
  report_.Note(what + "  -> no retries left: stopping");
  return direct::Decision::GiveUp(direct::Reason::kRetriesSpent);
}

bool DirectPolicy::AtMismatch(const direct::Mismatch& m) {
  ++facts_.read_back_differences;
  report_.Note("Read-back " + WordLabel(m.word, m.address) + ": sent " + console::Hex(m.b0) + " " +
               console::Hex(m.b1) + ", the radio holds " + console::Hex(m.g0) + " " +
               console::Hex(m.g1) + ".");
  return true;
}

void DirectPolicy::Opened(const direct::Plan&) {
  opened_ = true;
  report_.Note("Opened " + facts_.device + ".");
}

void DirectPolicy::OpenFailed(const direct::Result& result) {
  report_.Error(OpenFailureSentence(result, facts_.device, PortPermissionHint()));
}

void DirectPolicy::Begin(direct::Phase phase) {
  phase_ = phase;
  switch (phase) {
    case direct::Phase::kHandshake:
      report_.State("handshake");
      report_.Phase("Handshake");
      break;
    case direct::Phase::kIdentity:
      report_.State("identity");
      report_.Phase("Waiting for Radio ID");
      break;
    case direct::Phase::kErase:
      report_.State("erasing");
      report_.Phase("Waiting for erase");
      break;
    case direct::Phase::kTransfer:
      report_.State("loading");
      report_.Phase("Starting Download");
      break;
    case direct::Phase::kChecksum:
      report_.State("checksum");
      report_.Phase("Waiting for the radio's checksum");
      break;
    case direct::Phase::kReadBack:
      report_.State("read-back");
      report_.Phase("Read-back");
      break;
  }
}

// A dead line is the outcome's to tell; the open's code its failure's. Other codes the job
// reports are errors of the port that the upload went on through.
void DirectPolicy::LineError(serial::ErrorNumber code) {
  if (code == serial::kErrLineDead) {
    if (phase_ == direct::Phase::kReadBack) facts_.read_back_line_died = true;
    return;
  }
  if (!opened_) return;
  report_.Error("The port reported error " + std::to_string(code) +
                (code == serial::kErrLineError    ? " (a line error: overrun, framing or overflow)"
                 : code == serial::kErrSendFailed ? " (a send failed)"
                                                  : "") +
                "; the upload goes on.");
}

void DirectPolicy::NotARadio(const std::array<std::uint8_t, 4>& reply) {
  facts_.identity_reply = reply;
}

void DirectPolicy::SerialNumber(std::uint32_t serial) {
  report_.Serial(serial);
  report_.Note("Radio Serial Number is " + std::to_string(serial));
}

// Noise while the radio erases is told once; the end counts it if it never stops.
void DirectPolicy::UnexpectedByte(std::uint8_t byte) {
  if (unexpected_told_) return;
  unexpected_told_ = true;
  report_.Note("The radio sent " + console::Hex(byte) +
               " while erasing, not the acknowledgement AA: waiting on.");
}

void DirectPolicy::Progress(std::int64_t done, std::int64_t total) {
  if (phase_ == direct::Phase::kTransfer && done > last_done_) {
    retries_used_ = 0;  // the retries count per word
    last_done_ = done;
  }
  report_.Progress(done, total);
}

void DirectPolicy::Checksum(const direct::ChecksumReport& report) {
  if (report.accepted) return;
  report_.Note("CHECK SUM ERROR!!! The radio's checksum " + console::Hex(report.c1) + " " +
               console::Hex(report.c2) +
               " differs from the words sent: every word is read back to find the bad ones.");
}

}  // namespace tvx::app
