// Draws the page on an ncursesw screen through a PageView: each window row shows the page row
// the view names, and only cells that differ from what the terminal already shows are written,
// so a move of the view costs no more than the rows it changes. Also draws the notice of a
// window too small for any view. Used by the terminal console on its own thread only; the
// ncurses screen must be current (set_term) and started.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>

#include "console/page_view.h"
#include "console/screen_model.h"

namespace tvx::console::posix {

class TerminalPainter {
 public:
  /// Sets up the colour pairs and the glyphs the locale can write. Call once, after the ncurses
  /// screen has started.
  void Start();

  /// Whether the terminal lacks something of `model` as seen through `view`.
  bool Stale(const ScreenModel& model, const PageView& view) const;
  /// Writes the changed cells of the rows `view` shows, places the cursor (hidden while its row
  /// is out of view) and refreshes the terminal.
  void Draw(const ScreenModel& model, const PageView& view);
  /// Clears the window and shows the notice to enlarge it, cut to the window's size.
  void DrawNotice();
  /// Whether the notice is what the terminal shows.
  bool NoticeShown() const { return notice_shown_; }
  /// Forgets what the terminal shows: the next Draw writes every cell.
  void Invalidate();
  /// When the last Draw ended.
  std::chrono::steady_clock::time_point LastDraw() const { return last_draw_; }

 private:
  short PairFor(int fg, int bg);
  void PutCell(int window_row, int column, const Cell& cell);
  void ShowCursor(bool visible);

  std::array<wchar_t, 256> glyphs_{};
  int colours_ = 0;  // 0: none, 8: eight colours (bright ones bold), 16: sixteen or more
  std::map<int, short> pairs_;
  int next_pair_ = 1;
  bool pairs_renumbered_ = false;

  // What the terminal shows now, by window row.
  std::array<Cell, kColumns * kRows> drawn_{};
  bool drawn_valid_ = false;
  std::uint64_t drawn_generation_ = 0;
  int drawn_row_ = 0;
  int drawn_column_ = 0;
  int drawn_top_ = 0;
  int drawn_window_rows_ = 0;
  bool cursor_visible_ = true;
  bool notice_shown_ = false;
  std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace tvx::console::posix
