#include "app/rf_policy.h"

#include <string>

#include "app/printable_text.h"

namespace tvx::app {

RfPolicy::RfPolicy(LineReport& report, job::Clock& clock, double timeout_seconds,
                   const console::StopRequest& stop)
    : report_(report), clock_(clock), timeout_(timeout_seconds), stop_(stop) {}

void RfPolicy::Opened(const rf::Plan& plan) {
  std::string text = "Opened " + PrintableText(plan.port_name);
  if (plan.device != plan.port_name) text += " (" + PrintableText(plan.device) + ")";
  report_.Note(text + ".");
}

void RfPolicy::PassBegins(std::int64_t pass, std::int64_t passes) {
  report_.Phase("Pass " + std::to_string(pass + 1) + " of " + std::to_string(passes));
  fresh_pass_ = true;
  pass_base_ = last_done_;
  passes_ = passes;
}

void RfPolicy::FrameBuilt(std::int32_t, std::span<const std::uint8_t>) {
  if (!fresh_pass_) return;
  // The silence is measured while frames go out: the walk, the header and the wait between
  // passes do not count.
  fresh_pass_ = false;
  quiet_since_ = clock_.Seconds();
  bytes_back_ = 0;
  corrupt_echoes_ = 0;
}

void RfPolicy::EchoCompared(std::span<const std::uint8_t>, std::span<const std::uint8_t>,
                            bool intact) {
  if (!intact) ++corrupt_echoes_;
}

void RfPolicy::CopyDone(const rf::CopyReport& copy) {
  if (copy.intact) {
    quiet_since_ = copy.seconds;
    bytes_back_ = 0;
    corrupt_echoes_ = 0;
    return;
  }
  bytes_back_ += static_cast<std::int64_t>(copy.bytes_back);
}

void RfPolicy::FrameDone(std::int64_t done, std::int64_t total) {
  last_done_ = done;
  const std::int64_t per_pass = passes_ > 0 ? total / passes_ : total;
  report_.Progress(done - pass_base_, per_pass);
}

void RfPolicy::Countdown(int seconds_left) {
  if (seconds_left == rf::kCountdownFrom) {
    report_.Phase("Waiting " + std::to_string(rf::kCountdownFrom + 1) +
                  " s for the radio network to find itself again");
  }
}

void RfPolicy::LineError(serial::ErrorNumber code) {
  if (code == serial::kErrLineDead) return;
  report_.Note("The line reported error " + std::to_string(code) +
               " while stale input was thrown away; the broadcast goes on.");
}

bool RfPolicy::LeaveFrame() {
  if (timeout_ <= 0.0 || gave_up_ != rf::StopReason::kNone)
    return gave_up_ != rf::StopReason::kNone;
  const double waited = clock_.Seconds() - quiet_since_;
  if (waited < timeout_) return false;
  waited_ = waited;
  // A flood of bytes that are not the echo is not silence.
  gave_up_ = bytes_back_ > 0 ? rf::StopReason::kEchoesCorrupt : rf::StopReason::kRadioSilent;
  return true;
}

}  // namespace tvx::app
