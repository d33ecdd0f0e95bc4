#include "console/page_view.h"

#include <algorithm>

namespace tvx::console {

void PageView::MoveTo(int top) {
  top_ = std::clamp(top, 1, LastTop());
}

void PageView::SetWindowRows(int rows) {
  window_rows_ = std::max(rows, 2);
  MoveTo(top_);
}

void PageView::Follow(int cursor_row) {
  if (!following_ || WholePage() || cursor_row >= kRows) return;  // row 51 is always in view
  if (cursor_row < top_) {
    MoveTo(cursor_row);
  } else if (cursor_row > top_ + Band() - 1) {
    MoveTo(cursor_row - Band() + 1);
  }
}

void PageView::Scroll(int rows, int cursor_row) {
  MoveTo(top_ + rows);
  following_ = WindowRow(cursor_row) != 0;
}

void PageView::Attach(int cursor_row) {
  following_ = true;
  Follow(cursor_row);
}

int PageView::PageRow(int window_row) const {
  if (window_row < 1 || window_row > ShownRows()) return 0;
  if (WholePage()) return window_row;
  return window_row == window_rows_ ? kRows : top_ + window_row - 1;
}

int PageView::WindowRow(int page_row) const {
  if (page_row < 1 || page_row > kRows) return 0;
  if (WholePage()) return page_row;
  if (page_row == kRows) return window_rows_;
  return page_row >= top_ && page_row < top_ + Band() ? page_row - top_ + 1 : 0;
}

}  // namespace tvx::console
