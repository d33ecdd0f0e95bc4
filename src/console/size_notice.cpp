#include "console/size_notice.h"

#include <sstream>

#include "console/page_view.h"

namespace tvx::console {
namespace {

void Wrap(const std::string& paragraph, std::size_t width, std::vector<std::string>& lines) {
  std::istringstream words(paragraph);
  std::string line;
  for (std::string word; words >> word;) {
    if (word.size() > width) word.resize(width);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word;
  }
  if (!line.empty()) lines.push_back(line);
}

}  // namespace

std::vector<std::string> SizeNoticeLines(int columns, int rows) {
  std::vector<std::string> lines;
  if (columns <= 0 || rows <= 0) return lines;
  const auto width = static_cast<std::size_t>(columns);
  Wrap("Please enlarge this window to at least " + std::to_string(kColumns) + " x " +
           std::to_string(kMinWindowRows) + " characters.",
       width, lines);
  Wrap("(now " + std::to_string(columns) + " x " + std::to_string(rows) + ")", width, lines);
  if (lines.size() > static_cast<std::size_t>(rows)) lines.resize(static_cast<std::size_t>(rows));
  return lines;
}

}  // namespace tvx::console
