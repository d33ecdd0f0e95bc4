#include "support/small_image.h"

#include "image/stored_image_builder.h"

namespace tvx::testing {

std::vector<WalkWord> UploadWords(std::span<const std::uint8_t> image) {
  std::vector<WalkWord> out;
  image::RecordBuffer buffer{};
  image::ImageWalk walk(image, buffer);
  while (walk.NextRecord()) {
    for (image::Word w; walk.NextWord(w);) out.push_back({walk.SpaceByte(), w});
  }
  return out;
}

std::span<const std::uint8_t> SmallImage() {
  static const std::vector<std::uint8_t> image = [] {
    StoredImageBuilder builder;
    builder.Record(20, 15, 0x8000, 0x10).Record(9, 14, 0x1000, 0x20).Record(4, 15, 0x2000, 0x30);
    for (int r = 3; r <= 18; ++r) {
      builder.Record(20, 15, static_cast<std::uint16_t>(0xFF00 + (r - 3) * 16),
                     static_cast<std::uint8_t>(r * 16));
    }
    return builder.Bytes();
  }();
  return image;
}

}  // namespace tvx::testing
