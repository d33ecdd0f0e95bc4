// A direct upload against the simulated radio: the radio answers on a pseudo-terminal, the job
// opens it as "Com1" through the real POSIX serial backend, keys come from a scripted console
// and pauses cost nothing.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "direct/direct_upload.h"
#include "image/firmware_image.h"
#include "job/clock.h"
#include "job/run_context.h"
#include "radio_sim/posix_pty_radio.h"
#include "serial/priority.h"
#include "serial/serial_port.h"
#include "support/forwarding_port.h"
#include "support/pty_job.h"
#include "support/scripted_console.h"
#include "support/small_image.h"

namespace tvx::testing {

/// The bytes the radio hears from the data port before the transfer: "4", the access code, the
/// divisor, the challenge and the erase command.
inline constexpr std::uint64_t kHandshakeBytes = 9;

class DirectUploadTest : public ::testing::Test {
 protected:
  DirectUploadTest();
  ~DirectUploadTest() override;
  /// On a failure, lists the radio's notable events (faults, resyncs, verdicts, strays).
  void TearDown() override;

  /// Starts the radio and points Com1 at it. Fails the test when the pty cannot be made.
  void StartRadio(const sim::RadioConfig& config);
  /// A radio answering at once with an instant erase.
  static sim::RadioConfig FastRadio();

  /// Answers the next prompt on row 30 that contains `part` with `key` (once). Prompts without
  /// a rule stay unanswered; "Hit any key to return to main menu" is answered with "x".
  void Answer(std::string part, std::string key);
  /// Feeds `keys` from another thread once `ready` holds for the radio's counters.
  void FeedWhen(std::function<bool(const sim::RadioCounters&)> ready, std::string keys);

  /// Runs the job on this thread and keeps its result in result_. A job still running after a
  /// generous limit gets Escapes (and the test fails) instead of hanging.
  void Run();
  direct::Result result_;

  /// The radio's counters once it has heard everything the job sent.
  sim::RadioCounters SettledCounters();

  ScriptedConsole console_;
  PtyJobClock clock_;
  RecordingPriority priority_;
  CountingPort* port_ = nullptr;  // owned by port_owner_
  std::unique_ptr<serial::SerialPort> port_owner_;
  std::unique_ptr<job::RunContext> ctx_;
  std::unique_ptr<sim::PtyRadio> radio_;

 private:
  void OnKeyWanted();

  struct Rule {
    std::string part;
    std::string key;
  };
  std::vector<Rule> rules_;  // job thread only (set before Run)
  std::vector<std::thread> watchers_;
  std::uint64_t written_before_radio_ = 0;  // by the port before the current radio started
  std::mutex events_mutex_;
  std::vector<std::string> radio_events_;
  std::atomic<bool> job_done_{false};
  std::atomic<bool> guard_fired_{false};
};

}  // namespace tvx::testing
