#include "console/format.h"

#include <gtest/gtest.h>

#include <limits>

namespace tvx::console {
namespace {

TEST(FormatTest, PlainNumberAndHex) {
  EXPECT_EQ(PlainNumber(19200), " 19200 ");
  EXPECT_EQ(PlainNumber(-5), "-5 ");
  EXPECT_EQ(PlainNumber(0), " 0 ");
  EXPECT_EQ(PlainNumber(std::numeric_limits<long long>::min()), "-9223372036854775808 ");
  EXPECT_EQ(Hex(0xE3), "E3");
  EXPECT_EQ(Hex(5), "5");
  EXPECT_EQ(Hex(0), "0");
  EXPECT_EQ(Hex(0xFFFFFFFF), "FFFFFFFF");
}

TEST(FormatTest, PictureRoundsAndRightAligns) {
  EXPECT_EQ(FormatPicture("##.##", 5.5), " 5.50");
  EXPECT_EQ(FormatPicture("##.##", 123.456), "123.46");  // widens, no overflow mark
  EXPECT_EQ(FormatPicture("##.##", 0.004), " 0.00");
  EXPECT_EQ(FormatPicture("##.##", 9.996), "10.00");
  EXPECT_EQ(FormatPicture("##.##", 0.125), " 0.13");    // an exact half rounds away from zero
  EXPECT_EQ(FormatPicture("##.##", 99.999), "100.00");  // carry into a new digit widens
  EXPECT_EQ(FormatPicture("##.##", -1.5), "-1.50");
  EXPECT_EQ(FormatPicture("##.##", -0.001), " 0.00");  // no minus on a zero
  EXPECT_EQ(FormatPicture("### ", 7), "  7 ");
  EXPECT_EQ(FormatPicture("### ", 53), " 53 ");
  EXPECT_EQ(FormatPicture("### ", 1000), "1000 ");
  EXPECT_EQ(FormatPicture("### ", 2.5), "  3 ");  // a half rounds away from zero
  EXPECT_EQ(FormatPicture("#####   ", 4143), " 4143   ");
  EXPECT_EQ(FormatPicture("#####   ", 123456), "123456   ");
  EXPECT_EQ(FormatPicture(".##", 0.5), ".50");
}

TEST(FormatTest, PictureCopiesTextAroundTheFirstField) {
  EXPECT_EQ(FormatPicture("Program Time is ##.## S", 123.456), "Program Time is 123.46 S");
  EXPECT_EQ(FormatPicture("Create Time is ##.## S", 2), "Create Time is  2.00 S");
  EXPECT_EQ(FormatPicture("Done. ## of ##", 7), "Done.  7 of ##");
  EXPECT_EQ(FormatPicture("no field", 7), "no field");
}

TEST(FormatTest, NumericValueTakesTheLeadingNumber) {
  EXPECT_EQ(NumericValue(" 12abc"), 12);
  EXPECT_EQ(NumericValue("-1"), -1);
  EXPECT_EQ(NumericValue("abc"), 0);
  EXPECT_EQ(NumericValue("\t7.6"), 7.6);
  EXPECT_EQ(NumericValue(""), 0);
  EXPECT_EQ(NumericValue("-"), 0);
  EXPECT_EQ(NumericValue("+3"), 3);
  EXPECT_EQ(NumericValue(".5x"), 0.5);
  EXPECT_EQ(NumericValue("12 34"), 12);
  EXPECT_EQ(NumericValue("\n5"), 0);  // only blanks and tabs are skipped
  EXPECT_EQ(NumericValue("0." + std::string(400, '0') + "1"), 0);
  EXPECT_EQ(NumericValue(std::string(400, '9')), std::numeric_limits<double>::max());
}

TEST(FormatTest, RoundToIntHalfToEvenAndClamped) {
  EXPECT_EQ(RoundToInt(2.5), 2);
  EXPECT_EQ(RoundToInt(3.5), 4);
  EXPECT_EQ(RoundToInt(-2.5), -2);
  EXPECT_EQ(RoundToInt(-3.5), -4);
  EXPECT_EQ(RoundToInt(7.6), 8);
  EXPECT_EQ(RoundToInt(-0.4), 0);
  EXPECT_EQ(RoundToInt(1e12), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(RoundToInt(-1e12), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(RoundToInt(std::numeric_limits<double>::quiet_NaN()), 0);
}

}  // namespace
}  // namespace tvx::console
