// The synthetic stand-in for the release firmware image: the release's record layout (types,
// addresses, lengths and order) filled with data bytes from a fixed-seed generator, so that
// every build produces the same bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace tvx::image_gen {

/// Builds the stored form of the synthetic release image (4144 records, 82,880 bytes).
std::vector<std::uint8_t> BuildReleaseImage();

/// Index of the first record whose 4 header bytes differ between the two stored images, or -1
/// when every header matches and the record counts agree. Data bytes are not compared.
std::int32_t FirstHeaderDifference(const std::vector<std::uint8_t>& a,
                                   const std::vector<std::uint8_t>& b);

}  // namespace tvx::image_gen
