// The record of a session with the radio's set-up interface: every byte both ways, one line of
// text per line said, each stamped with the time its first byte went or came (UTC, ISO 8601 to
// the millisecond) and its direction, ">" to the radio and "<" from it:
//
//   2024-05-01T12:34:56.789Z > 1\x0D
//   2024-05-01T12:34:56.801Z < 1\x0D\x0A
//   2024-05-01T12:34:56.815Z < Network ID          7\x0D\x0A
//   2024-05-01T12:34:57.020Z > <secret>
//
// Bytes 32 to 126 stand as themselves (a backslash doubled), every other byte as \xNN. A line
// ends after a line feed, after a carriage return that no line feed follows, when the direction
// changes, after kMaxLineBytes bytes, and on Flush (the caller flushes a line that has been
// open a moment, such as the radio's prompt, and at the end). A secret send is one line
// "<secret>"; its text is never written, and where the radio echoes it back the echo within
// one line shows as "<secret>" too. Pure: whole lines go to the sink the caller gives.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tvx::terminal {

class SessionLog {
 public:
  using Time = std::chrono::system_clock::time_point;
  /// Takes one whole line with its line end.
  using LineSink = std::function<void(std::string_view line)>;

  static constexpr std::size_t kMaxLineBytes = 256;

  explicit SessionLog(LineSink sink) : sink_(std::move(sink)) {}

  /// Bytes sent to the radio at `when`.
  void Sent(std::span<const std::uint8_t> bytes, Time when);
  /// A secret `text` sent at `when`: written as "<secret>", and hidden from now on where the
  /// radio's lines repeat its printable part.
  void SentSecret(std::string_view text, Time when);
  /// Bytes received from the radio at `when`.
  void Received(std::span<const std::uint8_t> bytes, Time when);
  /// Writes the line still open, if any.
  void Flush();
  /// Whether a line is open, and since when (for the caller's flush of a quiet line).
  bool LineOpen() const { return open_; }
  Time OpenSince() const { return since_; }

 private:
  enum class Direction : char { kToRadio = '>', kFromRadio = '<' };
  void Add(Direction direction, std::span<const std::uint8_t> bytes, Time when);
  void Start(Direction direction, Time when);
  void Write(std::string_view shown);

  LineSink sink_;
  bool open_ = false;
  Direction direction_ = Direction::kToRadio;
  Time since_{};
  std::string bytes_;                 ///< the open line's bytes
  bool after_cr_ = false;             ///< the open line's last byte is a carriage return
  std::vector<std::string> secrets_;  ///< printable parts of the secrets sent
};

/// `when` as 2024-05-01T12:34:56.789Z.
std::string UtcMillisText(SessionLog::Time when);

}  // namespace tvx::terminal
