// Which rows of the 80 x 51 page a window of fewer rows shows. Rows 1 to 50 are seen through a
// band of (window rows - 1) rows; row 51, the status row where errors are reported, is always on
// the window's last row. The band follows the cursor as a console window follows its cursor: it
// moves only as far as needed to keep the cursor's row in view. The user may scroll it elsewhere
// (the cursor's row then out of view, the band stays where it was put until the user scrolls the
// cursor back into it or the program takes a key). A window of 51 rows or more shows the whole
// page from the top. Pure: no I/O.
#pragma once

#include "console/screen_model.h"

namespace tvx::console {

/// The fewest window rows that show a view of the page; fewer show only a notice to enlarge.
inline constexpr int kMinWindowRows = 24;

class PageView {
 public:
  /// The window's height in rows (at least 2). The band keeps its first row where it can.
  void SetWindowRows(int rows);
  int WindowRows() const { return window_rows_; }
  /// Whether the window shows the whole page.
  bool WholePage() const { return window_rows_ >= kRows; }
  /// Window rows that show a page row: the window's height, at most 51.
  int ShownRows() const { return WholePage() ? kRows : window_rows_; }
  /// The page row on the band's first window row.
  int Top() const { return top_; }
  /// Whether the band follows the cursor (it was not scrolled away from it).
  bool Following() const { return following_; }

  /// Before each draw, with the cursor's page row: a following band moves as little as it must to
  /// show that row.
  void Follow(int cursor_row);
  /// The user's scroll by `rows` page rows (negative: towards row 1), kept within the page. The
  /// band follows the cursor again when `cursor_row` ends up in view, and not while it is out.
  void Scroll(int rows, int cursor_row);
  /// Puts the band back on the cursor: the program took a key.
  void Attach(int cursor_row);

  /// The page row shown on window row `window_row` (1-based); 0 when that row shows none.
  int PageRow(int window_row) const;
  /// The window row that shows page row `page_row`; 0 when it is out of view.
  int WindowRow(int page_row) const;

 private:
  int Band() const { return window_rows_ - 1; }  // window rows above the status row
  int LastTop() const { return WholePage() ? 1 : kRows - Band(); }
  void MoveTo(int top);

  int window_rows_ = kRows;
  int top_ = 1;
  bool following_ = true;
};

}  // namespace tvx::console
