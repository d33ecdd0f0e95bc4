#include "console/page_view.h"

#include <gtest/gtest.h>

#include <vector>

namespace tvx::console {
namespace {

// The page rows a window shows, top to bottom.
std::vector<int> Shown(const PageView& view) {
  std::vector<int> rows;
  for (int w = 1; w <= view.ShownRows(); ++w) rows.push_back(view.PageRow(w));
  return rows;
}

// The cursor's walk through a direct upload's screen at 80 x 24: the band moves only as far as
// it must, and never for row 51.
TEST(PageViewTest, BandFollowsTheCursorAsLittleAsItMust) {
  struct Step {
    int cursor_row;
    int top;
  };
  const Step steps[] = {
      {1, 1},   {23, 1},  {24, 2},   // one row past the band's end moves it by one
      {30, 8},  {32, 10}, {20, 10},  // the prompt row, the outcome row, back up inside the band
      {51, 10},                      // the status row is always in view
      {50, 28}, {60, 28},            // the band's last place: rows 28 to 50
      {3, 3},   {1, 1},
  };
  PageView view;
  view.SetWindowRows(24);
  for (const Step& step : steps) {
    view.Follow(step.cursor_row);
    EXPECT_EQ(view.Top(), step.top) << "cursor on row " << step.cursor_row;
  }
}

// At every height from 24 to 50 and every cursor row, the cursor's row and row 51 are on
// screen, row 51 on the last row, and the window rows and page rows map to each other.
TEST(PageViewTest, CursorRowAndStatusRowAlwaysInView) {
  for (int rows = kMinWindowRows; rows < kRows; ++rows) {
    PageView view;
    view.SetWindowRows(rows);
    for (int cursor : {1, 50, 17, 2, 51, 33, 49, 1}) {
      view.Follow(cursor);
      ASSERT_NE(view.WindowRow(cursor), 0) << rows << " rows, cursor on " << cursor;
      ASSERT_EQ(view.PageRow(rows), kRows);
      for (int w = 1; w <= rows; ++w) ASSERT_EQ(view.WindowRow(view.PageRow(w)), w);
    }
  }
}

TEST(PageViewTest, WholePageFromFiftyOneRows) {
  PageView view;
  for (int rows : {51, 60}) {
    view.SetWindowRows(rows);
    view.Follow(50);
    view.Scroll(-9, 50);
    EXPECT_EQ(view.Top(), 1);
    EXPECT_EQ(view.ShownRows(), kRows);
    EXPECT_EQ(view.PageRow(51), 51);
    EXPECT_EQ(view.PageRow(52), 0);
    EXPECT_EQ(view.WindowRow(30), 30);
  }
}

// The wheel: the band leaves the cursor and stays where it is put while the job writes on, until
// the user scrolls the cursor back into view or a key brings it back.
TEST(PageViewTest, ScrollLeavesTheCursorUntilAttached) {
  PageView view;
  view.SetWindowRows(24);
  view.Follow(50);
  view.Scroll(-9, 50);
  EXPECT_EQ(view.Top(), 19);
  EXPECT_FALSE(view.Following());
  view.Follow(50);
  EXPECT_EQ(view.Top(), 19);
  EXPECT_EQ(view.WindowRow(50), 0);
  EXPECT_EQ(view.WindowRow(51), 24);

  view.Scroll(-100, 50);  // kept within the page
  EXPECT_EQ(view.Top(), 1);
  view.Scroll(100, 50);
  EXPECT_EQ(view.Top(), 28);
  EXPECT_TRUE(view.Following());  // the cursor is in view again

  view.Scroll(-3, 40);  // rows 25 to 47 still hold the cursor's row: it is followed
  EXPECT_TRUE(view.Following());
  view.Scroll(-20, 40);
  view.Attach(40);
  EXPECT_TRUE(view.Following());
  EXPECT_EQ(view.Top(), 18);
}

// A resize keeps the band's first row where the new height allows.
TEST(PageViewTest, ResizeKeepsTheBandInThePage) {
  PageView view;
  view.SetWindowRows(24);
  view.Follow(50);
  EXPECT_EQ(Shown(view).front(), 28);
  view.SetWindowRows(30);
  EXPECT_EQ(view.Top(), 22);
  EXPECT_EQ(Shown(view).back(), 51);
  EXPECT_EQ(Shown(view)[28], 50);
  view.SetWindowRows(51);
  EXPECT_EQ(Shown(view).front(), 1);
}

}  // namespace
}  // namespace tvx::console
