// The image carried inside the program. Kept apart from the record and walk code so that the
// image generator can use that code without needing the table it is about to produce.
#include "image/firmware_image.h"
#include "image/stored_image_data.h"

namespace tvx::image {

std::span<const std::uint8_t> FirmwareImage() {
  return {detail::kStoredImage, detail::kStoredImageSize};
}

void FetchRecord(std::int32_t index, RecordBuffer& buffer) {
  FetchRecord(FirmwareImage(), index, buffer);
}

}  // namespace tvx::image
