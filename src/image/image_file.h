// Stored-form images in files: an image to load instead of the built-in one, read and checked
// completely before any port is opened, and the built-in image written out for a workshop to
// keep. The one part of the image code that touches the file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "image/image_check.h"

namespace tvx::image {

/// The largest stored image: the RF header and data frames carry record numbers in 16 bits.
inline constexpr std::size_t kMaxImageBytes = std::size_t{kMaxRecordCount} * kRecordSize;

/// Reads the file at `path` in one go and checks it with CheckStoredImage. What is not a regular
/// file (a directory, a FIFO, a device) is refused before it is opened, and a file larger than
/// kMaxImageBytes before it is read (nor is more than that read should it grow meanwhile). On
/// failure returns nothing and sets `error` to one line that says what is wrong without naming
/// the file, e.g. "not a regular file" or "record 17: length 4 is outside 5..20". Blocks on the
/// file system only.
std::optional<std::vector<std::uint8_t>> ReadImageFile(const std::string& path, std::string& error);

/// Writes `image` to `path` in one go, creating the file or replacing a regular file; anything
/// else at `path` (a directory, a device) is refused. Returns what went wrong, empty on success.
std::string WriteImageFile(const std::string& path, std::span<const std::uint8_t> image);

}  // namespace tvx::image
