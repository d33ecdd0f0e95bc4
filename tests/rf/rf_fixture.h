// An RF upload against the simulated local radio: the radio checks and echoes frames on a
// pseudo-terminal, the job opens it as "Com1" through the real POSIX serial backend, keys come
// from a scripted console, and the pauses of a second (the re-acquisition countdown) cost nothing.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "job/clock.h"
#include "job/run_context.h"
#include "radio_sim/posix_pty_radio.h"
#include "rf/rf_upload.h"
#include "serial/priority.h"
#include "serial/serial_port.h"
#include "support/forwarding_port.h"
#include "support/pty_job.h"
#include "support/scripted_console.h"

namespace tvx::testing {

class RfUploadTest : public ::testing::Test {
 protected:
  RfUploadTest();
  ~RfUploadTest() override;

  /// A radio that checks every frame and echoes it at once.
  static sim::RadioConfig FastRadio();
  /// Starts the radio and points Com1 at it.
  void StartRadio(const sim::RadioConfig& config);
  /// Runs the job on this thread with `answers` queued; "Hit any key to return to main menu" is
  /// answered with "x". A job still running after a generous limit gets keys (the test fails).
  void Run(const std::string& answers);
  rf::Outcome outcome_;  ///< of the last Run
  /// The radio's counters and per-record statistics once it has heard everything.
  std::unique_ptr<sim::RadioSnapshot> Settled();

  ScriptedConsole console_;
  PtyJobClock clock_;
  RecordingPriority priority_;
  CountingPort* port_ = nullptr;  // owned by port_owner_
  std::unique_ptr<serial::SerialPort> port_owner_;
  std::unique_ptr<job::RunContext> ctx_;
  std::unique_ptr<sim::PtyRadio> radio_;
  std::uint64_t written_before_radio_ = 0;  // by the port before the current radio started

  /// Row 35 at each one-second pause, in order.
  std::vector<std::string> countdown_;
  /// Keys the job waited for while real-time priority was held.
  int waits_while_raised_ = 0;

 private:
  std::atomic<bool> job_done_{false};
};

}  // namespace tvx::testing
