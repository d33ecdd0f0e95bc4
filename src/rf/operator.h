// The other side of the RF engine: whoever runs the broadcast. The engine tells it every step
// (the download file made for a pass, the frames built, every echo and copy, the header's
// replies, the countdown, a line failure, the outcome) and asks it at every decision the
// broadcast offers: whether to stop, whether to leave the frame under way, whether to end the
// broadcast. The menu's operator draws the screen and reads the keyboard; the sub-command's
// answers from its options.
//
// Every call comes from the engine's thread. The tells return at once unless they say they may
// block (a person reading); the questions return at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "job/line.h"
#include "rf/download_file.h"
#include "rf/outcome.h"
#include "rf/plan.h"

namespace tvx::rf {

/// What one copy of a data frame came to, once its echo window closed.
struct CopyReport {
  std::int32_t record = 0;
  bool intact = false;         ///< an echo equal to the frame came back within the window
  bool written = false;        ///< the write took every byte
  std::size_t bytes_back = 0;  ///< bytes that came back: in the window, and thrown away after it
  double seconds = 0.0;        ///< the engine clock when the window closed
};

/// Seconds of the wait between passes, counted down to 0.
inline constexpr int kCountdownFrom = 5;

class Operator {
 public:
  virtual ~Operator() = default;

  // --- Told -----------------------------------------------------------------------------

  /// The port did not open, or refused a setting (it is closed again). May block.
  virtual void OpenFailed(const job::OpenResult& result) = 0;
  /// The port is open with the RF profile and its time-outs are zero.
  virtual void Opened(const Plan& plan) { (void)plan; }
  /// Pass `pass` (from 0) of `passes` begins; stale input was thrown away.
  virtual void PassBegins(std::int64_t pass, std::int64_t passes) {
    (void)pass;
    (void)passes;
  }
  /// The walk of the image for pass `pass` begins; RecordWalked follows for every walked record.
  virtual void FileBegins(std::int64_t pass) { (void)pass; }
  virtual void RecordWalked(std::int32_t index) { (void)index; }
  /// The download file of the pass and the header frame built from it.
  virtual void FileMade(const DownloadFile& file, std::span<const std::uint8_t> header) {
    (void)file;
    (void)header;
  }
  /// A header copy was written; the engine now pauses 100 ms for the replies.
  virtual void HeaderCopySent() {}
  /// The bytes waiting after a header copy, when more than one was (never compared).
  virtual void HeaderReply(std::span<const std::uint8_t> bytes) { (void)bytes; }
  /// The data frame of `index` is built (its random byte drawn); its copies follow.
  virtual void FrameBuilt(std::int32_t index, std::span<const std::uint8_t> frame) {
    (void)index;
    (void)frame;
  }
  /// A whole frame's worth came back within a copy's window; `intact` when equal to `frame`.
  /// A window may hold more than one such echo.
  virtual void EchoCompared(std::span<const std::uint8_t> frame, std::span<const std::uint8_t> echo,
                            bool intact) {
    (void)frame;
    (void)echo;
    (void)intact;
  }
  /// A copy's window closed (after its echoes were compared).
  virtual void CopyDone(const CopyReport& copy) { (void)copy; }
  /// A record's frame is through (all copies back, left, or none asked): `done` of `total`
  /// frames of the whole broadcast.
  virtual void FrameDone(std::int64_t done, std::int64_t total) {
    (void)done;
    (void)total;
  }
  /// The wait between passes: `seconds_left` from kCountdownFrom down to 0, each followed by a
  /// one-second pause; then CountdownOver.
  virtual void Countdown(int seconds_left) { (void)seconds_left; }
  virtual void CountdownOver() {}
  /// A failure of the line to report now: the dead line (59) that ends the broadcast, or what
  /// the discard at the start of a pass met while it threw bytes away (the broadcast goes on).
  virtual void LineError(serial::ErrorNumber code) { (void)code; }
  /// The job is over (the port still open when it broadcast; closed right after). May block:
  /// the menu's end prompt.
  virtual void Ended(const Outcome& outcome) { (void)outcome; }

  // --- Asked ----------------------------------------------------------------------------

  /// Whether to end at the next safe point: before a record, in a pause, within an echo window
  /// (the copy on the wire is not repeated). Asked often.
  virtual bool StopRequested() = 0;
  /// After every copy of a data frame: whether to leave the frame now, its other copies unsent.
  virtual bool LeaveFrame() = 0;
  /// After a frame that was left, and after every frame when no copies are asked: kNone to go
  /// on with the next record, else why the broadcast ends here (this pass and all later ones).
  virtual StopReason EndBroadcast() = 0;
};

}  // namespace tvx::rf
