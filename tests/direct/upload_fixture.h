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
#include "support/fake_clock.h"
#include "support/forwarding_port.h"
#include "support/program_time.h"
#include "support/scripted_console.h"
#include "support/small_image.h"

namespace tvx::testing {

/// The real POSIX port, except that it can go deaf after a data frame and its reply, or at once,
/// as if the radio had died right then.
class FlakyWritePort final : public ForwardingPort {
 public:
  using ForwardingPort::ForwardingPort;

  /// Runs on the job's thread before every write reaches the radio.
  std::function<void(std::span<const std::uint8_t>)> on_write;
  /// Bytes written since this port was made, over all opens.
  std::uint64_t BytesWritten() const { return bytes_written_; }
  /// After the `number`-th data frame from now, one byte (its reply) still comes through;
  /// everything after it is swallowed.
  void GoDeafAfterDataFrame(int number) {
    deaf_after_ = number;
    data_frame_writes_ = 0;
  }
  /// From now on nothing the radio sends is heard (call on the job's thread, e.g. in on_write).
  void GoDeafNow() {
    deaf_ = true;
    let_through_ = 0;
  }

  serial::ErrorNumber Open(std::string_view name) override {
    deaf_ = false;  // hears again, until the next GoDeaf
    return Inner().Open(name);
  }
  serial::WaitingCount BytesWaiting() override;
  std::size_t Read(std::span<std::uint8_t> into) override;
  std::size_t Write(std::span<const std::uint8_t> bytes) override;

 private:
  int deaf_after_ = 0;
  int data_frame_writes_ = 0;
  std::uint64_t bytes_written_ = 0;
  bool deaf_ = false;
  std::size_t let_through_ = 0;  // bytes still heard once deaf
};

/// Records the priority changes (the line-rate switch is the first raise).
class RecordingPriority final : public serial::Priority {
 public:
  void RaiseRealtime() override {
    ++raises;
    realtime = true;
  }
  void Normal() override {
    realtime = false;
    if (on_dead_line_normal && port != nullptr && port->LineDead()) on_dead_line_normal();
  }
  int raises = 0;
  bool realtime = false;
  /// With `port` set: runs at every return to normal while the port has seen a dead line.
  const serial::SerialPort* port = nullptr;
  std::function<void()> on_dead_line_normal;
};

/// FakeClock time with a time of day that wraps at midnight. The handshake's short pauses are
/// real: the simulated radio judges each batch of bytes by the line rate it finds when it reads
/// them, so the bytes sent before the rate switch must have been read before it. Pauses of a
/// second or more cost nothing.
class WrappingClock final : public job::Clock {
 public:
  double Seconds() override { return fake_.Seconds(); }
  double TimeOfDaySeconds() override;
  void SleepMs(int ms) override;
  /// Runs before every real pause: lets the radio catch up with what was sent, so a loaded
  /// machine cannot turn a short pause into a line-rate fault.
  std::function<void()> before_real_pause;
  /// Runs on the job's thread at the start of every pause, with its length in milliseconds.
  std::function<void(int)> on_pause;

 private:
  FakeClock fake_;
  double time_of_day_at_start_ = 43200.0;
};

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
  /// Runs `action` on another thread once `ready` holds for the radio's counters.
  void DoWhen(std::function<bool(const sim::RadioCounters&)> ready, std::function<void()> action);
  /// The report count at the job's first return to normal priority after its port saw the line
  /// die (the job leaves a word or a wait there), or -1; kept from the next Run on.
  int ReportsWhenDeadLineLeft() const { return reports_when_dead_left_; }
  /// Kills the radio once `ready` holds: the pty closes, as when an adapter is pulled out.
  void KillRadioWhen(std::function<bool(const sim::RadioCounters&)> ready);
  /// Once `ready` holds, feeds `first`, and `second` only after the job has taken `first`.
  void FeedInTurn(std::function<bool(const sim::RadioCounters&)> ready, std::string first,
                  std::string second);

  /// Runs the job on this thread and keeps its result in result_. A job still running after a
  /// generous limit gets Escapes (and the test fails) instead of hanging.
  void Run();
  direct::Result result_;

  /// The radio's counters once it has heard everything the job sent.
  sim::RadioCounters SettledCounters();
  /// The radio's whole state (counters, memory) once it has heard everything the job sent.
  std::unique_ptr<sim::RadioSnapshot> SettledSnapshot();

  /// Row 30 texts of the prompts the job waited at, in order, and whether each was yellow on
  /// blue.
  struct Prompt {
    std::string text;
    bool yellow_on_blue = false;
  };
  std::vector<Prompt> prompts_;

  ScriptedConsole console_;
  WrappingClock clock_;
  RecordingPriority priority_;
  FlakyWritePort* port_ = nullptr;  // owned by port_owner_
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
  int reports_when_dead_left_ = -1;
};

}  // namespace tvx::testing
