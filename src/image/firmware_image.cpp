#include "image/firmware_image.h"

#include <algorithm>
#include <cassert>

namespace tvx::image {
namespace {

constexpr std::size_t kGroupSize = 4;
// A record never carries more data than its 16-byte data field, whatever its length byte says.
constexpr int kMaxDataCount = static_cast<int>(kRecordSize) - 4;

}  // namespace

RecordHeader HeaderOf(const RecordBuffer& buffer) {
  RecordHeader header;
  header.length = buffer[0];
  header.type = buffer[1];
  header.address = static_cast<std::uint16_t>((buffer[2] << 8) | buffer[3]);
  return header;
}

std::int32_t StoredRecordCount(std::span<const std::uint8_t> image) {
  return static_cast<std::int32_t>(image.size() / kRecordSize);
}

void FetchRecord(std::span<const std::uint8_t> image, std::int32_t index, RecordBuffer& buffer) {
  assert(index >= 0 && index < StoredRecordCount(image));
  if (index < 0 || index >= StoredRecordCount(image)) {
    return;  // never reached by a walk; an out-of-range caller gets an unchanged buffer
  }
  const std::uint8_t* stored = image.data() + static_cast<std::size_t>(index) * kRecordSize;
  for (std::size_t group = 0; group < kRecordSize; group += kGroupSize) {
    for (std::size_t i = 0; i < kGroupSize; ++i) {
      buffer[group + i] = stored[group + kGroupSize - 1 - i];
    }
  }
}

ImageWalk::ImageWalk(std::span<const std::uint8_t> image, RecordBuffer& buffer, WalkMode mode)
    : image_(image), buffer_(buffer), mode_(mode) {}

bool ImageWalk::NextRecord() {
  if (in_record_) {
    FinishRecord();
  }
  if (ended_) {
    return false;
  }
  const std::int32_t last = StoredRecordCount(image_) - 1;
  while (index_ < last) {
    ++index_;
    FetchRecord(image_, index_, buffer_);
    const RecordHeader header = HeaderOf(buffer_);
    if (mode_ == WalkMode::kSkipEmpty && header.DataCount() < 1) {
      continue;  // skipped without output; it does not take part in the end decision
    }
    address_ = header.address;
    space_byte_ = header.SpaceByte();
    data_count_ = std::min(header.DataCount(), kMaxDataCount);
    position_ = 4;
    next_k_ = 1;
    in_record_ = true;
    if (data_count_ < 1) {
      FinishRecord();  // visited without words: its address alone decides the end
    }
    return true;
  }
  ended_ = true;
  return false;
}

bool ImageWalk::NextWord(Word& word) {
  if (!in_record_) {
    return false;
  }
  word.b0 = buffer_[static_cast<std::size_t>(position_)];
  word.b1 = buffer_[static_cast<std::size_t>(position_) + 1];
  word.address = address_;
  Advance();
  if (next_k_ > data_count_) {
    FinishRecord();
  }
  return true;
}

bool ImageWalk::Ended() const {
  return ended_;
}

void ImageWalk::Advance() {
  position_ += 2;
  address_ = static_cast<std::uint16_t>(address_ + 2);
  next_k_ += 2;
}

void ImageWalk::FinishRecord() {
  while (next_k_ <= data_count_) {
    Advance();  // words the caller did not take still move the address on
  }
  in_record_ = false;
  if (address_ == 0 || index_ >= StoredRecordCount(image_) - 1) {
    ended_ = true;
  }
}

std::int32_t WalkRecordCount(std::span<const std::uint8_t> image) {
  RecordBuffer buffer{};
  ImageWalk walk(image, buffer);
  while (walk.NextRecord()) {
  }
  return walk.RecordIndex() + 1;
}

}  // namespace tvx::image
