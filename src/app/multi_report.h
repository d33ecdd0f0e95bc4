// What several uploads at once tell, in line mode, on one standard error. On a terminal: one
// live line per port (the device, or a short name that tells it from the others when the
// devices are long; the radio's serial number once known, the state, a bar with the
// percentage, words done, rate and time left), redrawn in place under the notes, which go above
// them. Without a terminal: every note a plain line starting with the device, no escape
// sequence, no carriage return, no progress. --quiet drops the notes and the live lines; errors
// stay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/line_report.h"
#include "app/printable_text.h"
#include "job/clock.h"

namespace tvx::app {

/// How a port is named on the board: the device it opens (the notes' and the live lines' name
/// when it fits), and a short name that tells it from the other ports (the live lines' name
/// when the devices are too long to leave room for the bar and the figures).
struct PortNames {
  Printable device;
  Printable label;
};

/// The names of the ports `given` (what each --port said) that open `devices` (as many): a
/// port named "ComN" is labelled so ("com4" as "Com4"), a serial server's port by its address
/// ("rfc2217://bench-a:3001" as "bench-a:3001"), any other by its device from the
/// first word in which the devices so named differ, and at most the last part of its path
/// ("/dev/ttyUSB0" and "/dev/ttyUSB1" as "ttyUSB0" and "ttyUSB1", ".../usb-FTDI_..._A1B2-if00"
/// and ".../usb-FTDI_..._C3D4-if00" as "A1B2-if00" and "C3D4-if00"; a word ends at / \ _ - . :).
/// Pure.
std::vector<PortNames> NamePorts(std::span<const std::string> given,
                                 std::span<const std::string> devices);

/// One port's live line.
struct LiveLine {
  std::optional<std::uint32_t> serial;
  std::string state = "opening";  ///< a phase ("loading") or an end ("complete")
  std::int64_t done = 0;
  std::int64_t total = 0;  ///< 0 until the transfer or read-back counts
  double seconds = 0.0;    ///< since the counting phase began, for the rate and time left
};

/// The live line's text, at most `width` - 1 characters (80 when 0), `name` (printable) padded
/// to `name_width` columns, e.g. "/dev/ttyUSB0  9123456  loading    [####----]  50%
/// 16548/33097  1250/s  0:13 left"; before the serial number is known it shows "-". A name too
/// long to leave room for the bar, the percentage and the time left is cut, marked "~"; the
/// words done and the rate are left out first.
std::string LiveLineText(const LiveLine& line, std::string_view name, std::size_t name_width,
                         int width = 80);

/// The live lines of every port and the notes above them. Every call is safe from any thread:
/// one mutex guards the lines and every write.
class LiveBoard {
 public:
  /// One row per port, in order. `options.bar`: standard error is a terminal. `clock` paces
  /// the redraws (at most ten a second, but for a change of state).
  LiveBoard(LineOptions options, job::Clock& clock, std::vector<PortNames> ports);
  ~LiveBoard();
  LiveBoard(const LiveBoard&) = delete;
  LiveBoard& operator=(const LiveBoard&) = delete;

  /// Whether live lines are drawn (a terminal, not --quiet).
  bool Live() const { return live_; }
  /// A note of `row`'s upload (dropped with --quiet): "DEVICE: text", the whole device.
  void Note(std::size_t row, std::string_view text);
  /// An error of `row`'s upload, always written: "DEVICE: text".
  void Error(std::size_t row, std::string_view text);
  /// Changes `row`'s line: its state and serial number redraw at once, progress at most ten
  /// times a second (and at its end).
  void SetState(std::size_t row, std::string_view state);
  void SetSerial(std::size_t row, std::uint32_t serial);
  void SetProgress(std::size_t row, std::int64_t done, std::int64_t total, double seconds);
  /// The last redraw; the cursor is left under the lines. Nothing is drawn after it.
  void End();

 private:
  void Write(std::string_view text);
  void Put(std::size_t row, std::string_view text);
  /// The lines' text, each cleared to its end; with `over`, first back up over the old ones.
  std::string Lines(bool over) const;
  void Redraw(bool force);

  LineOptions options_;
  job::Clock& clock_;
  RedrawPace pace_;
  bool live_ = false;
  std::mutex mutex_;
  std::vector<PortNames> names_;
  std::vector<LiveLine> lines_;
  std::size_t device_width_ = 0;  ///< in columns, the widest of each kind of name
  std::size_t label_width_ = 0;
  bool drawn_ = false;
  bool ended_ = false;
};

/// One upload's share of the board, as its policy operator's sink. Used from that upload's
/// thread only; `clock` is the upload's own.
class PortSink final : public LineSink {
 public:
  PortSink(LiveBoard& board, std::size_t row, job::Clock& clock);

  void Phase(std::string_view name) override;
  void State(std::string_view word) override;
  void Serial(std::uint32_t serial) override;
  void Progress(std::int64_t done, std::int64_t total) override;
  void Note(std::string_view text) override;
  void Error(std::string_view text) override;

 private:
  LiveBoard& board_;
  std::size_t row_;
  job::Clock& clock_;
  double phase_start_ = 0.0;
  RedrawPace pace_;
};

}  // namespace tvx::app
