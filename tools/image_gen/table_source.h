// Writes a stored-form image as the C++ source of the table that tvx_image compiles in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tvx::image_gen {

/// The complete text of the generated source: defines tvx::image::detail::kStoredImage and
/// kStoredImageSize, one record (20 bytes) per line. `origin` goes into the header comment.
std::string TableSource(const std::vector<std::uint8_t>& image, const std::string& origin);

}  // namespace tvx::image_gen
