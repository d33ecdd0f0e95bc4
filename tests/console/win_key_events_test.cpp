// Console key events as the Windows console hands them over, turned into key texts: wine's
// console on a terminal gives Enter, Esc and Backspace without their character and the cursor
// keys without the enhanced flag, so each case is a record as a console really sends it.
#include "console/win_key_events.h"

#include <gtest/gtest.h>

#include <string>

namespace tvx::console::win {
namespace {

struct KeyCase {
  const char* name;
  WORD virtual_key;
  WORD scan_code;
  wchar_t character;
  DWORD modifiers;
  BOOL down;
  std::string expected;
};

KEY_EVENT_RECORD Record(const KeyCase& c) {
  KEY_EVENT_RECORD key{};
  key.bKeyDown = c.down;
  key.wRepeatCount = 1;
  key.wVirtualKeyCode = c.virtual_key;
  key.wVirtualScanCode = c.scan_code;
  key.uChar.UnicodeChar = c.character;
  key.dwControlKeyState = c.modifiers;
  return key;
}

TEST(WinKeyEventsTest, EachRecordGivesTheConsoleKeyText) {
  using namespace std::string_literals;
  const KeyCase cases[] = {
      {"letter", 'A', 30, L'a', 0, TRUE, "a"},
      {"released", 'A', 30, L'a', 0, FALSE, ""},
      {"shift alone", VK_SHIFT, 42, 0, SHIFT_PRESSED, TRUE, ""},
      {"F1", VK_F1, 59, 0, 0, TRUE, "\0\x3b"s},
      {"shift F2", VK_F2, 60, 0, SHIFT_PRESSED, TRUE, "\0\x3c"s},
      {"F12", VK_F12, 88, 0, 0, TRUE, "\0\x58"s},
      {"up without enhanced flag", VK_UP, 72, 0, 0, TRUE, "\0\x48"s},
      {"delete", VK_DELETE, 83, 0, ENHANCED_KEY, TRUE, "\0\x53"s},
      {"keypad 7 with num lock", VK_HOME, 71, L'7', 0, TRUE, "7"},
      {"enter without character", VK_RETURN, 28, 0, 0, TRUE, "\r"},
      {"esc without character", VK_ESCAPE, 1, 0, 0, TRUE, "\x1b"},
      {"backspace without character", VK_BACK, 14, 0, 0, TRUE, "\b"},
      {"ctrl c", 'C', 46, L'\x03', LEFT_CTRL_PRESSED, TRUE, "\x03"},
      {"alt a", 'A', 30, L'a', LEFT_ALT_PRESSED, TRUE, "\0\x1e"s},
      {"altgr types its character", 'Q', 16, L'@', RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED, TRUE,
       "@"},
      {"accented letter in the 8-bit set", 0xDE, 40, L'\u00e9', 0, TRUE, "\x82"},
      {"character outside the 8-bit set", 0, 0, L'\u4e00', 0, TRUE, ""},
  };
  for (const KeyCase& c : cases) {
    EXPECT_EQ(KeyText(Record(c)), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace tvx::console::win
