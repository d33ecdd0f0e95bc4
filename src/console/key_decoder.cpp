#include "console/key_decoder.h"

#include <algorithm>
#include <cstdlib>

namespace tvx::console {
namespace {

constexpr char kEsc = '\x1b';
constexpr std::size_t kLongestSequence = 16;

std::string Extended(int scan_code) {
  return std::string(1, '\0') + static_cast<char>(scan_code);
}

// PC scan codes of the letter keys A..Z.
constexpr int kLetterScanCodes[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                      49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};

// The extended key a PC keyboard gives for Alt held with `c`; -1 when it gives none.
int AltScanCode(std::uint8_t c) {
  if (c >= 'a' && c <= 'z') return kLetterScanCodes[c - 'a'];
  if (c >= 'A' && c <= 'Z') return kLetterScanCodes[c - 'A'];
  if (c >= '1' && c <= '9') return 120 + (c - '1');
  switch (c) {
    case '0':
      return 129;
    case '-':
      return 130;
    case '=':
      return 131;
    case '[':
      return 26;
    case ']':
      return 27;
    case ';':
      return 39;
    case '\'':
      return 40;
    case '`':
      return 41;
    case '\\':
      return 43;
    case ',':
      return 51;
    case '.':
      return 52;
    case '/':
      return 53;
    case '\r':
      return 28;
    case '\b':
    case 127:
      return 14;
    case '\t':
      return 165;
    default:
      return -1;
  }
}

NamedKey FunctionKey(int n, int modifier) {
  // xterm modifier parameter: 1 + (shift 1, alt 2, ctrl 4).
  const int bits = modifier > 1 ? modifier - 1 : 0;
  const int base = (bits & 4)   ? static_cast<int>(NamedKey::kCtrlF1)
                   : (bits & 1) ? static_cast<int>(NamedKey::kShiftF1)
                                : static_cast<int>(NamedKey::kF1);
  return static_cast<NamedKey>(base + n - 1);
}

// The final bytes shared by "ESC [" and "ESC O": cursor keys, Home, End and F1..F4.
bool DecodeCursorOrFunctionKey(char final_byte, int modifier, std::string& key) {
  switch (final_byte) {
    case 'A':
      key = KeyText(NamedKey::kUp);
      return true;
    case 'B':
      key = KeyText(NamedKey::kDown);
      return true;
    case 'C':
      key = KeyText(NamedKey::kRight);
      return true;
    case 'D':
      key = KeyText(NamedKey::kLeft);
      return true;
    case 'H':
      key = KeyText(NamedKey::kHome);
      return true;
    case 'F':
      key = KeyText(NamedKey::kEnd);
      return true;
    case 'P':
    case 'Q':
    case 'R':
    case 'S':
      key = KeyText(FunctionKey(final_byte - 'P' + 1, modifier));
      return true;
    default:
      return false;
  }
}

// Decodes "ESC [ params final"; false when the sequence means no key of ours.
bool DecodeCsi(const std::string& seq, std::string& key) {
  const char final_byte = seq.back();
  const std::string params = seq.substr(2, seq.size() - 3);
  const int number = params.empty() ? 1 : std::atoi(params.c_str());
  const std::size_t semicolon = params.find(';');
  const int modifier =
      semicolon == std::string::npos ? 1 : std::atoi(params.c_str() + semicolon + 1);
  if (DecodeCursorOrFunctionKey(final_byte, modifier, key)) return true;
  switch (final_byte) {
    case 'Z':
      key = KeyText(NamedKey::kBackTab);
      return true;
    case '~':
      break;
    default:
      return false;
  }
  switch (number) {
    case 1:
    case 7:
      key = KeyText(NamedKey::kHome);
      return true;
    case 2:
      key = KeyText(NamedKey::kInsert);
      return true;
    case 3:
      key = KeyText(NamedKey::kDelete);
      return true;
    case 4:
    case 8:
      key = KeyText(NamedKey::kEnd);
      return true;
    case 5:
      key = KeyText(NamedKey::kPageUp);
      return true;
    case 6:
      key = KeyText(NamedKey::kPageDown);
      return true;
    default:
      break;
  }
  int function = 0;
  if (number >= 11 && number <= 15)
    function = number - 10;  // F1..F5
  else if (number >= 17 && number <= 21)
    function = number - 11;  // F6..F10
  else if (number == 23 || number == 24)
    function = number - 12;  // F11, F12
  if (function == 0) return false;
  key = KeyText(FunctionKey(function, modifier));
  return true;
}

// Decodes "ESC O [params] final" (application cursor and keypad keys).
bool DecodeSs3(const std::string& seq, std::string& key) {
  const char final_byte = seq.back();
  const std::size_t semicolon = seq.find(';');
  const int modifier = semicolon == std::string::npos ? 1 : std::atoi(seq.c_str() + semicolon + 1);
  if (DecodeCursorOrFunctionKey(final_byte, modifier, key)) return true;
  switch (final_byte) {
    case 'M':
      key.assign(1, '\r');  // assign(n, c): GCC 12 warns falsely on assigning a literal here
      return true;
    default:
      break;
  }
  // Keypad in application mode: ESC O j..y are * + , - . / 0..9.
  if (final_byte >= 'j' && final_byte <= 'y') {
    key = std::string(1, static_cast<char>(final_byte - 'j' + '*'));
    return true;
  }
  return false;
}

}  // namespace

std::string KeyText(NamedKey key) {
  const int k = static_cast<int>(key);
  if (key >= NamedKey::kF1 && key <= NamedKey::kF10) return Extended(59 + k);
  if (key == NamedKey::kF11 || key == NamedKey::kF12) return Extended(133 + (k - 10));
  if (key >= NamedKey::kShiftF1 && key <= NamedKey::kShiftF10) {
    return Extended(84 + (k - static_cast<int>(NamedKey::kShiftF1)));
  }
  if (key == NamedKey::kShiftF11 || key == NamedKey::kShiftF12) {
    return Extended(135 + (k - static_cast<int>(NamedKey::kShiftF11)));
  }
  if (key >= NamedKey::kCtrlF1 && key <= NamedKey::kCtrlF10) {
    return Extended(94 + (k - static_cast<int>(NamedKey::kCtrlF1)));
  }
  if (key == NamedKey::kCtrlF11 || key == NamedKey::kCtrlF12) {
    return Extended(137 + (k - static_cast<int>(NamedKey::kCtrlF11)));
  }
  switch (key) {
    case NamedKey::kUp:
      return Extended(72);
    case NamedKey::kDown:
      return Extended(80);
    case NamedKey::kLeft:
      return Extended(75);
    case NamedKey::kRight:
      return Extended(77);
    case NamedKey::kHome:
      return Extended(71);
    case NamedKey::kEnd:
      return Extended(79);
    case NamedKey::kPageUp:
      return Extended(73);
    case NamedKey::kPageDown:
      return Extended(81);
    case NamedKey::kInsert:
      return Extended(82);
    case NamedKey::kDelete:
      return Extended(83);
    case NamedKey::kBackTab:
      return Extended(15);
    case NamedKey::kBackspace:
      return "\b";
    case NamedKey::kEnter:
      return "\r";
    default:
      return {};
  }
}

void KeyDecoder::Plain(std::uint8_t byte) {
  if (byte == kEsc) {
    pending_.assign(1, kEsc);
    return;
  }
  if (byte == 127 || byte == '\b') {
    ready_.push_back("\b");  // terminals send DEL (or ^H) for Backspace
  } else if (byte == 0) {
    ready_.push_back(Extended(3));  // Ctrl-@: the PC gives it as an extended key
  } else {
    ready_.emplace_back(1, static_cast<char>(byte));
  }
}

void KeyDecoder::AfterEsc(std::uint8_t byte) {
  if (byte == '[' || byte == 'O') {
    pending_ += static_cast<char>(byte);
    return;
  }
  pending_.clear();
  if (byte == kEsc) {
    ready_.emplace_back(1, kEsc);  // the first Esc was a key of its own
    pending_.assign(1, kEsc);
    return;
  }
  const int scan = AltScanCode(byte);
  if (scan >= 0) {
    ready_.push_back(Extended(scan));
  } else {
    Plain(byte);  // Alt has no code of its own for this key: the key alone
  }
}

void KeyDecoder::FinishSequence() {
  std::string key;
  const bool known = pending_[1] == '[' ? DecodeCsi(pending_, key) : DecodeSs3(pending_, key);
  pending_.clear();
  if (known) ready_.push_back(key);
}

void KeyDecoder::FeedByte(std::uint8_t byte, std::int64_t now_ms) {
  Expire(now_ms);
  if (pending_.empty()) {
    Plain(byte);
    if (!pending_.empty()) pending_since_ms_ = now_ms;
    return;
  }
  pending_since_ms_ = now_ms;
  if (pending_.size() == 1) {
    AfterEsc(byte);
    return;
  }
  // Inside "ESC [" or "ESC O".
  const bool csi = pending_[1] == '[';
  if (csi && pending_.size() == 2 && byte == '[') {
    pending_ += '[';  // the Linux console's F1..F5: ESC [ [ A..E
    return;
  }
  if (csi && pending_.size() == 3 && pending_[2] == '[') {
    pending_.clear();
    if (byte >= 'A' && byte <= 'E') ready_.push_back(KeyText(FunctionKey(byte - 'A' + 1, 1)));
    return;
  }
  const bool parameter = (byte >= 0x20 && byte <= 0x3F);
  const bool final_byte = (byte >= 0x40 && byte <= 0x7E);
  if (parameter && pending_.size() < kLongestSequence) {
    pending_ += static_cast<char>(byte);
    return;
  }
  if (final_byte) {
    pending_ += static_cast<char>(byte);
    FinishSequence();
    return;
  }
  // Not a sequence after all (or a runaway one): drop it and take the byte on its own.
  pending_.clear();
  Plain(byte);
  if (!pending_.empty()) pending_since_ms_ = now_ms;
}

void KeyDecoder::FeedNamed(NamedKey key, std::int64_t now_ms) {
  Expire(now_ms);
  pending_.clear();  // an Esc right before a decoded key is Alt held with it
  ready_.push_back(KeyText(key));
}

void KeyDecoder::FlushTimedOut() {
  if (pending_.size() == 1) {
    ready_.emplace_back(1, kEsc);
  } else if (pending_.size() == 2) {
    ready_.push_back(Extended(AltScanCode(static_cast<std::uint8_t>(pending_[1]))));
  }
  pending_.clear();  // a sequence cut off in the middle means no key
}

void KeyDecoder::Expire(std::int64_t now_ms) {
  if (!pending_.empty() && now_ms - pending_since_ms_ >= escape_delay_ms_) FlushTimedOut();
}

bool KeyDecoder::HasKey(std::int64_t now_ms) {
  Expire(now_ms);
  return !ready_.empty();
}

std::string KeyDecoder::Take(std::int64_t now_ms) {
  Expire(now_ms);
  if (ready_.empty()) return {};
  std::string key = std::move(ready_.front());
  ready_.pop_front();
  return key;
}

int KeyDecoder::MsUntilTimeout(std::int64_t now_ms) const {
  if (pending_.empty()) return -1;
  const std::int64_t left = pending_since_ms_ + escape_delay_ms_ - now_ms;
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, escape_delay_ms_));
}

}  // namespace tvx::console
