// The small stored image most direct upload tests send, and its words in upload order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "image/firmware_image.h"

namespace tvx::testing {

/// One word of the upload walk with its space byte.
struct WalkWord {
  std::uint8_t space = 0;
  image::Word word;
};
/// The words of a stored image in upload order.
std::vector<WalkWord> UploadWords(std::span<const std::uint8_t> image);

/// The image most tests upload: 19 records, 139 words, ending at 0xFFFF.
///   0  type 15 at 0x8000, 16 bytes 10..1F      8 words
///   1  type 14 at 0x1000, 5 bytes 20..24       3 words (the last one carries byte 25 too)
///   2  type 15 at 0x2000, no data              skipped by the upload, visited by the read-back
///   3..18  type 15 at 0xFF00..0xFFF0, record r holding 16 bytes from (r * 16) & 0xFF on
std::span<const std::uint8_t> SmallImage();
inline constexpr std::uint64_t kSmallImageWords = 139;

}  // namespace tvx::testing
