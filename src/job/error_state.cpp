#include "job/error_state.h"

#include <string>

#include "console/format.h"

namespace tvx::job {

void ErrorReport(ErrorState& errors, console::Console& console) {
  using namespace console;
  ScreenModel& screen = console.Screen();
  const int row = screen.CursorRow();
  const int column = screen.CursorColumn();
  screen.Locate(kRows, 65);
  ++errors.count;
  std::string text = FormatPicture("### ", errors.count);
  text += FormatPicture("### ", errors.code);
  text += FormatPicture("### ", 0);  // position field, always 0
  screen.SetColours(kYellow, kBlue, 0);
  screen.PrintText(text);
  screen.Locate(row, column);
  screen.SetColours(kBrightWhite, kBlack, 0);
  errors.code = 0;
  console.Beep();
}

}  // namespace tvx::job
