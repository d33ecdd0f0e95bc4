#include "console/screen_model.h"

#include <algorithm>

#include "console/format.h"

namespace tvx::console {

ScreenModel::ScreenModel() = default;

void ScreenModel::Clear() {
  const Cell blank{' ', attr_};
  for (Cell& cell : cells_) cell = blank;
  row_ = 1;
  column_ = 1;
  pending_scroll_ = false;
  ++generation_;
}

void ScreenModel::Locate(int row, int column) {
  const bool row_ok = row >= 1 && row <= kRows;
  const bool column_ok = column >= 1 && column <= kColumns;
  if (!row_ok && !column_ok) return;
  if (row_ok) row_ = row;
  if (column_ok) column_ = column;
  pending_scroll_ = false;
}

void ScreenModel::SetColours(int fg, int bg, int cells) {
  const int new_fg = (fg >= 0 && fg < 16) ? fg : ForegroundOf(attr_);
  const int new_bg = (bg >= 0 && bg < 16) ? bg : BackgroundOf(attr_);
  attr_ = MakeAttr(new_fg, new_bg);
  if (cells <= 0) return;
  // Painting runs on from the cursor across row ends and stops at the end of the screen.
  const int first = Index(row_, column_);
  const int last = std::min<long long>(static_cast<long long>(first) + cells,
                                       static_cast<long long>(cells_.size()));
  bool changed = false;
  for (int i = first; i < last; ++i) {
    if (cells_[i].attr != attr_) {
      cells_[i].attr = attr_;
      changed = true;
    }
  }
  if (changed) ++generation_;
}

void ScreenModel::PutByte(std::uint8_t b) {
  if (pending_scroll_) {
    ScrollScreen();
    row_ = kRows;
    column_ = 1;
    pending_scroll_ = false;
  }
  Cell& cell = cells_[Index(row_, column_)];
  const Cell written{b, attr_};
  if (cell != written) {
    cell = written;
    ++generation_;
  }
  if (column_ < kColumns) {
    ++column_;
  } else if (row_ < kRows) {
    ++row_;
    column_ = 1;
  } else {
    pending_scroll_ = true;  // the scroll waits for the next byte or new line
  }
}

void ScreenModel::PrintText(std::string_view bytes) {
  for (char c : bytes) PutByte(static_cast<std::uint8_t>(c));
}

void ScreenModel::NewLine() {
  if (pending_scroll_) {
    ScrollScreen();
    row_ = kRows;
    column_ = 1;
    pending_scroll_ = false;
  }
  column_ = 1;
  if (row_ < kRows) {
    ++row_;
  } else {
    ScrollScreen();
  }
}

void ScreenModel::NextPrintZone() {
  // The zone is counted from where the next byte lands: after a wrap (or a pending scroll)
  // that is column 1 of the following row.
  const int c = pending_scroll_ ? 0 : column_ - 1;
  PrintText(std::string(14 - c % 14, ' '));
}

void ScreenModel::PrintNumber(long long value) {
  PrintText(PlainNumber(value));
}

void ScreenModel::ScrollRectUp(int top, int left, int bottom, int right) {
  top = std::max(top, 1);
  left = std::max(left, 1);
  bottom = std::min(bottom, kRows);
  right = std::min(right, kColumns);
  if (top > bottom || left > right) return;
  for (int row = top; row < bottom; ++row) {
    for (int column = left; column <= right; ++column) {
      cells_[Index(row, column)] = cells_[Index(row + 1, column)];
    }
  }
  for (int column = left; column <= right; ++column) cells_[Index(bottom, column)] = {' ', attr_};
  ++generation_;
}

void ScreenModel::ScrollScreen() {
  std::copy(cells_.begin() + kColumns, cells_.end(), cells_.begin());
  std::fill(cells_.end() - kColumns, cells_.end(), Cell{' ', attr_});
  ++generation_;
}

std::string ScreenModel::RowText(int row) const {
  if (row < 1 || row > kRows) return {};
  std::string text(kColumns, ' ');
  for (int column = 1; column <= kColumns; ++column) {
    text[column - 1] = static_cast<char>(At(row, column).ch);
  }
  return text;
}

}  // namespace tvx::console
