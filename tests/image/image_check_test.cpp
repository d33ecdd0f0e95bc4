#include "image/image_check.h"

#include <gtest/gtest.h>

#include <string>

#include "stored_image_builder.h"

namespace {

using tvx::image::CheckStoredImage;
using tvx::image::DescribeImageFault;
using tvx::image::ImageFault;
using tvx::image::ImageFaultKind;
using tvx::testing::StoredImageBuilder;

ImageFault FaultOf(const std::vector<std::uint8_t>& image) {
  const auto fault = CheckStoredImage(image);
  EXPECT_TRUE(fault.has_value());
  return fault.value_or(ImageFault{});
}

TEST(CheckStoredImage, AcceptsAnImageWhoseWalkEndsWithItsLastRecord) {
  StoredImageBuilder image;
  image.Record(5, 14, 0x0000).Record(20, 15, 0x8000).RunToTop(0xFF00);
  EXPECT_FALSE(CheckStoredImage(image.Bytes()).has_value());
}

TEST(CheckStoredImage, RejectsBadSizes) {
  ImageFault fault = FaultOf({});
  EXPECT_EQ(fault.kind, ImageFaultKind::kEmpty);

  StoredImageBuilder image;
  image.RunToTop(0xFF00).Bytes().push_back(0x00);
  fault = FaultOf(image.Bytes());
  EXPECT_EQ(fault.kind, ImageFaultKind::kPartialRecord);
  EXPECT_EQ(fault.record, 16);
  EXPECT_EQ(DescribeImageFault(fault),
            "record 16: incomplete, only 1 of 20 bytes (image size 321 is not a multiple of 20)");

  StoredImageBuilder huge;
  for (int i = 0; i < 65535; ++i) {
    huge.Record(20, 15, 0x1000);
  }
  huge.Record(6, 15, 0xFFFE);
  fault = FaultOf(huge.Bytes());
  EXPECT_EQ(fault.kind, ImageFaultKind::kTooManyRecords);
  EXPECT_EQ(DescribeImageFault(fault), "the image holds 65536 records, more than 65535");
  huge.Bytes().erase(huge.Bytes().begin(), huge.Bytes().begin() + 20);
  EXPECT_FALSE(CheckStoredImage(huge.Bytes()).has_value()) << "65535 records are allowed";
}

TEST(CheckStoredImage, NamesTheFirstRecordWithABadHeader) {
  struct Case {
    std::uint8_t length;
    std::uint8_t type;
    ImageFaultKind kind;
    const char* message;
  };
  const Case cases[] = {
      {4, 15, ImageFaultKind::kBadLength, "record 2: length 4 is outside 5..20"},
      {21, 14, ImageFaultKind::kBadLength, "record 2: length 21 is outside 5..20"},
      {20, 13, ImageFaultKind::kBadType, "record 2: type 13 is neither 14 nor 15"},
  };
  for (const Case& c : cases) {
    StoredImageBuilder image;
    image.Record(20, 15, 0x8000).Record(20, 15, 0x8010).Record(c.length, c.type, 0x8020);
    image.Record(3, 12, 0x9000).RunToTop(0xFF00);  // a later fault is not the one reported
    const ImageFault fault = FaultOf(image.Bytes());
    EXPECT_EQ(fault.kind, c.kind);
    EXPECT_EQ(fault.record, 2);
    EXPECT_EQ(DescribeImageFault(fault), c.message);
  }
}

TEST(CheckStoredImage, RejectsAWalkThatDoesNotEndWithTheLastRecord) {
  StoredImageBuilder early;
  early.Record(20, 15, 0x8000).Record(6, 15, 0xFFFE).Record(20, 15, 0x9000).RunToTop(0xFFF0);
  ImageFault fault = FaultOf(early.Bytes());
  EXPECT_EQ(fault.kind, ImageFaultKind::kWalkEndsEarly);
  EXPECT_EQ(fault.record, 1);
  EXPECT_EQ(DescribeImageFault(fault),
            "record 1: its last word ends at 0xFFFF, so the walk ends there and the 2 records "
            "after it would never be loaded");

  StoredImageBuilder open_end;
  open_end.Record(20, 15, 0x8000).Record(7, 14, 0x8010);
  fault = FaultOf(open_end.Bytes());
  EXPECT_EQ(fault.kind, ImageFaultKind::kWalkRunsOn);
  EXPECT_EQ(fault.record, 1);
  EXPECT_EQ(DescribeImageFault(fault),
            "record 1 (the last): its last word ends at 0x8013, not 0xFFFF, so the walk does "
            "not end with it");
}

}  // namespace
