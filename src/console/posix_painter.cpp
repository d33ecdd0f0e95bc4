#include "console/posix_painter.h"

#include <climits>
#include <cwchar>
#include <string>
#include <vector>

#include <curses.h>

#include "console/cp437.h"
#include "console/size_notice.h"

namespace tvx::console::posix {
namespace {

// Console colour (blue is bit 0, red bit 2) to the terminal's colour number (red is bit 0).
int TerminalColour(int console_colour) {
  const int base = ((console_colour & 1) << 2) | (console_colour & 2) | ((console_colour & 4) >> 2);
  return base + (console_colour & 8);
}

}  // namespace

void TerminalPainter::Start() {
  if (has_colors() && start_color() == OK) colours_ = COLORS >= 16 ? 16 : 8;

  // A glyph is used where the locale can write it in one column; else its ASCII stand-in.
  for (int b = 0; b < 256; ++b) {
    const auto glyph = static_cast<wchar_t>(Cp437Glyph(static_cast<std::uint8_t>(b)));
    char buffer[MB_LEN_MAX];
    std::mbstate_t state{};
    const bool writable = std::wcrtomb(buffer, glyph, &state) != static_cast<std::size_t>(-1);
    glyphs_[b] = (writable && wcwidth(glyph) == 1)
                     ? glyph
                     : static_cast<wchar_t>(Cp437StandIn(static_cast<std::uint8_t>(b)));
  }

  const short normal = PairFor(kBrightWhite, kBlack);
  bkgdset(COLOR_PAIR(normal) | ' ');
}

short TerminalPainter::PairFor(int fg, int bg) {
  if (colours_ == 0) return 0;
  int fg_colour = TerminalColour(fg);
  int bg_colour = TerminalColour(bg);
  if (colours_ == 8) {
    fg_colour &= 7;  // the bright half is shown bold
    bg_colour &= 7;
  }
  const int key = fg_colour * 256 + bg_colour;
  const auto found = pairs_.find(key);
  if (found != pairs_.end()) return found->second;
  if (next_pair_ >= COLOR_PAIRS || next_pair_ > 32767) {
    // Out of pairs: start over and draw everything again with the new numbering.
    pairs_.clear();
    next_pair_ = 1;
    pairs_renumbered_ = true;
  }
  const auto pair = static_cast<short>(next_pair_++);
  init_pair(pair, static_cast<short>(fg_colour), static_cast<short>(bg_colour));
  pairs_[key] = pair;
  return pair;
}

void TerminalPainter::PutCell(int window_row, int column, const Cell& cell) {
  const int fg = ForegroundOf(cell.attr);
  const int bg = BackgroundOf(cell.attr);
  attr_t attributes = A_NORMAL;
  if (colours_ == 0) {
    if (bg != kBlack) attributes |= A_REVERSE;
    if (fg >= 8) attributes |= A_BOLD;
  } else if (colours_ == 8 && fg >= 8) {
    attributes |= A_BOLD;
  }
  const short pair = PairFor(fg, bg);
  const wchar_t text[2] = {glyphs_[cell.ch], L'\0'};
  cchar_t cc;
  setcchar(&cc, text, attributes, pair, nullptr);
  mvadd_wch(window_row - 1, column - 1, &cc);
}

void TerminalPainter::ShowCursor(bool visible) {
  if (visible == cursor_visible_) return;
  curs_set(visible ? 1 : 0);
  cursor_visible_ = visible;
}

bool TerminalPainter::Stale(const ScreenModel& model, const PageView& view) const {
  return !drawn_valid_ || model.Generation() != drawn_generation_ ||
         model.CursorRow() != drawn_row_ || model.CursorColumn() != drawn_column_ ||
         view.Top() != drawn_top_ || view.WindowRows() != drawn_window_rows_;
}

void TerminalPainter::Draw(const ScreenModel& model, const PageView& view) {
  const int rows = view.ShownRows();
  for (int attempt = 0; attempt < 2; ++attempt) {
    pairs_renumbered_ = false;
    const bool full = !drawn_valid_;
    for (int window_row = 1; window_row <= rows; ++window_row) {
      const int page_row = view.PageRow(window_row);
      Cell* shown = &drawn_[(window_row - 1) * kColumns];
      for (int column = 1; column <= kColumns; ++column, ++shown) {
        const Cell& cell = model.At(page_row, column);
        if (!full && *shown == cell) continue;
        PutCell(window_row, column, cell);
        *shown = cell;
      }
    }
    drawn_valid_ = true;
    // Cells drawn before PairFor() ran out of pairs and renumbered them need drawing again.
    if (!pairs_renumbered_) break;
    drawn_valid_ = false;
  }
  // Where the user scrolled the cursor's row out of view, no cursor shows.
  const int cursor_row = view.WindowRow(model.CursorRow());
  ShowCursor(cursor_row != 0);
  if (cursor_row != 0) move(cursor_row - 1, model.CursorColumn() - 1);
  refresh();
  drawn_generation_ = model.Generation();
  drawn_row_ = model.CursorRow();
  drawn_column_ = model.CursorColumn();
  drawn_top_ = view.Top();
  drawn_window_rows_ = view.WindowRows();
  notice_shown_ = false;
  last_draw_ = std::chrono::steady_clock::now();
}

void TerminalPainter::DrawNotice() {
  erase();
  int lines_count = 0;
  int columns = 0;
  getmaxyx(stdscr, lines_count, columns);
  const short pair = PairFor(kYellow, kBlue);
  attr_set(colours_ == 8 ? A_BOLD : A_NORMAL, pair, nullptr);
  const std::vector<std::string> lines = SizeNoticeLines(columns, lines_count);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    mvaddnstr(static_cast<int>(i), 0, lines[i].c_str(), columns);
  }
  attr_set(A_NORMAL, PairFor(kBrightWhite, kBlack), nullptr);
  ShowCursor(true);
  move(0, 0);
  refresh();
  notice_shown_ = true;
  drawn_valid_ = false;
}

void TerminalPainter::Invalidate() {
  drawn_valid_ = false;
  notice_shown_ = false;
}

}  // namespace tvx::console::posix
