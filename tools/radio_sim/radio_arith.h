// The radio's own arithmetic, apart from the uploader's so that a slip on either side shows on
// the line: frame CRC, shift register, check byte, serial mask, the image and its walk. Pure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tvx::sim {

inline constexpr std::uint8_t kWakeByte = 0x55;     ///< "U" on the diagnostic port
inline constexpr std::uint8_t kProgramByte = 0x34;  ///< "4": programming mode
inline constexpr std::uint8_t kRefuseByte = 0x21;   ///< "!": the PC refuses this radio
inline constexpr std::uint8_t kEraseByte = 0xAA;    ///< start the erase; also erase done
inline constexpr std::uint8_t kAcceptByte = 0xAA;   ///< checksum verdict: right
inline constexpr std::uint8_t kRejectByte = 0x55;   ///< checksum verdict: wrong, read back
inline constexpr std::uint8_t kFillByte = 0xFF;     ///< resync (four in a row), erased memory
inline constexpr std::uint8_t kFastDivisor = 4;     ///< 115200 bit/s
inline constexpr std::uint8_t kSlowDivisor = 24;    ///< 19200 bit/s, also the handshake's rate
inline constexpr std::uint32_t kDivisorBase = 460800;

/// The four bytes the radio's programming mode wants after "4" (as built into the uploader).
extern const std::array<std::uint8_t, 4> kRadioAccessCode;

/// CRC-16 of the RF frames: reflected polynomial 0x8408, preset 0xFFFF, no final XOR, computed
/// bit by bit. {high, low}, the order the frame carries them.
std::array<std::uint8_t, 2> FrameCrc(std::span<const std::uint8_t> bytes);

/// One step of the radio's shift register: shift left, the new bit 0 is bits 15, 4, 3 and 2 of
/// the old word XORed together.
std::uint16_t NextMix(std::uint16_t word);

/// The check byte that must follow d0, d1 in a direct data frame.
std::uint8_t DataCheckByte(std::uint8_t d0, std::uint8_t d1);

/// R2, R3, R4 of the identity reply: serial middle and low under the first step from the
/// challenge, serial high under the second.
std::array<std::uint8_t, 3> MaskSerial(std::uint16_t challenge, std::uint32_t serial);

/// One record as read from the stored table (each 4-byte group is stored backwards).
struct ImageRecord {
  std::uint8_t length = 0;
  std::uint8_t type = 0;
  std::uint8_t address_high = 0;
  std::uint8_t address_low = 0;
  std::array<std::uint8_t, 16> data{};
};

/// The image the radio expects, and what it works out from it.
class ExpectedImage {
 public:
  /// `stored` empty: the table built into the program.
  explicit ExpectedImage(std::span<const std::uint8_t> stored);

  std::size_t Records() const { return stored_.size() / 20; }
  ImageRecord Record(std::size_t index) const;
  /// Records up to the one whose last word ends at 0xFFFF (all when none does); records
  /// without data are passed over.
  std::uint32_t WalkedRecords() const { return walked_; }
  /// XOR of the first and of the second bytes of their words, complemented for an odd count.
  std::array<std::uint8_t, 2> WalkChecksum() const { return checksum_; }

 private:
  std::span<const std::uint8_t> stored_;
  std::uint32_t walked_ = 0;
  std::array<std::uint8_t, 2> checksum_{};
};

}  // namespace tvx::sim
