// The Radio Setup Screen against anything the radio's set-up interface could send: every input
// byte is shown with ShowReceivedByte on a screen drawn as the Radio Setup Screen draws it (the
// title on row 1, the status line on row 51, the text from row 2).
//
// Checked after every byte: the cursor stays in the text area (rows 2 to 50, columns 1 to 80),
// with no scroll of the whole screen pending; a byte from 21 up lands in the cell under the
// cursor (or, when it filled the text area's last cell, in that cell once the area scrolled); a
// carriage return moves to column 1 of the next row, or scrolls on row 50; any other byte
// changes nothing. At the end rows 1 and 51 are as drawn, and no cell of the text area holds a
// control byte.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "console/screen_model.h"
#include "fuzz_check.h"
#include "terminal/radio_setup.h"

namespace {

using tvx::console::kColumns;
using tvx::console::kRows;
using tvx::console::ScreenModel;

constexpr int kTextTop = 2;
constexpr int kTextBottom = 50;
constexpr std::uint8_t kFirstShownByte = 21;
constexpr std::uint8_t kCarriageReturn = 13;

ScreenModel DrawnScreen() {
  ScreenModel screen;
  screen.Clear();
  screen.SetColours(tvx::console::kYellow, tvx::console::kBlue, kColumns);
  screen.PrintText("                       Radio Setup Screen");
  screen.Locate(kRows, 1);
  screen.SetColours(tvx::console::kBlack, tvx::console::kLightGrey, kColumns);
  screen.PrintText("  Q or q to quit");
  screen.Locate(kTextTop, 1);
  screen.SetColours(tvx::console::kBrightWhite, tvx::console::kBlack, 0);
  return screen;
}

bool SameRow(const ScreenModel& a, const ScreenModel& b, int row) {
  for (int column = 1; column <= kColumns; ++column) {
    if (!(a.At(row, column) == b.At(row, column))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ScreenModel drawn = DrawnScreen();
  ScreenModel screen = drawn;

  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t byte = data[i];
    const int row = screen.CursorRow();
    const int column = screen.CursorColumn();
    const std::uint64_t generation = screen.Generation();

    tvx::terminal::ShowReceivedByte(screen, byte);

    TVX_FUZZ_CHECK(screen.CursorRow() >= kTextTop && screen.CursorRow() <= kTextBottom);
    TVX_FUZZ_CHECK(screen.CursorColumn() >= 1 && screen.CursorColumn() <= kColumns);
    TVX_FUZZ_CHECK(!screen.ScrollPending());
    if (byte >= kFirstShownByte) {
      const bool scrolled = row == kTextBottom && column == kColumns;
      TVX_FUZZ_CHECK(screen.At(scrolled ? row - 1 : row, column).ch == byte);
    } else if (byte == kCarriageReturn) {
      TVX_FUZZ_CHECK(screen.CursorColumn() == 1);
      TVX_FUZZ_CHECK(screen.CursorRow() == (row < kTextBottom ? row + 1 : kTextBottom));
    } else {
      TVX_FUZZ_CHECK(screen.Generation() == generation);
      TVX_FUZZ_CHECK(screen.CursorRow() == row && screen.CursorColumn() == column);
    }
  }

  TVX_FUZZ_CHECK(SameRow(screen, drawn, 1));
  TVX_FUZZ_CHECK(SameRow(screen, drawn, kRows));
  for (int row = kTextTop; row <= kTextBottom; ++row) {
    for (int column = 1; column <= kColumns; ++column) {
      TVX_FUZZ_CHECK(screen.At(row, column).ch >= kFirstShownByte);
    }
  }
  return 0;
}
