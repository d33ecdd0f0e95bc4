#include "console/screen_model.h"

#include <gtest/gtest.h>

#include <string>

namespace tvx::console {
namespace {

std::string Trimmed(const ScreenModel& screen, int row) {
  std::string text = screen.RowText(row);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// Fills every row with its own number so scrolling can be seen.
void NumberRows(ScreenModel& screen) {
  for (int row = 1; row <= kRows; ++row) {
    screen.Locate(row, 1);
    screen.PrintText("row " + std::to_string(row));
  }
}

TEST(ScreenModelTest, TextWrapsAfterColumn80) {
  ScreenModel screen;
  screen.Locate(3, 75);
  screen.PrintText("0123456789");
  EXPECT_EQ(screen.RowText(3).substr(74), "012345");
  EXPECT_EQ(Trimmed(screen, 4), "6789");
  EXPECT_EQ(screen.CursorRow(), 4);
  EXPECT_EQ(screen.CursorColumn(), 5);

  // Filling column 80 moves on to column 1 of the next row at once.
  screen.Locate(50, 1);
  screen.PrintText(std::string(80, 'x'));
  EXPECT_EQ(screen.CursorRow(), 51);
  EXPECT_EQ(screen.CursorColumn(), 1);
}

TEST(ScreenModelTest, BytesAreCellsNotControlCodes) {
  ScreenModel screen;
  screen.PrintText(std::string("a\r\n\b\t\0\x1b\xff", 9));
  const std::string row = screen.RowText(1);
  EXPECT_EQ(row.substr(0, 9), std::string("a\r\n\b\t\0\x1b\xff", 9));
  EXPECT_EQ(screen.CursorColumn(), 10);
}

TEST(ScreenModelTest, LastCellOfScreenScrollsOnlyWhenMoreFollows) {
  ScreenModel screen;
  NumberRows(screen);
  screen.Locate(51, 1);
  screen.PrintText(std::string(80, 's'));  // a full status row
  EXPECT_TRUE(screen.ScrollPending());
  EXPECT_EQ(Trimmed(screen, 1), "row 1");  // nothing scrolled yet
  EXPECT_EQ(screen.CursorRow(), 51);
  EXPECT_EQ(screen.CursorColumn(), 80);

  screen.PrintText("n");  // the deferred scroll happens before this byte
  EXPECT_EQ(Trimmed(screen, 1), "row 2");
  EXPECT_EQ(screen.RowText(50), std::string(80, 's'));
  EXPECT_EQ(Trimmed(screen, 51), "n");
  EXPECT_EQ(screen.CursorColumn(), 2);
}

TEST(ScreenModelTest, LocateAfterFullLastRowCancelsTheScroll) {
  ScreenModel screen;
  NumberRows(screen);
  screen.Locate(51, 1);
  screen.PrintText(std::string(80, 's'));
  screen.Locate(1, 1);
  screen.PrintText("T");
  EXPECT_EQ(Trimmed(screen, 1), "Tow 1");
  EXPECT_EQ(screen.RowText(51), std::string(80, 's'));
}

TEST(ScreenModelTest, NewLineScrollsOnlyOnLastRow) {
  ScreenModel screen;
  NumberRows(screen);
  screen.Locate(50, 7);
  screen.NewLine();
  EXPECT_EQ(screen.CursorRow(), 51);
  EXPECT_EQ(screen.CursorColumn(), 1);
  EXPECT_EQ(Trimmed(screen, 1), "row 1");

  screen.NewLine();
  EXPECT_EQ(screen.CursorRow(), 51);
  EXPECT_EQ(Trimmed(screen, 1), "row 2");
  EXPECT_EQ(Trimmed(screen, 50), "row 51");
  EXPECT_EQ(Trimmed(screen, 51), "");

  // After a full last row the pending scroll comes first, then the new line's own.
  screen.Locate(51, 1);
  screen.PrintText(std::string(80, 'z'));
  screen.NewLine();
  EXPECT_EQ(screen.RowText(49), std::string(80, 'z'));
  EXPECT_EQ(Trimmed(screen, 50), "");
  EXPECT_EQ(screen.CursorRow(), 51);
  EXPECT_EQ(screen.CursorColumn(), 1);
}

TEST(ScreenModelTest, ScrolledInRowTakesCurrentColours) {
  ScreenModel screen;
  screen.SetColours(kYellow, kBlue, 0);
  screen.Locate(51, 1);
  screen.NewLine();
  EXPECT_EQ(screen.At(51, 40).attr, MakeAttr(kYellow, kBlue));
  EXPECT_EQ(screen.At(50, 40).attr, MakeAttr(kBrightWhite, kBlack));
}

TEST(ScreenModelTest, PrintZonesStartEvery14Columns) {
  ScreenModel screen;
  screen.PrintText("  Com1");
  screen.NextPrintZone();
  EXPECT_EQ(screen.CursorColumn(), 15);
  screen.NextPrintZone();  // at a zone start a whole zone is written
  EXPECT_EQ(screen.CursorColumn(), 29);

  screen.Locate(2, 71);
  screen.NextPrintZone();  // 71 is a zone start too: 14 blanks run over the row end
  EXPECT_EQ(screen.CursorRow(), 3);
  EXPECT_EQ(screen.CursorColumn(), 5);

  screen.Locate(4, 1);
  screen.PrintText(std::string(80, 'x'));
  screen.NextPrintZone();
  EXPECT_EQ(screen.CursorRow(), 5);
  EXPECT_EQ(screen.CursorColumn(), 15);
}

TEST(ScreenModelTest, StatusLineLayout) {
  ScreenModel screen;
  screen.Locate(51, 1);
  screen.SetColours(kYellow, kBlue, 80);
  screen.PrintText("  Com1");
  screen.NextPrintZone();
  screen.PrintText("Baudrate = ");
  screen.PrintNumber(19200);
  EXPECT_EQ(screen.RowText(51).substr(0, 33),
            "  Com1" + std::string(8, ' ') + "Baudrate = " + " 19200 " + " ");
  for (int column = 1; column <= 80; ++column) {
    ASSERT_EQ(screen.At(51, column).attr, MakeAttr(kYellow, kBlue)) << column;
  }
  EXPECT_FALSE(screen.ScrollPending());
}

TEST(ScreenModelTest, SetColoursPaintsWithoutTouchingText) {
  ScreenModel screen;
  screen.Locate(2, 79);
  screen.PrintText("abcd");
  screen.Locate(2, 79);
  screen.SetColours(kYellow, kBlue, 3);  // runs over the row end
  EXPECT_EQ(screen.At(2, 78).attr, MakeAttr(kBrightWhite, kBlack));
  EXPECT_EQ(screen.At(2, 79), (Cell{'a', MakeAttr(kYellow, kBlue)}));
  EXPECT_EQ(screen.At(3, 1), (Cell{'c', MakeAttr(kYellow, kBlue)}));
  EXPECT_EQ(screen.At(3, 2), (Cell{'d', MakeAttr(kBrightWhite, kBlack)}));
  EXPECT_EQ(screen.CurrentAttr(), MakeAttr(kYellow, kBlue));
  EXPECT_EQ(screen.CursorColumn(), 79);

  // 16 or more keeps that colour; zero cells paints nothing.
  screen.SetColours(16, kBlack, 0);
  EXPECT_EQ(screen.CurrentAttr(), MakeAttr(kYellow, kBlack));
  screen.SetColours(kRed, 255, 0);
  EXPECT_EQ(screen.CurrentAttr(), MakeAttr(kRed, kBlack));
  EXPECT_EQ(screen.At(2, 79).attr, MakeAttr(kYellow, kBlue));

  // Painting stops at the end of the screen.
  screen.Locate(51, 80);
  screen.SetColours(kBlue, kYellow, 1000);
  EXPECT_EQ(screen.At(51, 80).attr, MakeAttr(kBlue, kYellow));
  EXPECT_EQ(screen.At(51, 79).attr, MakeAttr(kBrightWhite, kBlack));
}

TEST(ScreenModelTest, ClearUsesCurrentColoursAndHomesCursor) {
  ScreenModel screen;
  screen.PrintText("text");
  screen.SetColours(kYellow, kBlue, 0);
  screen.Locate(20, 20);
  screen.Clear();
  EXPECT_EQ(screen.CursorRow(), 1);
  EXPECT_EQ(screen.CursorColumn(), 1);
  EXPECT_EQ(screen.At(1, 1), (Cell{' ', MakeAttr(kYellow, kBlue)}));
  EXPECT_EQ(screen.At(51, 80), (Cell{' ', MakeAttr(kYellow, kBlue)}));
}

TEST(ScreenModelTest, LocateKeepsOutOfRangeCoordinates) {
  ScreenModel screen;
  screen.Locate(10, 20);
  screen.Locate(0, 5);
  EXPECT_EQ(screen.CursorRow(), 10);
  EXPECT_EQ(screen.CursorColumn(), 5);
  screen.Locate(52, 81);
  EXPECT_EQ(screen.CursorRow(), 10);
  EXPECT_EQ(screen.CursorColumn(), 5);
  screen.Locate(51, -1);
  EXPECT_EQ(screen.CursorRow(), 51);
  EXPECT_EQ(screen.CursorColumn(), 5);
}

TEST(ScreenModelTest, ScrollRectangleLeavesOutsideAlone) {
  ScreenModel screen;
  NumberRows(screen);
  screen.SetColours(kBrightWhite, kBlack, 0);
  screen.Locate(50, 1);
  screen.PrintText(std::string(80, 'L'));
  screen.Locate(51, 1);
  screen.SetColours(kYellow, kBlue, 0);
  screen.ScrollRectUp(2, 1, 50, 80);
  EXPECT_EQ(Trimmed(screen, 1), "row 1");
  EXPECT_EQ(Trimmed(screen, 2), "row 3");
  EXPECT_EQ(screen.RowText(49), std::string(80, 'L'));
  EXPECT_EQ(Trimmed(screen, 50), "");
  EXPECT_EQ(screen.At(50, 1).attr, MakeAttr(kYellow, kBlue));  // freed row: current colours
  EXPECT_EQ(Trimmed(screen, 51), "row 51");
  EXPECT_EQ(screen.CursorRow(), 51);  // the cursor does not move

  // A narrower rectangle keeps the columns beside it.
  screen.ScrollRectUp(1, 5, 3, 5);
  EXPECT_EQ(Trimmed(screen, 1), "row 3");
  EXPECT_EQ(Trimmed(screen, 2), "row 4");
  EXPECT_EQ(Trimmed(screen, 3), "row");
}

TEST(ScreenModelTest, GenerationFollowsCellChanges) {
  ScreenModel screen;
  std::uint64_t last = screen.Generation();
  auto changed = [&] {
    const bool moved = screen.Generation() != last;
    last = screen.Generation();
    return moved;
  };
  screen.PrintText("a");
  EXPECT_TRUE(changed());
  screen.Locate(1, 1);
  EXPECT_FALSE(changed());
  screen.PrintText("a");  // same cell again
  EXPECT_FALSE(changed());
  screen.SetColours(kYellow, kBlue, 1);
  EXPECT_TRUE(changed());
  screen.ScrollRectUp(1, 1, 2, 80);
  EXPECT_TRUE(changed());
  screen.Clear();
  EXPECT_TRUE(changed());
}

}  // namespace
}  // namespace tvx::console
