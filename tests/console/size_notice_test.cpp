#include "console/size_notice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tvx::console {
namespace {

using Lines = std::vector<std::string>;

TEST(SizeNoticeTest, WrapsToTheWindowAndCutsToItsHeight) {
  EXPECT_EQ(SizeNoticeLines(60, 20),
            (Lines{"Please enlarge this window to at least 80 x 24 characters.", "(now 60 x 20)"}));
  EXPECT_EQ(SizeNoticeLines(20, 5), (Lines{"Please enlarge this", "window to at least",
                                           "80 x 24 characters.", "(now 20 x 5)"}));
  // Smaller still: the lines that fit, words longer than a line cut at its end.
  EXPECT_EQ(SizeNoticeLines(10, 2), (Lines{"Please", "enlarge"}));
  EXPECT_EQ(SizeNoticeLines(8, 9), (Lines{"Please", "enlarge", "this", "window", "to at",
                                          "least 80", "x 24", "characte", "(now 8 x"}));
  EXPECT_EQ(SizeNoticeLines(0, 5), Lines{});
}

}  // namespace
}  // namespace tvx::console
