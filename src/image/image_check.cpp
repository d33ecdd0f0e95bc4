#include "image/image_check.h"

#include <cstdio>

#include "image/firmware_image.h"

namespace tvx::image {
namespace {

ImageFault Fault(ImageFaultKind kind, std::int32_t record, std::uint32_t value,
                 std::span<const std::uint8_t> image) {
  ImageFault fault;
  fault.kind = kind;
  fault.record = record;
  fault.value = value;
  fault.stored_records = StoredRecordCount(image);
  fault.size_bytes = static_cast<std::uint32_t>(image.size());
  return fault;
}

}  // namespace

std::optional<ImageFault> CheckStoredImage(std::span<const std::uint8_t> image) {
  if (image.empty()) {
    return Fault(ImageFaultKind::kEmpty, -1, 0, image);
  }
  const std::int32_t records = StoredRecordCount(image);
  if (image.size() % kRecordSize != 0) {
    return Fault(ImageFaultKind::kPartialRecord, records,
                 static_cast<std::uint32_t>(image.size() % kRecordSize), image);
  }
  if (records > kMaxRecordCount) {
    return Fault(ImageFaultKind::kTooManyRecords, -1, static_cast<std::uint32_t>(records), image);
  }

  RecordBuffer buffer{};
  for (std::int32_t i = 0; i < records; ++i) {
    FetchRecord(image, i, buffer);
    const RecordHeader header = HeaderOf(buffer);
    if (header.length < kMinRecordLength || header.length > kMaxRecordLength) {
      return Fault(ImageFaultKind::kBadLength, i, header.length, image);
    }
    if (header.type != 14 && header.type != 15) {
      return Fault(ImageFaultKind::kBadType, i, header.type, image);
    }
  }

  // With every length valid no record is skipped, so both walk modes end at the same record.
  ImageWalk walk(image, buffer);
  while (walk.NextRecord()) {
  }
  const std::uint32_t last_address = static_cast<std::uint16_t>(walk.Address() - 1);
  if (walk.RecordIndex() < records - 1) {
    return Fault(ImageFaultKind::kWalkEndsEarly, walk.RecordIndex(), last_address, image);
  }
  if (walk.Address() != 0) {
    return Fault(ImageFaultKind::kWalkRunsOn, walk.RecordIndex(), last_address, image);
  }
  return std::nullopt;
}

std::string DescribeImageFault(const ImageFault& fault) {
  char text[200];
  switch (fault.kind) {
    case ImageFaultKind::kEmpty:
      std::snprintf(text, sizeof text, "the image is empty: it holds no records");
      break;
    case ImageFaultKind::kPartialRecord:
      std::snprintf(text, sizeof text,
                    "record %d: incomplete, only %u of 20 bytes (image size %u is not a "
                    "multiple of 20)",
                    static_cast<int>(fault.record), static_cast<unsigned>(fault.value),
                    static_cast<unsigned>(fault.size_bytes));
      break;
    case ImageFaultKind::kTooManyRecords:
      std::snprintf(text, sizeof text, "the image holds %u records, more than %d",
                    static_cast<unsigned>(fault.value), static_cast<int>(kMaxRecordCount));
      break;
    case ImageFaultKind::kBadLength:
      std::snprintf(text, sizeof text, "record %d: length %u is outside %d..%d",
                    static_cast<int>(fault.record), static_cast<unsigned>(fault.value),
                    kMinRecordLength, kMaxRecordLength);
      break;
    case ImageFaultKind::kBadType:
      std::snprintf(text, sizeof text, "record %d: type %u is neither 14 nor 15",
                    static_cast<int>(fault.record), static_cast<unsigned>(fault.value));
      break;
    case ImageFaultKind::kWalkEndsEarly:
      std::snprintf(text, sizeof text,
                    "record %d: its last word ends at 0xFFFF, so the walk ends there and the "
                    "%d records after it would never be loaded",
                    static_cast<int>(fault.record),
                    static_cast<int>(fault.stored_records - 1 - fault.record));
      break;
    case ImageFaultKind::kWalkRunsOn:
      std::snprintf(text, sizeof text,
                    "record %d (the last): its last word ends at 0x%04X, not 0xFFFF, so the walk "
                    "does not end with it",
                    static_cast<int>(fault.record), static_cast<unsigned>(fault.value));
      break;
  }
  return text;
}

}  // namespace tvx::image
