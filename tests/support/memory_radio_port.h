// A serial port in memory with the simulated radio at its other end, on a VirtualTime: no
// thread, no device, no real sleep. What the PC writes leaves at the line's pace (ten bits a
// byte at the rate set when it was written, each write after the previous one) and the radio
// hears each write once its last byte is in; the radio's answer goes back at the line's pace
// too, after what it said before, and becomes readable a set latency later. Waits (Read,
// AwaitActivity) move the time to the next thing that happens, running the radio's timers on
// the way, and never further than needed.
//
// A wait for something that can never come (nothing on the line either way, no radio timer)
// returns at once and marks the port Starved(): a real port would hang there, so a test checks
// that it never happened.
//
// The line dies, as when the radio hangs up or an adapter is pulled: at a chosen time, or on the
// radio's own hang-up faults (sim::Fault::kHangUp, kRfHangUp, ...), which cut the line once the
// PC has read the radio's last answer (at most 0.5 s later). The radio's line-error fault makes
// the next bytes-waiting query report 57. Bytes that
// arrived before are still handed out; then BytesWaiting reports 59, writes take nothing and
// LineDead() holds. The device is gone: it does not open again, unless it comes back (the
// radio's setup-hang-up fault with its S seconds, or ComeBackAfter): from then on it opens as a
// new device to the same radio, its settings kept.
//
// Single-threaded: every call, and the time, belong to the test's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "radio_sim/line_time.h"
#include "radio_sim/radio.h"
#include "serial/serial_port.h"
#include "support/virtual_time.h"

namespace tvx::testing {

class MemoryRadioPort final : public serial::SerialPort, private VirtualTime::Follower {
 public:
  /// A port to a radio of its own, made from `config`. The answers' latency starts as
  /// config.latency; config.line_time is not looked at (the line always takes its time).
  MemoryRadioPort(VirtualTime& time, const sim::RadioConfig& config);
  /// A port to `radio` (not owned; it must outlive the port).
  MemoryRadioPort(VirtualTime& time, sim::Radio& radio);
  ~MemoryRadioPort() override;
  MemoryRadioPort(const MemoryRadioPort&) = delete;
  MemoryRadioPort& operator=(const MemoryRadioPort&) = delete;

  // --- Set-up ------------------------------------------------------------------------------

  /// The one name Open accepts (default "mem:radio"); any other gives 53.
  void SetDeviceName(std::string name) { device_name_ = std::move(name); }
  /// Every Open from now on returns `code` without opening (0: opens again).
  void FailOpen(serial::ErrorNumber code) { open_failure_ = code; }
  /// Seconds from the end of an answer on the line to when the PC can read it.
  void SetLatency(double seconds) { latency_ = seconds; }

  // --- The serial port ---------------------------------------------------------------------

  serial::ErrorNumber Open(std::string_view name) override;
  bool IsOpen() const override { return open_; }
  serial::ErrorNumber Close() override;
  /// Takes what the POSIX backend takes: its rates from 300 to 921600 bit/s, 5..8 data bits,
  /// 1 or 2 stop bits, CTS flow control, no DSR flow control or DTR handshake; 5 otherwise.
  serial::ErrorNumber Apply(serial::LineSetting setting, std::uint32_t value) override;
  serial::ErrorNumber GetTimeouts(serial::Timeouts& out) override;
  serial::ErrorNumber SetTimeouts(const serial::Timeouts& timeouts) override;
  serial::ErrorNumber GetControlState(serial::ControlState& out) override;
  serial::ErrorNumber SetControlState(const serial::ControlState& state) override;
  /// The bytes whose time has come. A job that asks again and again without waiting (here or
  /// in an AwaitActivity that returns at once) lets a little time pass, 10 us every 100 asks,
  /// as real asking takes time; reads and writes start the count again.
  serial::WaitingCount BytesWaiting() override;
  /// All time-outs zero: waits (moving the time) until all bytes are in; a total read time-out
  /// waits no longer than it. Short when the line dies or nothing more can come (Starved).
  std::size_t Read(std::span<std::uint8_t> into) override;
  /// Never waits: the bytes are queued for the line. 0 when closed or dead; a refused write
  /// (RefuseWrite) takes fewer.
  std::size_t Write(std::span<const std::uint8_t> bytes) override;
  bool LineDead() const override { return dead_seen_; }
  /// What the POSIX backend says for a line that died under it ("Input/output error") or for a
  /// setting it refused ("Invalid argument"); empty before either, and after Close.
  std::string FailureText() const override {
    return dead_seen_ ? "Input/output error" : refused_ ? "Invalid argument" : "";
  }
  /// Moves the time to the first of: the next byte for the PC arriving, `timeout_ms` passing.
  /// Returns at once when bytes are waiting, a line error is pending or the line is dead.
  /// With no time-out and nothing that could ever arrive, returns at once and marks Starved.
  /// `also` is not looked at: a scripted console's keys are fed by the test itself.
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override;

  // --- Faults ------------------------------------------------------------------------------

  /// The line dies at virtual time `t`: what the radio sent that arrived before still reads.
  void HangUpAt(double t) { cut_planned_ = t; }
  /// Once the line died (any way), the device opens again `seconds` later, a fresh line to the
  /// same radio; 0: never (the default, unless the radio's setup-hang-up fault sets its own).
  void ComeBackAfter(double seconds) { come_back_after_ = seconds; }
  /// The `nth` write of exactly `size` bytes from now (counted from 1) takes only its first
  /// `taken` bytes (they go out) and returns that count. One rule at a time; nth 0: none.
  void RefuseWrite(std::size_t size, int nth, std::size_t taken = 0);
  /// The first bytes-waiting query at or after virtual time `t` reports a line error (57, count
  /// 0), once.
  void LineErrorAt(double t) { line_error_at_ = t; }

  // --- What happened -----------------------------------------------------------------------

  /// One byte the PC wrote: when the write was made, when its last bit reached the radio, and
  /// the line it went on (rate, character format, flow control) as the PC had set it.
  struct WireByte {
    std::uint8_t value = 0;
    double written_at = 0.0;
    double arrived_at = 0.0;
    std::uint32_t rate = 0;
    sim::LineState line;
  };
  /// Every byte written that went out, over all opens, in order.
  const std::vector<WireByte>& Wire() const { return wire_; }
  /// Just their values.
  std::vector<std::uint8_t> WireBytes() const;
  /// One byte the radio said: when it said it (its first bit goes on the line then, or when the
  /// line back is free) and when the PC could read it.
  struct AnswerByte {
    std::uint8_t value = 0;
    double said_at = 0.0;
    double ready_at = 0.0;
  };
  /// Every byte the radio said, in order, including what the PC never read.
  const std::vector<AnswerByte>& Answers() const { return answers_; }
  /// A write of the PC's line settings that was taken (one Apply or SetControlState): when,
  /// and the line after it.
  struct LineSet {
    double at = 0.0;
    sim::LineState line;
  };
  const std::vector<LineSet>& LineSets() const { return line_sets_; }
  int Opens() const { return opens_; }
  int Closes() const { return closes_; }
  /// True once a wait found nothing that could ever come.
  bool Starved() const { return starved_; }
  /// True once the line died (planned, or the radio hung up and the PC read its last answer).
  bool Cut() const { return cut_at_.has_value(); }
  /// The line as the radio saw it at its last look.
  const sim::LineState& RadioLine() const { return look_; }
  /// Everything the radio noted, in order (at most 20000).
  const std::vector<sim::RadioEvent>& Events() const { return events_; }
  /// The radio, brought up to the current time.
  const sim::Radio& Radio() const { return *radio_; }
  /// Lets everything still on its way to the radio arrive (the time moves to the last arrival),
  /// then copies the radio's state: what it has heard, stored and counted.
  std::unique_ptr<sim::RadioSnapshot> SettledSnapshot();

  /// Runs at the start of every AwaitActivity that finds nothing on its way to the PC and no
  /// radio timer pending (the job waits for an answer that will not come): a test presses the
  /// key an operator would here.
  std::function<void()> on_quiet;
  /// Runs at every Write with the bytes offered, before they go out.
  std::function<void(std::span<const std::uint8_t>)> on_write;

 private:
  struct ToRadio {
    double arrives_at;  ///< when its last byte has reached the radio
    std::vector<std::uint8_t> bytes;
    sim::LineState line;  ///< as set when it was written
  };
  struct ToPc {
    std::uint8_t value;
    double ready_at;  ///< readable by the PC from then on
  };

  void RunUntil(double t) override;
  /// When the next thing happens on the line or in the radio, if anything will.
  std::optional<double> NextEvent() const;
  std::optional<double> NextRadioDeadline() const;
  /// Hands `line` to the radio as its look at `at` (with the rate at its previous look).
  sim::LineState Look(sim::LineState line, double at);
  /// Queues what the radio said at `at` for the PC and notes its events and hang-up.
  void TakeOutput(double at, const sim::LineState& line);
  void CutLine(double at);
  /// The device that died is there again: a new line, nothing of the old one left.
  void ComeBack();
  std::size_t Due() const;
  bool Refused(std::size_t size);
  sim::LineState CurrentLine() const;
  serial::ErrorNumber ApplyOne(serial::LineSetting setting, std::uint32_t value);
  /// Moves the time to `t`, or runs what is due now when `t` is not later.
  void MoveTo(double t);
  /// Notes an answer given without waiting; moves the time a little after many at one time.
  void Spun();

  VirtualTime& time_;
  std::unique_ptr<sim::Radio> owned_radio_;
  sim::Radio* radio_;
  sim::RadioOutput out_;

  std::string device_name_ = "mem:radio";
  serial::ErrorNumber open_failure_ = serial::kNoError;
  double latency_ = 0.0;
  bool open_ = false;
  int opens_ = 0;
  int closes_ = 0;
  serial::Timeouts timeouts_{};

  // The line settings, as the POSIX backend keeps them.
  serial::ControlState control_{9600, 8, false, 1, false, false, true};
  bool parity_check_ = false;

  std::deque<ToRadio> to_radio_;
  sim::LineDirection line_to_radio_;  ///< the PC's bytes on their way
  std::deque<ToPc> to_pc_;
  sim::LineDirection line_to_pc_;  ///< the radio's answers on their way
  std::vector<WireByte> wire_;
  std::vector<AnswerByte> answers_;
  std::vector<LineSet> line_sets_;
  std::vector<sim::RadioEvent> events_;

  sim::LineState look_;  ///< the radio's previous look at the line
  double look_at_ = 0.0;
  double radio_now_ = 0.0;                  ///< the radio has run up to here
  std::optional<double> advanced_at_;       ///< its last timer run
  std::optional<double> radio_hung_up_at_;  ///< the radio asked to hang up
  std::optional<double> cut_planned_;       ///< HangUpAt
  std::optional<double> cut_at_;            ///< the line died here
  std::optional<double> line_error_at_;     ///< LineErrorAt, not yet reported
  double come_back_after_ = 0.0;            ///< ComeBackAfter
  std::optional<double> back_at_;           ///< the dead device opens again from here
  bool dead_seen_ = false;
  bool refused_ = false;
  bool starved_ = false;

  std::size_t refuse_size_ = 0;
  int refuse_nth_ = 0;
  int refuse_count_ = 0;
  std::size_t refuse_taken_ = 0;

  double spin_at_ = -1.0;  ///< the time of the answers that did not wait
  int spins_ = 0;
};

}  // namespace tvx::testing
