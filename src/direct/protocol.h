// The direct programming protocol of the radio, both sides: the constants of the handshake,
// the serial-number masking, and the frames of one word exchange. Shared by the upload job and
// the simulated radio. Pure.
//
// One word exchange (address A, plain bytes b0, b1, space byte s = type - 14):
//   PC -> radio   s, A high, A low          (AddressFrame, three one-byte sends)
//   radio -> PC   A high, A low             (echo)
//   PC -> radio   d0, d1, c                 (DataFrame, one write)
//   radio -> PC   r = A high ^ d1           (reply)
// with m = BitMix(A), d0 = m.high ^ b0, d1 = m.low ^ b1, c = rotl3(d0 ^ d1 ^ 0xFF).
#pragma once

#include <array>
#include <cstdint>

#include "image/checks.h"

namespace tvx::direct {

inline constexpr std::uint8_t kDiagPortWake = 0x55;    ///< "U", diagnostic port only
inline constexpr std::uint8_t kProgramCommand = 0x34;  ///< "4"
/// The four bytes the radio's programming mode requires after "4", sent in this order. The radio
/// defines them: they are a build setting (TVX_ACCESS_CODE), and the default is a placeholder
/// that only the simulated radio knows.
extern const std::array<std::uint8_t, 4> kAccessCode;
inline constexpr std::uint8_t kHighSpeedDivisor = 0x04;  ///< 460800 / 4 = 115200 bit/s
inline constexpr std::uint8_t kNormalDivisor = 0x18;     ///< 460800 / 24 = 19200 bit/s
inline constexpr std::uint32_t kDivisorBase = 460800;
inline constexpr std::uint8_t kIdentityMarker = 0xFF;  ///< R1 of the identity reply
inline constexpr std::uint8_t kStartErase = 0xAA;      ///< PC accepts the radio
inline constexpr std::uint8_t kRefuseRadio = 0x21;     ///< "!", serial number out of range
inline constexpr std::uint8_t kEraseDone = 0xAA;
inline constexpr std::uint8_t kChecksumAccepted = 0xAA;
inline constexpr std::uint8_t kChecksumRejected = 0x55;
inline constexpr std::uint8_t kResyncByte = 0xFF;  ///< sent four times
inline constexpr std::uint32_t kSerialMin = 9110000;
inline constexpr std::uint32_t kSerialMax = 9280000;

constexpr std::uint8_t HighByte(std::uint16_t w) {
  return static_cast<std::uint8_t>(w >> 8);
}
constexpr std::uint8_t LowByte(std::uint16_t w) {
  return static_cast<std::uint8_t>(w & 0xFF);
}

/// The check byte of a DataFrame: (d0 ^ d1 ^ 0xFF) rotated left by 3 within the byte.
constexpr std::uint8_t CheckByte(std::uint8_t d0, std::uint8_t d1) {
  const unsigned x = static_cast<std::uint8_t>(d0 ^ d1 ^ 0xFF);
  return static_cast<std::uint8_t>(((x << 3) | (x >> 5)) & 0xFF);
}

struct DataFrame {
  std::uint8_t d0 = 0;
  std::uint8_t d1 = 0;
  std::uint8_t check = 0;
  std::uint8_t expected_reply = 0;  ///< A high ^ d1
};

/// Masks one word for the wire (the radio unmasks it with the same BitMix step).
inline DataFrame MakeDataFrame(std::uint16_t address, std::uint8_t b0, std::uint8_t b1) {
  std::uint16_t m = address;
  image::BitMix(m);
  DataFrame f;
  f.d0 = static_cast<std::uint8_t>(HighByte(m) ^ b0);
  f.d1 = static_cast<std::uint8_t>(LowByte(m) ^ b1);
  f.check = CheckByte(f.d0, f.d1);
  f.expected_reply = static_cast<std::uint8_t>(HighByte(address) ^ f.d1);
  return f;
}

/// The serial number hidden in identity bytes R2..R4 by the BitMix states of the challenge:
/// K1 = one step from C masks middle (R2) and low (R3), K2 = the next step masks high (R4).
inline std::uint32_t DecodeSerial(std::uint16_t challenge, std::uint8_t r2, std::uint8_t r3,
                                  std::uint8_t r4) {
  std::uint16_t k = challenge;
  image::BitMix(k);
  const std::uint32_t middle = r2 ^ HighByte(k);
  const std::uint32_t low = r3 ^ LowByte(k);
  image::BitMix(k);
  const std::uint32_t high = r4 ^ HighByte(k);
  return (high << 16) | (middle << 8) | low;
}

/// The radio's side: R2, R3, R4 for a serial number under a challenge.
inline std::array<std::uint8_t, 3> EncodeSerial(std::uint16_t challenge, std::uint32_t serial) {
  std::uint16_t k = challenge;
  image::BitMix(k);
  const auto r2 = static_cast<std::uint8_t>(((serial >> 8) & 0xFF) ^ HighByte(k));
  const auto r3 = static_cast<std::uint8_t>((serial & 0xFF) ^ LowByte(k));
  image::BitMix(k);
  const auto r4 = static_cast<std::uint8_t>(((serial >> 16) & 0xFF) ^ HighByte(k));
  return {r2, r3, r4};
}

}  // namespace tvx::direct
