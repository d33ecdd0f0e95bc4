// What a stored image holds, told the way a workshop checks an image before a batch: its runs
// of contiguous records, declared data bytes, the words and pair checksum of its walk, and the
// SHA-256 of its stored form. Pure: no I/O.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tvx::image {

/// Records that follow one another in memory: each starts where the previous one's declared
/// data end (the address wrapping past 0xFFFF), under the same type.
struct ImageRun {
  std::int32_t first_record = 0;
  std::int32_t last_record = 0;
  std::uint8_t type = 0;
  std::uint16_t first_address = 0;
  std::uint16_t last_address = 0;  ///< of the run's last declared data byte
  std::int32_t Records() const { return last_record - first_record + 1; }
  std::int64_t data_bytes = 0;  ///< declared data bytes of its records
};

/// The runs of `image` in stored order. A record without data (length 4 or less) stands in a
/// run of its own with no data bytes; its last address is its first.
std::vector<ImageRun> ImageRuns(std::span<const std::uint8_t> image);

struct ImageSummary {
  std::int32_t stored_records = 0;  ///< whole records in the stored form
  std::int32_t walk_records = 0;    ///< the record count of the walk, as the RF header states it
  std::vector<ImageRun> runs;
  std::int64_t data_bytes = 0;             ///< declared data bytes of all records
  std::int64_t words = 0;                  ///< two-byte words a direct upload sends
  std::array<std::uint8_t, 2> checksum{};  ///< pair checksum over those words
  std::string sha256;                      ///< of the stored form, 64 lower-case hex digits
};

/// Everything above for `image` (a checked image: see CheckStoredImage).
ImageSummary SummarizeImage(std::span<const std::uint8_t> image);

}  // namespace tvx::image
