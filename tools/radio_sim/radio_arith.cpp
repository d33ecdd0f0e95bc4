#include "radio_sim/radio_arith.h"

#include <algorithm>

#include "image/stored_image_data.h"

#ifndef TVX_ACCESS_CODE
#error "TVX_ACCESS_CODE is set by the build (see the top-level CMakeLists.txt)"
#endif

namespace tvx::sim {

const std::array<std::uint8_t, 4> kRadioAccessCode = {TVX_ACCESS_CODE};

std::array<std::uint8_t, 2> FrameCrc(std::span<const std::uint8_t> bytes) {
  unsigned crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc & 0xFF)};
}

std::uint16_t NextMix(std::uint16_t word) {
  const unsigned w = word;
  const unsigned in = ((w >> 15) ^ (w >> 4) ^ (w >> 3) ^ (w >> 2)) & 1;
  return static_cast<std::uint16_t>(((w << 1) & 0xFFFF) | in);
}

std::uint8_t DataCheckByte(std::uint8_t d0, std::uint8_t d1) {
  const unsigned x = (d0 ^ d1 ^ 0xFF) & 0xFF;
  return static_cast<std::uint8_t>(((x << 3) | (x >> 5)) & 0xFF);
}

std::array<std::uint8_t, 3> MaskSerial(std::uint16_t challenge, std::uint32_t serial) {
  const std::uint16_t k1 = NextMix(challenge);
  const std::uint16_t k2 = NextMix(k1);
  return {static_cast<std::uint8_t>((serial >> 8) ^ (k1 >> 8)),
          static_cast<std::uint8_t>(serial ^ k1),
          static_cast<std::uint8_t>((serial >> 16) ^ (k2 >> 8))};
}

ExpectedImage::ExpectedImage(std::span<const std::uint8_t> stored)
    : stored_(stored.empty() ? std::span<const std::uint8_t>(image::detail::kStoredImage,
                                                             image::detail::kStoredImageSize)
                             : stored) {
  std::uint8_t first = 0;
  std::uint8_t second = 0;
  std::uint32_t words = 0;
  walked_ = static_cast<std::uint32_t>(Records());
  for (std::size_t i = 0; i < Records(); ++i) {
    const ImageRecord r = Record(i);
    const int count = std::min(int{r.length} - 4, 16);
    if (count < 1) continue;
    unsigned address = unsigned{r.address_high} << 8 | r.address_low;
    for (int k = 0; k < count; k += 2) {
      first ^= r.data[static_cast<std::size_t>(k)];
      // The second byte of an odd record's last word is the next byte of its data field.
      second ^= r.data[static_cast<std::size_t>(k) + 1];
      ++words;
      address = (address + 2) & 0xFFFF;
    }
    if (address == 0) {
      walked_ = static_cast<std::uint32_t>(i) + 1;
      break;
    }
  }
  const std::uint8_t flip = words % 2 != 0 ? 0xFF : 0x00;
  checksum_ = {static_cast<std::uint8_t>(first ^ flip), static_cast<std::uint8_t>(second ^ flip)};
}

ImageRecord ExpectedImage::Record(std::size_t index) const {
  const std::uint8_t* s = stored_.data() + index * 20;
  ImageRecord r;
  r.address_low = s[0];
  r.address_high = s[1];
  r.type = s[2];
  r.length = s[3];
  for (std::size_t group = 0; group < 4; ++group) {
    for (std::size_t i = 0; i < 4; ++i) r.data[group * 4 + i] = s[4 + group * 4 + 3 - i];
  }
  return r;
}

}  // namespace tvx::sim
