// CRC-16 (reflected CCITT polynomial 0x8408) and the 16-bit bit-mix shift register shared by
// the upload jobs. Pure functions, no allocation.
#pragma once

#include <array>
#include <cstdint>

namespace tvx::image {

/// The 256-entry table of the reflected CRC-16 with polynomial 0x8408 (entry 1 = 0x1189).
const std::array<std::uint16_t, 256>& Crc16Table();

/// The CRC register, kept as two bytes. RF frames preset both to 0xFF and send high first.
struct Crc16Register {
  std::uint8_t low = 0xFF;
  std::uint8_t high = 0xFF;
};

/// Feeds one byte: index = low ^ b; low = high ^ (t & 0xFF); high = t >> 8.
void Crc16Update(Crc16Register& reg, std::uint8_t b);

/// One step of the maximal-length 16-bit Fibonacci register: rotate left by one, then XOR bits
/// 3, 4 and 5 of the rotated word into bit 0. 0 stays 0; any other seed has period 65535.
void BitMix(std::uint16_t& mix_word);

}  // namespace tvx::image
