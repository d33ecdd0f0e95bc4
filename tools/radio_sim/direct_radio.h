// The radio's programming mode on a directly wired serial port: handshake, masked identity,
// erase, word transfer with echo and reply, checksum and verdict, read-back. The handshake is heard
// at 19200 bit/s with pauses of 300 ms after "4" and 10 ms after each access-code byte; a byte at
// another rate or too early, or a wrong code or divisor, is refused as a real radio does: silence
// until the line has been quiet for `refusal_quiet`. In the transfer, four 0xFF in a row resync, a
// data frame with a gap of `frame_timeout` is dropped, and "4" with the access code starts a new
// session wherever the radio stood.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "radio_sim/radio_arith.h"
#include "radio_sim/radio_config.h"
#include "radio_sim/radio_output.h"

namespace tvx::sim {

/// "U" or "4": the bytes that start a session.
inline bool StartsSession(std::uint8_t b) {
  return b == kWakeByte || b == kProgramByte;
}

/// The radio's memory: two 64 KiB spaces, indexed by the space byte (type 14 -> 0, 15 -> 1).
struct RadioMemory {
  std::array<std::array<std::uint8_t, 65536>, 2> space{};
};

struct DirectCounters {
  std::uint32_t diag_wakes = 0;
  std::uint32_t program_commands = 0;  ///< "4" heard in idle
  std::uint32_t access_code_faults = 0;
  std::uint32_t divisor_faults = 0;
  std::uint32_t pause_faults = 0;        ///< handshake bytes that came before their pause ended
  std::uint32_t handshakes_refused = 0;  ///< for any reason: rate, pause, access code, divisor
  std::uint32_t identities_sent = 0;
  std::uint32_t refusals = 0;
  std::uint32_t erases = 0;
  std::uint64_t word_attempts = 0;   ///< address frames heard during transfers, all sessions
  std::uint64_t words_received = 0;  ///< data frames heard
  std::uint64_t words_checked_ok = 0;
  std::uint64_t check_byte_failures = 0;
  std::uint64_t resyncs = 0;
  std::uint64_t stray_bytes = 0;       ///< bytes no state expected (dropped)
  std::uint32_t line_rate_faults = 0;  ///< handshake bytes or transfer at the wrong rate
  std::uint32_t line_setting_faults = 0;
  std::uint32_t checksums_sent = 0;
  std::array<std::uint8_t, 2> last_checksum{};
  std::uint32_t verdicts_accepted = 0;
  std::uint32_t verdicts_rejected = 0;
  std::uint64_t readback_words = 0;
  std::uint32_t readbacks_completed = 0;
  std::uint32_t faults_fired = 0;
  std::uint16_t last_challenge = 0;
  std::uint8_t last_divisor = 0;
  std::uint32_t stale_frames = 0;  ///< frames dropped because their next byte came too late
};

enum class DirectPhase : std::uint8_t {
  kIdle,        ///< waiting for "U" or "4"
  kAccessCode,  ///< taking the four access-code bytes
  kDivisor,
  kChallengeHigh,
  kChallengeLow,
  kAwaitRateSwitch,  ///< challenge heard; waiting to see the PC's new line rate
  kAwaitEraseCommand,
  kErasing,
  kTransfer,  ///< word exchanges
  kAwaitVerdict,
  kReadBack,
  kRefused,  ///< handshake refused: silent until the line has been quiet for a while
};

/// Why a handshake was refused (the value of a kHandshakeRefused event).
enum class HandshakeFault : std::uint8_t { kLineRate, kPause, kAccessCode, kDivisor };

class DirectRadio {
 public:
  explicit DirectRadio(const RadioConfig& config);

  /// Handles received bytes; returns how many were taken. At rest (idle, or a session finished)
  /// it stops before a byte that starts none of its own, for another face of the radio.
  std::size_t Feed(std::span<const std::uint8_t> in, const LineState& line, double now,
                   RadioOutput& out);
  /// Lets time pass: the end of the erase, the rate-switch check, held frames, frame time-outs.
  void Advance(const LineState& line, double now, RadioOutput& out);
  /// Adds to `next` when Advance next has something to do.
  void NextDeadline(double now, Earliest& next) const;

  DirectPhase Phase() const { return phase_; }
  const DirectCounters& Counters() const { return counters_; }
  const RadioMemory& Memory() const { return *memory_; }

  /// The checksum the radio would send now for the current transfer.
  std::array<std::uint8_t, 2> CurrentChecksum() const;

 private:
  enum class Frame : std::uint8_t { kNone, kAddress, kData };

  void HandleByte(std::uint8_t b, double now, RadioOutput& out);
  void HandleIdle(std::uint8_t b, double now, RadioOutput& out);
  bool InHandshake() const;
  /// False (and the handshake refused) when handshake byte `position` (1 the first access-code
  /// byte, 5 the divisor) came before the pause after the one before it.
  bool PauseKept(double now, std::uint32_t position, RadioOutput& out);
  void RefuseHandshake(HandshakeFault why, RadioOutput& out);
  void HandleTransfer(std::uint8_t b, double now, RadioOutput& out);
  void HandleVerdict(std::uint8_t b, RadioOutput& out);
  void HandleReadBack(std::uint8_t b, RadioOutput& out);
  /// Takes the space and address-high bytes of a frame (or a resync's 0xFF); false for later ones.
  bool FrameHead(std::uint8_t b, RadioOutput& out);
  void CheckRateSwitch(double now, RadioOutput& out);
  void SendIdentity(RadioOutput& out);
  void StartErase(double now, RadioOutput& out);
  void FinishErase(RadioOutput& out);
  void OnAddressFrame(RadioOutput& out);
  void OnDataFrame(RadioOutput& out);
  void ResolveHeldFrame(RadioOutput& out);
  void SendChecksum(RadioOutput& out);
  void Emit(std::uint8_t b, RadioOutput& out);
  /// The fault of this kind asked for at this word attempt and not fired in this upload: fires.
  const FaultRequest* Strike(Fault fault, RadioOutput& out);
  void FireFault(Fault fault, RadioOutput& out);
  void Stray(std::uint8_t b, RadioOutput& out);
  void RestartSession();
  /// "U" or "4" restarts the radio's dialogue; any other byte is stray.
  void RestartOrStray(std::uint8_t b, RadioOutput& out);
  void Sniff(std::uint8_t b, RadioOutput& out);
  void SendGarbage(RadioOutput& out);
  void MaybeHangUp(RadioOutput& out);

  RadioConfig config_;
  DirectCounters counters_;
  std::unique_ptr<RadioMemory> memory_;
  /// One bit per word location (space * 65536 + address): attempted an odd number of times.
  std::unique_ptr<std::bitset<2 * 65536>> attempt_parity_;

  DirectPhase phase_ = DirectPhase::kIdle;
  int access_pos_ = 0;
  std::uint8_t divisor_ = 0;
  std::uint16_t challenge_ = 0;
  double rate_deadline_ = 0;
  double erase_done_at_ = 0;

  // The frame being received (transfer and read-back).
  int frame_pos_ = 0;  ///< bytes of the current frame received
  std::uint8_t space_ = 0;
  std::uint8_t addr_hi_ = 0;
  std::uint8_t addr_lo_ = 0;
  std::uint8_t d0_ = 0;
  std::uint8_t d1_ = 0;
  std::uint8_t check_ = 0;
  double frame_start_ = 0;  ///< first byte of the current frame heard
  double now_ = 0;
  Frame held_ = Frame::kNone;  ///< a complete frame waiting to see whether a resync follows
  double held_until_ = 0;
  int ff_run_ = 0;             ///< 0xFF bytes in a row heard since the radio last sent
  std::uint32_t attempt_ = 0;  ///< number of the current word attempt in this session

  std::vector<bool> fired_;  ///< per entry of config_.faults: fired in this upload
  bool fired_hangup_ = false;
  int sniff_pos_ = 0;                ///< how much of "4" + access code was heard last, in a row
  double last_byte_at_ = 0;          ///< any byte heard (handshake time-out, quiet)
  double handshake_byte_at_ = 0;     ///< the last handshake byte heard
  double handshake_byte_doubt_ = 0;  ///< how much earlier it may have come
  std::uint32_t garbage_state_;
  LineState line_;
};

}  // namespace tvx::sim
