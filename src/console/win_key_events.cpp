#include "console/win_key_events.h"

#include <algorithm>
#include <array>

#include "console/cp437.h"

namespace tvx::console::win {
namespace {

// The PC scan codes of the extended keys, by virtual key. Decoding goes by the virtual key
// first: some consoles (wine's on a terminal among them) report the cursor keys without the
// enhanced-key flag, and the keypad's keys share these scan codes.
struct ExtendedKey {
  WORD virtual_key;
  char scan_code;
};
constexpr ExtendedKey kExtendedKeys[] = {
    {VK_F1, 59},   {VK_F2, 60},   {VK_F3, 61},    {VK_F4, 62},     {VK_F5, 63},     {VK_F6, 64},
    {VK_F7, 65},   {VK_F8, 66},   {VK_F9, 67},    {VK_F10, 68},    {VK_F11, 87},    {VK_F12, 88},
    {VK_HOME, 71}, {VK_UP, 72},   {VK_PRIOR, 73}, {VK_LEFT, 75},   {VK_CLEAR, 76},  {VK_RIGHT, 77},
    {VK_END, 79},  {VK_DOWN, 80}, {VK_NEXT, 81},  {VK_INSERT, 82}, {VK_DELETE, 83},
};

int ExtendedScanCode(WORD virtual_key) {
  for (const ExtendedKey& key : kExtendedKeys) {
    if (key.virtual_key == virtual_key) return static_cast<unsigned char>(key.scan_code);
  }
  return -1;
}

bool IsModifierOnly(WORD virtual_key) {
  switch (virtual_key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
      return true;
    default:
      return false;
  }
}

// Consoles that read a terminal (wine's) give these keys without their character.
WCHAR CharacterOf(const KEY_EVENT_RECORD& key) {
  if (key.uChar.UnicodeChar != 0) return key.uChar.UnicodeChar;
  switch (key.wVirtualKeyCode) {
    case VK_ESCAPE:
      return 0x1B;
    case VK_RETURN:
      return L'\r';
    case VK_BACK:
      return L'\b';
    case VK_TAB:
      return L'\t';
    default:
      return 0;
  }
}

}  // namespace

std::string KeyText(const KEY_EVENT_RECORD& key) {
  if (!key.bKeyDown || IsModifierOnly(key.wVirtualKeyCode)) return {};
  const DWORD state = key.dwControlKeyState;
  const bool alt = (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
  const bool ctrl = (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
  const WCHAR ch = CharacterOf(key);
  const int extended = ExtendedScanCode(key.wVirtualKeyCode);
  // A keypad key with Num Lock on types its digit; the same key as a cursor key has no char.
  if (extended >= 0 && !(ch >= L'0' && ch <= L'9') && ch != L'.') {
    return std::string(1, '\0') + static_cast<char>(extended);
  }
  if (alt && !ctrl && ch != 0) {
    // Alt with a character key: the key's scan code (AltGr, which is Ctrl+Alt, types a char).
    UINT scan = key.wVirtualScanCode;
    if (scan == 0) scan = MapVirtualKeyW(key.wVirtualKeyCode, MAPVK_VK_TO_VSC);
    if (scan == 0 || scan > 0xFF) return {};
    return std::string(1, '\0') + static_cast<char>(scan);
  }
  if (ch == 0) return {};
  const int byte = Cp437FromUnicode(static_cast<char32_t>(ch));
  if (byte < 0) return {};
  return std::string(1, static_cast<char>(byte));
}

void ReadConsoleKeys(HANDLE input, std::deque<std::string>& keys) {
  for (int round = 0; round < 64; ++round) {
    DWORD waiting = 0;
    if (!GetNumberOfConsoleInputEvents(input, &waiting) || waiting == 0) return;
    std::array<INPUT_RECORD, 64> records{};
    DWORD got = 0;
    if (!ReadConsoleInputW(input, records.data(), static_cast<DWORD>(records.size()), &got)) {
      return;
    }
    for (DWORD i = 0; i < got; ++i) {
      if (records[i].EventType != KEY_EVENT) continue;
      const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
      const std::string text = KeyText(key);
      if (text.empty()) continue;
      for (WORD n = 0; n < std::max<WORD>(key.wRepeatCount, 1); ++n) keys.push_back(text);
    }
  }
}

}  // namespace tvx::console::win
