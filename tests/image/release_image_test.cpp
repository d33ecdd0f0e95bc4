// The figures of the release image's record headers, computed from the image linked into the
// program. They hold for the synthetic image and for any supplied release image alike.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <vector>

#include "image/checks.h"
#include "image/firmware_image.h"
#include "image/image_check.h"

namespace {

using namespace tvx::image;

struct ImageRun {
  std::int32_t first_record;
  std::int32_t last_record;
  std::uint8_t type;
  std::uint16_t first_address;
  std::uint16_t last_address;
  std::int32_t records;
  std::int32_t data_bytes;
  bool operator==(const ImageRun&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ImageRun& r) {
  return os << "records " << r.first_record << ".." << r.last_record << " type " << int{r.type}
            << std::hex << " 0x" << r.first_address << "..0x" << r.last_address << std::dec
            << " count " << r.records << " bytes " << r.data_bytes;
}

// Groups the records into runs: a record continues a run when it keeps the type and starts
// where the previous record's declared data end.
std::vector<ImageRun> RunsOf(std::span<const std::uint8_t> image) {
  std::vector<ImageRun> runs;
  RecordBuffer buffer{};
  std::uint32_t next_address = 0;
  for (std::int32_t i = 0; i < StoredRecordCount(image); ++i) {
    FetchRecord(image, i, buffer);
    const RecordHeader h = HeaderOf(buffer);
    if (runs.empty() || h.type != runs.back().type || h.address != next_address) {
      runs.push_back({i, i, h.type, h.address, h.address, 0, 0});
    }
    ImageRun& run = runs.back();
    run.last_record = i;
    run.records += 1;
    run.data_bytes += h.DataCount();
    run.last_address = static_cast<std::uint16_t>(h.address + h.DataCount() - 1);
    next_address = (h.address + h.DataCount()) & 0xFFFF;
  }
  return runs;
}

TEST(ReleaseImage, SizeAndFirstAndLastRecord) {
  const auto image = FirmwareImage();
  EXPECT_EQ(image.size(), 82880u);
  ASSERT_EQ(StoredRecordCount(image), 4144);
  EXPECT_FALSE(CheckStoredImage(image).has_value());

  RecordBuffer buffer{};
  FetchRecord(0, buffer);
  RecordHeader h = HeaderOf(buffer);
  EXPECT_EQ(h.length, 20);
  EXPECT_EQ(h.type, 15);
  EXPECT_EQ(h.address, 0x8000);
  FetchRecord(4143, buffer);
  h = HeaderOf(buffer);
  EXPECT_EQ(h.length, 6);
  EXPECT_EQ(h.type, 15);
  EXPECT_EQ(h.address, 0xFFFE);
}

TEST(ReleaseImage, LengthAndTypeHistograms) {
  const auto image = FirmwareImage();
  std::map<int, int> lengths;
  std::map<int, int> types;
  std::vector<std::int32_t> odd;
  RecordBuffer buffer{};
  long data_bytes = 0;
  for (std::int32_t i = 0; i < StoredRecordCount(image); ++i) {
    FetchRecord(i, buffer);
    const RecordHeader h = HeaderOf(buffer);
    ++lengths[h.length];
    ++types[h.type];
    data_bytes += h.DataCount();
    if (h.DataCount() % 2 != 0) {
      odd.push_back(i);
    }
  }
  EXPECT_EQ(lengths, (std::map<int, int>{
                         {20, 4130}, {14, 3}, {18, 3}, {13, 2}, {8, 2}, {6, 2}, {7, 1}, {10, 1}}));
  EXPECT_EQ(types, (std::map<int, int>{{15, 2948}, {14, 1196}}));
  EXPECT_EQ(data_bytes, 66191);
  EXPECT_EQ(odd, (std::vector<std::int32_t>{772, 2509, 4136}));
}

TEST(ReleaseImage, TheEighteenRuns) {
  const std::vector<ImageRun> expected = {
      {0, 772, 15, 0x8000, 0xB048, 773, 12361},    {773, 935, 15, 0xB500, 0xBF29, 163, 2602},
      {936, 1313, 15, 0x0000, 0x179D, 378, 6046},  {1314, 2132, 14, 0xC000, 0xF32D, 819, 13102},
      {2133, 2509, 14, 0x8000, 0x9788, 377, 6025}, {2510, 2614, 15, 0x4000, 0x468F, 105, 1680},
      {2615, 2719, 15, 0x4700, 0x4D8F, 105, 1680}, {2720, 2824, 15, 0x4E00, 0x548F, 105, 1680},
      {2825, 2929, 15, 0x5500, 0x5B8F, 105, 1680}, {2930, 3034, 15, 0x5C00, 0x628F, 105, 1680},
      {3035, 3139, 15, 0x6300, 0x698F, 105, 1680}, {3140, 3251, 15, 0x6A00, 0x70FF, 112, 1792},
      {3252, 3295, 15, 0x7C00, 0x7EB3, 44, 692},   {3296, 4132, 15, 0xC000, 0xF449, 837, 13386},
      {4133, 4133, 15, 0xFF0E, 0xFF0F, 1, 2},      {4134, 4135, 15, 0xFF80, 0xFF93, 2, 20},
      {4136, 4136, 15, 0xFFA0, 0xFFA2, 1, 3},      {4137, 4143, 15, 0xFFB0, 0xFFFF, 7, 80},
  };
  const std::vector<ImageRun> runs = RunsOf(FirmwareImage());
  ASSERT_EQ(runs.size(), expected.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i], expected[i]) << "run " << i + 1;
  }
}

TEST(ReleaseImage, CompleteWalk) {
  RecordBuffer buffer{};
  ImageWalk walk(FirmwareImage(), buffer);
  std::int32_t records = 0;
  std::int32_t words = 0;
  std::int32_t previous_index = -1;
  while (walk.NextRecord()) {
    EXPECT_EQ(walk.RecordIndex(), previous_index + 1);
    previous_index = walk.RecordIndex();
    ++records;
    for (Word w; walk.NextWord(w);) {
      ++words;
    }
    if (walk.RecordIndex() < 4143) {
      ASSERT_NE(walk.Address(), 0) << "record " << walk.RecordIndex() << " ends at 0xFFFF";
    }
  }
  EXPECT_EQ(records, 4144);
  EXPECT_EQ(words, 33097);
  EXPECT_EQ(walk.Address(), 0);
  EXPECT_EQ(WalkRecordCount(FirmwareImage()), 4144);
}

// The synthetic image comes from a fixed-seed generator: every build must carry the same bytes.
TEST(ReleaseImage, SyntheticDataBytesAreFixed) {
#ifndef TVX_SYNTHETIC_IMAGE
  GTEST_SKIP() << "a supplied image is built in";
#else
  Crc16Register reg;
  for (const std::uint8_t b : FirmwareImage()) {
    Crc16Update(reg, b);
  }
  EXPECT_EQ((reg.high << 8) | reg.low, 0x2FBC);
#endif
}

}  // namespace
