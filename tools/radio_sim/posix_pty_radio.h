// The simulated radio on a pseudo-terminal: the uploader opens the slave side (DevicePath) as
// its serial port, and a thread of this object answers on the master side. A slave descriptor
// stays open for the object's life, and the line settings are read from it right after every
// read: a byte came at the rate the slave has when the radio reads it.
//
// With `line_time` every byte reaches the PC no earlier than a real line at the PC's rate would
// deliver it (ten bits a byte each way), at times fixed by the line alone; the pty's own
// hand-over time, measured at Start, is taken off. `latency` delays each answer further; the
// set-up menu's output is always paced. On a hang-up fault the radio waits until the PC has
// read its last answer (at most 0.5 s), then closes both sides; after the set-up menu's hang-up
// fault with a time to come back, a new pseudo-terminal opens that much later (a new device
// path; the radio and its settings are the same), as an adapter pulled and put back. All
// methods are thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "radio_sim/line_time.h"
#include "radio_sim/radio.h"

namespace tvx::sim {

class PtyRadio {
 public:
  explicit PtyRadio(const RadioConfig& config) : radio_(config) { pending_.reserve(65536); }
  ~PtyRadio() { Stop(); }
  PtyRadio(const PtyRadio&) = delete;
  PtyRadio& operator=(const PtyRadio&) = delete;

  /// Creates the pseudo-terminal (slave set to raw 9600 8N1 until the uploader sets it up) and
  /// starts the radio's thread. Returns an error text, empty on success. Call once.
  std::string Start();
  /// Stops the thread and closes the pseudo-terminal. Idempotent; the destructor calls it.
  void Stop();

  /// The slave device to open, valid after a successful Start (a new one after a come-back).
  std::string DevicePath() const;
  /// Sends `bytes` to the PC as if the radio had said them on its own (after what it is
  /// sending already, and at the same pace). For tests of what the PC shows.
  void Say(std::span<const std::uint8_t> bytes);
  /// Calls `listener` on the radio's thread for every event. Set before Start.
  void OnEvent(std::function<void(const RadioEvent&)> listener);

  RadioCounters Counters() const;
  /// A full copy of the radio's state (about 130 KiB).
  std::unique_ptr<RadioSnapshot> Snapshot() const;
  /// The line settings as last read from the slave.
  LineState Line() const;
  /// True once the radio hung up (the hang-up fault): the device is gone.
  bool HungUp() const;
  /// Blocks until the radio hung up or `timeout` passed; returns HungUp().
  bool WaitForHangUp(std::chrono::milliseconds timeout) const;
  /// Blocks until `done` holds for the counters or `timeout` passed; returns whether it held.
  /// `done` runs under the radio's lock: it must not call back into this object.
  bool WaitFor(const std::function<bool(const RadioCounters&)>& done,
               std::chrono::milliseconds timeout) const;

 private:
  void Run();
  /// Opens a new pseudo-terminal (slave raw 9600 8N1) as master_fd_ and slave_fd_ and measures
  /// its hand-over times. Returns an error text, empty on success.
  std::string OpenPty();
  /// The radio's thread after a hang-up: waits `seconds` (false when stopped meanwhile), then
  /// opens a new pseudo-terminal. Returns whether the radio is back.
  bool ComeBack(double seconds);
  void Flush(double now, const LineState& line, bool paced);
  /// Queues what the radio said in this turn, released when the line would have delivered it.
  void Queue(std::span<const std::uint8_t> bytes, double now, double heard_at,
             const LineState& line, bool paced);
  void CloseDescriptors();
  double Now() const;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Radio radio_;                     // guarded by mutex_
  LineState line_;                  // guarded by mutex_
  bool hung_up_ = false;            // guarded by mutex_
  bool stopping_ = false;           // guarded by mutex_
  std::vector<std::uint8_t> said_;  // guarded by mutex_: from Say, not yet taken by the thread
  std::function<void(const RadioEvent&)> listener_;

  int master_fd_ = -1;
  int slave_fd_ = -1;
  int wake_read_fd_ = -1;
  int wake_write_fd_ = -1;
  std::string device_path_;  // guarded by mutex_ once the thread runs
  std::thread thread_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();

  // Radio thread only.
  RadioOutput out_;
  std::vector<std::uint8_t> pending_;  ///< bytes for the PC not yet written
  std::size_t pending_from_ = 0;
  double pace_ready_at_ = 0;
  struct Release {
    double at;        ///< when the bytes may be written
    std::size_t end;  ///< pending_ up to here
  };
  std::deque<Release> releases_;
  LineDirection from_pc_;  ///< line time: the PC's bytes arriving
  LineDirection to_pc_;    ///< line time: the radio's answers leaving
  /// Line time: the least the pseudo-terminal takes to hand a byte to a waiting reader, from
  /// the PC to the radio and back (seconds), measured at Start.
  double to_radio_transit_ = 0;
  double to_pc_transit_ = 0;
};

}  // namespace tvx::sim
