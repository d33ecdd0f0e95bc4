#include "release_image.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

#include "image/firmware_image.h"

namespace tvx::image_gen {
namespace {

// One run of records: consecutive load addresses and one type. A run opens with
// `full_records` records of length 20 and closes with the short records of `tail_lengths`
// (0 ends the list).
struct Run {
  std::uint8_t type;
  std::uint16_t first_address;
  std::int32_t full_records;
  std::array<std::uint8_t, 4> tail_lengths;
};

// The release layout, in stored order (record indices in the comments).
constexpr std::array<Run, 18> kReleaseRuns{{
    {15, 0x8000, 772, {13}},           // 0..772
    {15, 0xB500, 162, {14}},           // 773..935
    {15, 0x0000, 377, {18}},           // 936..1313
    {14, 0xC000, 818, {18}},           // 1314..2132
    {14, 0x8000, 376, {13}},           // 2133..2509
    {15, 0x4000, 105, {}},             // 2510..2614
    {15, 0x4700, 105, {}},             // 2615..2719
    {15, 0x4E00, 105, {}},             // 2720..2824
    {15, 0x5500, 105, {}},             // 2825..2929
    {15, 0x5C00, 105, {}},             // 2930..3034
    {15, 0x6300, 105, {}},             // 3035..3139
    {15, 0x6A00, 112, {}},             // 3140..3251
    {15, 0x7C00, 43, {8}},             // 3252..3295
    {15, 0xC000, 836, {14}},           // 3296..4132
    {15, 0xFF0E, 0, {6}},              // 4133
    {15, 0xFF80, 1, {8}},              // 4134..4135
    {15, 0xFFA0, 0, {7}},              // 4136
    {15, 0xFFB0, 3, {18, 14, 10, 6}},  // 4137..4143
}};

constexpr std::uint64_t kDataSeed = 0x7456'5821'2005'1205ULL;

// splitmix64: tiny, exactly defined, identical output on every compiler and platform.
class DataBytes {
 public:
  explicit DataBytes(std::uint64_t seed) : state_(seed) {}
  std::uint8_t Next() {
    if (left_ == 0) {
      state_ += 0x9E37'79B9'7F4A'7C15ULL;
      std::uint64_t z = state_;
      z = (z ^ (z >> 30)) * 0xBF58'476D'1CE4'E5B9ULL;
      z = (z ^ (z >> 27)) * 0x94D0'49BB'1331'11EBULL;
      bits_ = z ^ (z >> 31);
      left_ = 8;
    }
    const auto byte = static_cast<std::uint8_t>(bits_);
    bits_ >>= 8;
    --left_;
    return byte;
  }

 private:
  std::uint64_t state_;
  std::uint64_t bits_ = 0;
  int left_ = 0;
};

// Appends one record in stored form: each 4-byte group of the fetched layout reversed.
void StoreRecord(std::uint8_t length, std::uint8_t type, std::uint16_t address, DataBytes& data,
                 std::vector<std::uint8_t>& image) {
  std::array<std::uint8_t, image::kRecordSize> fetched{};
  fetched[0] = length;
  fetched[1] = type;
  fetched[2] = static_cast<std::uint8_t>(address >> 8);
  fetched[3] = static_cast<std::uint8_t>(address & 0xFF);
  for (std::size_t i = 4; i < fetched.size(); ++i) {
    fetched[i] = data.Next();  // the unused tail of a short record is filled as well
  }
  for (std::size_t group = 0; group < fetched.size(); group += 4) {
    for (std::size_t i = 0; i < 4; ++i) {
      image.push_back(fetched[group + 3 - i]);
    }
  }
}

}  // namespace

std::vector<std::uint8_t> BuildReleaseImage() {
  std::vector<std::uint8_t> image;
  image.reserve(4144 * image::kRecordSize);
  DataBytes data(kDataSeed);
  for (const Run& run : kReleaseRuns) {
    std::uint16_t address = run.first_address;
    auto add = [&](std::uint8_t length) {
      StoreRecord(length, run.type, address, data, image);
      address = static_cast<std::uint16_t>(address + length - 4);
    };
    for (std::int32_t i = 0; i < run.full_records; ++i) {
      add(20);
    }
    for (const std::uint8_t length : run.tail_lengths) {
      if (length != 0) {
        add(length);
      }
    }
  }
  return image;
}

std::int32_t FirstHeaderDifference(const std::vector<std::uint8_t>& a,
                                   const std::vector<std::uint8_t>& b) {
  const std::size_t records = std::min(a.size(), b.size()) / image::kRecordSize;
  for (std::size_t r = 0; r < records; ++r) {
    const std::size_t at = r * image::kRecordSize;
    for (std::size_t i = 0; i < 4; ++i) {
      if (a[at + i] != b[at + i]) {
        return static_cast<std::int32_t>(r);
      }
    }
  }
  if (a.size() / image::kRecordSize != b.size() / image::kRecordSize) {
    return static_cast<std::int32_t>(records);
  }
  return -1;
}

}  // namespace tvx::image_gen
