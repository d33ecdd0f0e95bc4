// The operator of a direct upload: the one the engine asks at every decision the protocol
// offers (wait on, send the word again, give up) and tells what happens (phases, progress,
// errors, the end). Two kinds: the menu's screen operator, which asks a person with keys and
// draws the job's screen, and the sub-command's policy operator, which answers from its
// options. All calls come from the engine's thread, in the order of the job.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "console/console.h"
#include "direct/plan.h"
#include "direct/result.h"
#include "image/firmware_image.h"
#include "job/wait.h"
#include "serial/error_codes.h"

namespace tvx::direct {

/// The stretches of the job, in the order they can come.
enum class Phase : std::uint8_t {
  kHandshake,  ///< the port is open and the radio is in set-up: the handshake goes out
  kIdentity,   ///< the line runs at the transfer rate; the radio's identity is awaited
  kErase,      ///< the radio is accepted and erasing
  kTransfer,   ///< the word exchanges begin (after the radio's 1 s pause)
  kChecksum,   ///< every word is out; the radio's checksum is awaited
  kReadBack,   ///< the checksum was rejected; every word is read back
};

/// The engine's waits for the radio.
enum class Wait : std::uint8_t {
  kIdentity,  ///< four bytes of identity reply
  kErase,     ///< the erase acknowledgement (other bytes are taken and counted)
  kEcho,      ///< the two-byte echo of an address frame
  kReply,     ///< the one-byte reply to a data frame
  kChecksum,  ///< the radio's two checksum bytes
  kReadBack,  ///< the two bytes stored at a word's address
};

/// What a wait has come to at one look.
struct WaitState {
  Wait wait = Wait::kIdentity;
  std::size_t expected = 0;  ///< bytes the answer takes
  std::size_t waiting = 0;   ///< bytes in the receive queue at this look (fewer than expected)
  /// Bytes taken during this wait that were not the answer (the erase wait's noise).
  std::int64_t unexpected = 0;
  double since = 0.0;  ///< clock seconds when the wait began
  // The word the wait is for (echo, reply, read-back).
  std::int64_t word = 0;  ///< its index in the walk, from 0
  std::uint16_t address = 0;
  std::int32_t tries = 0;  ///< how often its address frame has gone out (transfer)
};

/// The operator's answer at a wait or a fault.
struct Decision {
  enum class Kind : std::uint8_t {
    kWait,    ///< look again (at a fault: taken as kRetry)
    kRetry,   ///< send the word again (transfer); elsewhere taken as kWait
    kGiveUp,  ///< end the upload, sending the radio nothing more
  };
  Kind kind = Kind::kWait;
  Reason reason = Reason::kOperator;  ///< why, for kGiveUp

  static Decision WaitOn() { return {Kind::kWait, Reason::kOperator}; }
  static Decision Retry() { return {Kind::kRetry, Reason::kOperator}; }
  static Decision GiveUp(Reason why = Reason::kOperator) { return {Kind::kGiveUp, why}; }
};

/// A fault of the word exchange that is put to the operator without a wait before it (prompts
/// B, C and E).
struct Fault {
  Prompt prompt = Prompt::kNone;  ///< kAddressEcho, kDataTransmit or kBadData
  std::int64_t word = 0;
  std::uint16_t address = 0;
  std::int32_t tries = 0;
  std::uint16_t echo = 0;     ///< B: the echo read, first byte high
  std::size_t written = 0;    ///< C: bytes of the three the write took
  std::uint8_t sent_d1 = 0;   ///< E: the masked second data byte sent
  std::uint8_t reply = 0;     ///< E: the reply read
  std::uint8_t expected = 0;  ///< E: the reply that was due
};

/// The radio's checksum against the words sent.
struct ChecksumReport {
  std::uint8_t even_xor = 0;  ///< XOR of every attempted word's first byte
  std::uint8_t odd_xor = 0;   ///< ... and second byte
  std::uint8_t c1 = 0;        ///< the radio's bytes, in the order received
  std::uint8_t c2 = 0;
  bool accepted = false;
};

/// A word of the read-back that differs from the image.
struct Mismatch {
  std::int64_t word = 0;
  std::uint16_t address = 0;
  std::uint8_t b0 = 0, g0 = 0;  ///< sent (the image) and got, first byte
  std::uint8_t b1 = 0, g1 = 0;  ///< second byte
};

class Operator {
 public:
  virtual ~Operator() = default;

  // --- Looked at in every wait; cheap, never blocking -------------------------------------

  /// Whether the program was asked to end: the engine ends at its next safe point.
  virtual bool StopRequested() = 0;
  /// What else wakes the engine while it sleeps on the port (the keyboard), or kNoWaitHandle.
  virtual console::NativeWaitHandle WakeHandle() = 0;
  /// Whether the operator has something to say already (a key typed): the engine then looks
  /// before its first sleep of a wait.
  virtual bool InputPending() = 0;
  /// When the operator wants to look at `wait` again (its own limit, or a frame to show its
  /// screen); the engine's sleep is no longer. The screen operator shows its screen here.
  virtual job::LookAgain NextLook(const WaitState& wait) = 0;
  /// Sleeps up to `ms` milliseconds while part of an answer is in (the port then reads as
  /// ready, so waiting on it would not sleep); returns early when the operator has something
  /// to say.
  virtual void Doze(int ms) = 0;

  // --- Decisions ---------------------------------------------------------------------------

  /// The port is open (and the diagnostic port woken): the last word before the handshake.
  /// May set plan.high_speed. False leaves (nothing more goes to the radio). May block.
  virtual bool Confirm(Plan& plan) = 0;
  /// At each look of a wait that has not got its answer. May block (a prompt).
  virtual Decision AtWait(const WaitState& wait) = 0;
  /// At prompt B, C or E. kWait counts as kRetry. May block.
  virtual Decision AtFault(const Fault& fault) = 0;
  /// Between two records of the transfer. False gives up.
  virtual bool NextRecord() = 0;
  /// At a read-back word that differs. False gives up. May block.
  virtual bool AtMismatch(const Mismatch& mismatch) = 0;

  // --- Told, in the order it happens --------------------------------------------------------

  /// The device opened with its settings.
  virtual void Opened(const Plan& plan) { (void)plan; }
  /// The device did not open, or refused a setting (result.open_code, settings_refused,
  /// open_error). The upload ends; Finished follows.
  virtual void OpenFailed(const Result& result) { (void)result; }
  virtual void Begin(Phase phase) { (void)phase; }
  /// The engine pauses `ms` milliseconds for the radio.
  virtual void Pausing(int ms) { (void)ms; }
  /// A failure code the line latched, told once at the moment the job reports it (59: the line
  /// is dead).
  virtual void LineError(serial::ErrorNumber code) { (void)code; }
  /// The identity reply did not start with the radio's marker. The upload ends.
  virtual void NotARadio(const std::array<std::uint8_t, 4>& reply) { (void)reply; }
  virtual void SerialNumber(std::uint32_t serial) { (void)serial; }
  /// The serial number is outside the accepted range; "!" went to the radio. The upload ends.
  virtual void SerialOutOfRange(std::uint32_t serial) { (void)serial; }
  /// A byte at the erase wait that is not the acknowledgement (the wait goes on).
  virtual void UnexpectedByte(std::uint8_t byte) { (void)byte; }
  /// A record of the transfer or the read-back begins (its index, address, data count).
  virtual void RecordStarted(const image::ImageWalk& walk) { (void)walk; }
  /// `done` of `total` words through: answered (transfer) or read back.
  virtual void Progress(std::int64_t done, std::int64_t total) {
    (void)done;
    (void)total;
  }
  /// The radio's checksum came; the verdict goes out after this.
  virtual void Checksum(const ChecksumReport& report) { (void)report; }
  /// The transfer has ended (whichever way), `seconds` after it began; `show_time` is false
  /// after a read-back that ran to its end. The port is closed after this.
  virtual void TransferEnded(double seconds, bool show_time) {
    (void)seconds;
    (void)show_time;
  }
  /// The upload has ended: the port is closed, the priority normal, every code reported.
  virtual void Finished(const Result& result) { (void)result; }
};

}  // namespace tvx::direct
