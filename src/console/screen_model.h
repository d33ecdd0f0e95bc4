// The 80 x 51 text screen every job draws on: cells of one byte and one colour attribute, a
// cursor and the current colours. Rows and columns count from 1. This is the whole behaviour of
// the console operations; a backend only shows the cells and reads keys.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tvx::console {

inline constexpr int kColumns = 80;
inline constexpr int kRows = 51;

/// The 16 console colours, in the console's own order (not the ANSI order).
enum Colour : std::uint8_t {
  kBlack = 0,
  kBlue = 1,
  kGreen = 2,
  kCyan = 3,
  kRed = 4,
  kMagenta = 5,
  kBrown = 6,
  kLightGrey = 7,
  kDarkGrey = 8,
  kLightBlue = 9,
  kLightGreen = 10,
  kLightCyan = 11,
  kLightRed = 12,
  kLightMagenta = 13,
  kYellow = 14,
  kBrightWhite = 15,
};

/// Attribute byte: foreground in bits 0..3, background in bits 4..7.
// clang-format off
constexpr std::uint8_t MakeAttr(int fg, int bg) { return static_cast<std::uint8_t>((bg << 4) | fg); }
constexpr int ForegroundOf(std::uint8_t attr) { return attr & 0x0F; }
constexpr int BackgroundOf(std::uint8_t attr) { return attr >> 4; }
// clang-format on

struct Cell {
  std::uint8_t ch = ' ';
  std::uint8_t attr = MakeAttr(kBrightWhite, kBlack);
  bool operator==(const Cell&) const = default;
};

class ScreenModel {
 public:
  ScreenModel();

  /// Fills every cell with a blank in the current colours; cursor to row 1, column 1.
  void Clear();
  /// Moves the cursor; a row or column outside the screen leaves that coordinate unchanged.
  void Locate(int row, int column);
  /// Makes fg/bg the colours of later output (a value >= 16 keeps the current one), then
  /// repaints the colours of `cells` cells from the cursor on without changing characters.
  void SetColours(int fg, int bg, int cells);
  /// Places each byte unchanged into the next cell (no control codes), advancing the cursor;
  /// after column 80 output goes on at column 1 of the next row; after the last cell of row 51
  /// the whole screen scrolls up one row before the next byte or new line is written.
  void PrintText(std::string_view bytes);
  /// Column 1 of the next row; on row 51 the whole screen scrolls up one row instead.
  void NewLine();
  /// Writes 14 - (c mod 14) blanks, c the cursor column counted from 0.
  void NextPrintZone();
  /// Writes a sign position (blank or '-'), the decimal digits and one trailing blank.
  void PrintNumber(long long value);
  /// Moves the rectangle's contents up one row; the freed bottom row is blanked in the
  /// current colours. Coordinates are inclusive, 1-based.
  void ScrollRectUp(int top, int left, int bottom, int right);

  int CursorRow() const { return row_; }
  int CursorColumn() const { return column_; }
  std::uint8_t CurrentAttr() const { return attr_; }
  /// True after the last cell of row 51 was written and before the deferred scroll happened;
  /// the cursor then still reports row 51, column 80.
  bool ScrollPending() const { return pending_scroll_; }

  const Cell& At(int row, int column) const { return cells_[Index(row, column)]; }
  /// The 80 characters of a row (for tests and diagnostics).
  std::string RowText(int row) const;

  /// Increases on every change of a cell; a renderer compares it with what it last drew.
  std::uint64_t Generation() const { return generation_; }

 private:
  static int Index(int row, int column) { return (row - 1) * kColumns + (column - 1); }
  void ScrollScreen();
  void PutByte(std::uint8_t b);

  std::array<Cell, kColumns * kRows> cells_{};
  int row_ = 1;
  int column_ = 1;
  bool pending_scroll_ = false;  // the last cell of row 51 was written
  std::uint8_t attr_ = MakeAttr(kBrightWhite, kBlack);
  std::uint64_t generation_ = 0;
};

}  // namespace tvx::console
