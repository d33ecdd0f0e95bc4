#include "image/checks.h"

namespace tvx::image {
namespace {

constexpr std::uint16_t kCrcPolynomial = 0x8408;  // 0x1021 with its bits reversed

constexpr std::array<std::uint16_t, 256> BuildCrc16Table() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < table.size(); ++i) {
    unsigned c = i;
    for (int bit = 0; bit < 8; ++bit) {
      c = (c & 1U) != 0 ? (c >> 1) ^ kCrcPolynomial : c >> 1;
    }
    table[i] = static_cast<std::uint16_t>(c);
  }
  return table;
}

// Built at compile time, so it exists before any frame is protected and is never rebuilt.
constexpr std::array<std::uint16_t, 256> kCrc16Table = BuildCrc16Table();

static_assert(kCrc16Table[1] == 0x1189 && kCrc16Table[128] == 0x8408 && kCrc16Table[255] == 0x0F78);

}  // namespace

const std::array<std::uint16_t, 256>& Crc16Table() {
  return kCrc16Table;
}

void Crc16Update(Crc16Register& reg, std::uint8_t b) {
  const std::uint16_t t = kCrc16Table[static_cast<std::uint8_t>(reg.low ^ b)];
  reg.low = static_cast<std::uint8_t>(reg.high ^ (t & 0xFF));
  reg.high = static_cast<std::uint8_t>(t >> 8);
}

void BitMix(std::uint16_t& mix_word) {
  const unsigned rotated = ((mix_word << 1) | (mix_word >> 15)) & 0xFFFFU;
  const unsigned feedback = ((rotated >> 3) ^ (rotated >> 4) ^ (rotated >> 5)) & 1U;
  mix_word = static_cast<std::uint16_t>(rotated ^ feedback);
}

}  // namespace tvx::image
