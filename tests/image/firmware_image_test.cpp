#include "image/firmware_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "stored_image_builder.h"

namespace {

using tvx::image::FetchRecord;
using tvx::image::HeaderOf;
using tvx::image::ImageWalk;
using tvx::image::PairChecksum;
using tvx::image::RecordBuffer;
using tvx::image::WalkMode;
using tvx::image::WalkRecordCount;
using tvx::image::Word;
using tvx::testing::StoredImageBuilder;

struct VisitedRecord {
  std::int32_t index;
  std::uint16_t address;
  int data_count;
  std::vector<Word> words;
};

std::vector<VisitedRecord> Walk(const std::vector<std::uint8_t>& image,
                                WalkMode mode = WalkMode::kSkipEmpty) {
  RecordBuffer buffer{};
  ImageWalk walk(image, buffer, mode);
  std::vector<VisitedRecord> visited;
  while (walk.NextRecord()) {
    VisitedRecord record{walk.RecordIndex(), walk.Address(), walk.DataCount(), {}};
    for (Word w; walk.NextWord(w);) {
      record.words.push_back(w);
    }
    visited.push_back(record);
  }
  EXPECT_TRUE(walk.Ended());
  return visited;
}

TEST(FetchRecord, ReversesEachStoredGroup) {
  std::vector<std::uint8_t> image = {0x00, 0x80, 0x0F, 0x14, 3, 2, 1,  0,  7,  6,
                                     5,    4,    11,   10,   9, 8, 15, 14, 13, 12};
  RecordBuffer buffer{};
  buffer.fill(0xEE);
  FetchRecord(image, 0, buffer);
  const auto header = HeaderOf(buffer);
  EXPECT_EQ(header.length, 0x14);
  EXPECT_EQ(header.type, 0x0F);
  EXPECT_EQ(header.address, 0x8000);
  EXPECT_EQ(header.DataCount(), 16);
  EXPECT_EQ(header.SpaceByte(), 1);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(buffer[4 + i], i);
  }
  for (std::size_t i = 20; i < buffer.size(); ++i) {
    ASSERT_EQ(buffer[i], 0xEE) << "byte " << i << " must be left alone";
  }
}

TEST(ImageWalk, OddDataCountTakesTheNextDataByteIntoItsLastWord) {
  StoredImageBuilder image;
  image.Record(13, 15, 0x1000, 0x50).RunToTop(0xFFF0);
  const auto visited = Walk(image.Bytes());
  ASSERT_EQ(visited.size(), 2u);
  const auto& words = visited[0].words;
  ASSERT_EQ(words.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(words[i].b0, 0x50 + 2 * i);
    EXPECT_EQ(words[i].b1, 0x51 + 2 * i);
    EXPECT_EQ(words[i].address, 0x1000 + 2 * i);
  }
  EXPECT_EQ(words[4].b1, 0x59) << "the tenth byte of the data field";
}

TEST(ImageWalk, AddressAfterRecordAndWrapInsideARecord) {
  RecordBuffer buffer{};
  StoredImageBuilder image;
  image.Record(13, 15, 0x1000).Record(8, 14, 0xFFFE).RunToTop(0xFFF0);
  ImageWalk walk(image.Bytes(), buffer);
  ASSERT_TRUE(walk.NextRecord());
  for (Word w; walk.NextWord(w);) {
  }
  EXPECT_EQ(walk.Address(), 0x100A);
  EXPECT_FALSE(walk.Ended());

  ASSERT_TRUE(walk.NextRecord());
  EXPECT_EQ(walk.SpaceByte(), 0);
  Word w;
  ASSERT_TRUE(walk.NextWord(w));
  EXPECT_EQ(w.address, 0xFFFE);
  ASSERT_TRUE(walk.NextWord(w));
  EXPECT_EQ(w.address, 0x0000) << "wraps, and only the address after the record counts";
  EXPECT_FALSE(walk.NextWord(w));
  EXPECT_FALSE(walk.Ended());
  ASSERT_TRUE(walk.NextRecord());
  EXPECT_EQ(walk.RecordIndex(), 2);
}

TEST(ImageWalk, EndsAtTheFirstRecordEndingAtFFFF) {
  StoredImageBuilder image;
  image.Record(20, 15, 0x8000).Record(6, 15, 0xFFFE).Record(20, 15, 0x9000).RunToTop(0xFFF0);
  const auto visited = Walk(image.Bytes());
  ASSERT_EQ(visited.size(), 2u);
  EXPECT_EQ(visited.back().index, 1);
  EXPECT_EQ(WalkRecordCount(image.Bytes()), 2);
}

TEST(ImageWalk, SkipModePassesOverEmptyRecordsVisitAllDoesNot) {
  StoredImageBuilder image;
  image.Record(20, 15, 0x8000).Record(4, 15, 0x0000).Record(3, 14, 0x4000).RunToTop(0xFFF0);
  const auto skipping = Walk(image.Bytes(), WalkMode::kSkipEmpty);
  ASSERT_GE(skipping.size(), 2u);
  EXPECT_EQ(skipping[0].index, 0);
  EXPECT_EQ(skipping[1].index, 3);

  // Visited, no words; the empty record at 0x0000 leaves the address at 0 and so ends it.
  const auto all = Walk(image.Bytes(), WalkMode::kVisitAll);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1].index, 1);
  EXPECT_TRUE(all[1].words.empty());
  EXPECT_EQ(all[1].data_count, 0);
}

TEST(ImageWalk, WordsLeftUntakenStillMoveTheAddressOn) {
  StoredImageBuilder image;
  image.Record(20, 15, 0x8000).Record(20, 15, 0xFFF0).Record(20, 15, 0x1000);
  RecordBuffer buffer{};
  ImageWalk walk(image.Bytes(), buffer);
  int records = 0;
  while (walk.NextRecord()) {
    ++records;  // no words taken at all
  }
  EXPECT_EQ(records, 2);
  EXPECT_EQ(walk.RecordIndex(), 1);
  EXPECT_EQ(walk.Address(), 0);
}

TEST(ImageWalk, StopsAtTheLastStoredRecordWhenNoneEndsAtFFFF) {
  StoredImageBuilder image;
  image.Record(20, 15, 0x8000).Record(20, 15, 0x9000).Record(2, 15, 0x9000);
  EXPECT_EQ(Walk(image.Bytes()).size(), 2u);
  EXPECT_EQ(WalkRecordCount(image.Bytes()), 3);
  EXPECT_EQ(Walk(image.Bytes(), WalkMode::kVisitAll).size(), 3u);

  EXPECT_TRUE(Walk({}).empty());
  EXPECT_EQ(WalkRecordCount({}), 0);
}

TEST(ImageWalk, OversizedLengthNeverReadsPastTheDataField) {
  StoredImageBuilder image;
  image.Record(255, 15, 0xFFF0);
  const auto visited = Walk(image.Bytes());
  ASSERT_EQ(visited.size(), 1u);
  EXPECT_EQ(visited[0].data_count, 16);
  EXPECT_EQ(visited[0].words.size(), 8u);
}

TEST(PairChecksum, ComplementsWhenTheWordCountIsOdd) {
  PairChecksum one;
  one.Add(0x12, 0x34);
  EXPECT_EQ(one.Value(), (std::array<std::uint8_t, 2>{0xED, 0xCB}));
  one.Add(0x01, 0x02);
  EXPECT_EQ(one.Value(), (std::array<std::uint8_t, 2>{0x13, 0x36}));
  EXPECT_EQ(PairChecksum{}.Value(), (std::array<std::uint8_t, 2>{0x00, 0x00}));
}

}  // namespace
