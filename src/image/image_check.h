// The rule a stored-form image must satisfy before it is built into the program. The same
// function guards the build (tvx-image-gen refuses a bad supplied image) and the tests.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tvx::image {

inline constexpr int kMinRecordLength = 5;              ///< header plus at least one data byte
inline constexpr int kMaxRecordLength = 20;             ///< header plus the 16-byte data field
inline constexpr std::int32_t kMaxRecordCount = 65535;  ///< the RF header carries 16 bits

enum class ImageFaultKind {
  kEmpty,           ///< no bytes at all
  kPartialRecord,   ///< size is not a multiple of 20; `record` is the incomplete one
  kTooManyRecords,  ///< more than kMaxRecordCount records; `value` is the count
  kBadLength,       ///< `value` is the length byte, outside 5..20
  kBadType,         ///< `value` is the type byte, neither 14 nor 15
  kWalkEndsEarly,   ///< this record's last word ends at 0xFFFF, but records follow it
  kWalkRunsOn,      ///< the last record does not end at 0xFFFF; `value` is its last address
};

/// The first thing wrong with an image.
struct ImageFault {
  ImageFaultKind kind = ImageFaultKind::kEmpty;
  std::int32_t record = -1;         ///< index of the record at fault, -1 if none is
  std::uint32_t value = 0;          ///< the offending figure (see ImageFaultKind)
  std::int32_t stored_records = 0;  ///< whole records in the image
  std::uint32_t size_bytes = 0;     ///< image size in bytes
};

/// Checks a stored-form image: size a non-zero multiple of 20, at most 65535 records, every
/// length 5..20 and type 14 or 15 (first offender reported, in record order), and a walk that
/// ends with the last record and no earlier one. Returns the first fault, or nothing when the
/// image is sound. Pure; reads only `image`.
std::optional<ImageFault> CheckStoredImage(std::span<const std::uint8_t> image);

/// One line for the person who supplied the image, naming the record and what is wrong,
/// e.g. "record 17: length 4 is outside 5..20".
std::string DescribeImageFault(const ImageFault& fault);

}  // namespace tvx::image
