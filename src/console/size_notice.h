// The notice shown in place of the screen while the window is too small for any view of the
// page (fewer than 80 columns or 24 rows).
#pragma once

#include <string>
#include <vector>

namespace tvx::console {

/// The notice's lines for a window of `columns` x `rows` characters: word-wrapped to the width
/// (a word longer than a line is cut at the line's end) and cut to the height, so nothing wraps
/// or scrolls on the terminal. Empty when the window has no room at all.
std::vector<std::string> SizeNoticeLines(int columns, int rows);

}  // namespace tvx::console
