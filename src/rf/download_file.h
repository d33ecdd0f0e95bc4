// The download file of one pass: the walk over the image that yields the record count and the
// pair checksum the header frame carries. No port, no screen.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "image/firmware_image.h"
#include "job/clock.h"

namespace tvx::rf {

/// What the walk of one pass found.
struct DownloadFile {
  std::int32_t record_count = 0;           ///< index of the last walked record, plus one
  std::array<std::uint8_t, 2> checksum{};  ///< pair checksum, complemented for an odd count
  double create_seconds = 0.0;             ///< how long the walk took
};

/// Walks `image` (records with no data skipped), calling `walked` with the index of every
/// walked record, and sums its words into the pair checksum. The time it took comes from two
/// readings of `clock` (monotonic), before and after.
DownloadFile WalkDownloadFile(job::Clock& clock, std::span<const std::uint8_t> image,
                              image::RecordBuffer& buffer,
                              const std::function<void(std::int32_t)>& walked);

}  // namespace tvx::rf
