// The stored-form image table that the build generates (tvx-image-gen) and compiles into
// tvx_image. Only builtin_image.cpp reads these; everyone else goes through FirmwareImage().
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx::image::detail {

/// The stored records, kStoredImageSize bytes (a multiple of 20), checked when generated.
extern const std::uint8_t kStoredImage[];
extern const std::size_t kStoredImageSize;

}  // namespace tvx::image::detail
