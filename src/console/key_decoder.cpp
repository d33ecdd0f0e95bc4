#include "console/key_decoder.h"

#include <algorithm>
#include <string_view>

namespace tvx::console {
namespace {

constexpr std::uint8_t kEsc = 0x1B;
// Parameters and intermediates a key sequence may carry ("ESC [ 15 ; 5 ~" has five); longer
// ones are no key of any terminal.
constexpr std::size_t kLongestSequence = 16;

// PC scan codes of the keys the decoder names.
enum Scan : int {
  kScanF1 = 59,  // F1..F10 are 59..68
  kScanF11 = 87,
  kScanF12 = 88,
  kScanHome = 71,
  kScanUp = 72,
  kScanPageUp = 73,
  kScanLeft = 75,
  kScanCentre = 76,  // keypad 5 without Num Lock
  kScanRight = 77,
  kScanEnd = 79,
  kScanDown = 80,
  kScanPageDown = 81,
  kScanInsert = 82,
  kScanDelete = 83,
  kScanBackspace = 14,
  kScanTab = 15,
  kScanEnter = 28,
};

std::string Extended(int scan_code) {
  return std::string(1, '\0') + static_cast<char>(scan_code);
}

int FunctionKeyScan(int n) {
  return n <= 10 ? kScanF1 + n - 1 : (n == 11 ? kScanF11 : kScanF12);
}

// PC scan codes of the letter keys A..Z.
constexpr int kLetterScanCodes[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                      49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};

// The scan code of the key (on a US keyboard) that types `c`, with or without Shift or Ctrl;
// -1 when no key of the typing block gives it.
int ScanCodeOfCharacter(std::uint8_t c) {
  if (c >= 'a' && c <= 'z') return kLetterScanCodes[c - 'a'];
  if (c >= 'A' && c <= 'Z') return kLetterScanCodes[c - 'A'];
  if (c >= '1' && c <= '9') return 2 + (c - '1');
  constexpr std::string_view kShiftedDigits = "!@#$%^&*()";
  if (const auto at = kShiftedDigits.find(static_cast<char>(c)); at != std::string_view::npos) {
    return 2 + static_cast<int>(at);
  }
  switch (c) {
    case 0:
      return 3;  // Ctrl-@ is Ctrl with the 2 key
    case '\b':
    case 127:
      return kScanBackspace;
    case '\t':
      return kScanTab;
    case '\r':
      return kScanEnter;
    case 0x1C:
      return 43;  // Ctrl-backslash
    case 0x1D:
      return 27;  // Ctrl-]
    case 0x1E:
      return 7;  // Ctrl-^ (Shift+6)
    case 0x1F:
      return 12;  // Ctrl-_ (Shift+minus)
    case '0':
      return 11;
    case '-':
    case '_':
      return 12;
    case '=':
    case '+':
      return 13;
    case '[':
    case '{':
      return 26;
    case ']':
    case '}':
      return 27;
    case ';':
    case ':':
      return 39;
    case '\'':
    case '"':
      return 40;
    case '`':
    case '~':
      return 41;
    case '\\':
    case '|':
      return 43;
    case ',':
    case '<':
      return 51;
    case '.':
    case '>':
      return 52;
    case '/':
    case '?':
      return 53;
    case ' ':
      return 57;
    default:
      break;
  }
  if (c >= 1 && c <= 26) return kLetterScanCodes[c - 1];  // Ctrl with a letter
  return -1;
}

// The number before the first ';' of a parameter text ("" gives 1); -1 when the parameters are
// not numbers separated by ';' (the modifier numbers after it name no key and are only checked).
int FirstParameter(std::string_view params) {
  int first = -1;
  int value = 0;
  bool digits = false;
  for (char c : params) {
    if (c >= '0' && c <= '9') {
      value = std::min(value * 10 + (c - '0'), 10000);
      digits = true;
    } else if (c == ';') {
      if (first < 0) first = digits ? value : 1;
      value = 0;
      digits = false;
    } else {
      return -1;
    }
  }
  if (first < 0) first = digits ? value : 1;
  return first;
}

// Final bytes both sequence kinds share: cursor keys, Home, End, keypad 5 and F1..F4.
int CursorOrFunctionScan(char final_byte) {
  switch (final_byte) {
    case 'A':
      return kScanUp;
    case 'B':
      return kScanDown;
    case 'C':
      return kScanRight;
    case 'D':
      return kScanLeft;
    case 'H':
      return kScanHome;
    case 'F':
      return kScanEnd;
    case 'E':
      return kScanCentre;
    case 'P':
    case 'Q':
    case 'R':
    case 'S':
      return FunctionKeyScan(final_byte - 'P' + 1);
    default:
      return -1;
  }
}

// rxvt's Shift (CSI) and Ctrl (SS3) cursor keys: lower-case finals.
int RxvtCursorScan(char final_byte) {
  switch (final_byte) {
    case 'a':
      return kScanUp;
    case 'b':
      return kScanDown;
    case 'c':
      return kScanRight;
    case 'd':
      return kScanLeft;
    default:
      return -1;
  }
}

// "ESC [ n ~" (and rxvt's "$", "^", "@" finals for Shift, Ctrl, Ctrl+Shift).
int TildeScan(int number) {
  switch (number) {
    case 1:
    case 7:
      return kScanHome;
    case 2:
      return kScanInsert;
    case 3:
      return kScanDelete;
    case 4:
    case 8:
      return kScanEnd;
    case 5:
      return kScanPageUp;
    case 6:
      return kScanPageDown;
    default:
      break;
  }
  if (number >= 11 && number <= 15) return FunctionKeyScan(number - 10);  // F1..F5
  if (number >= 17 && number <= 21) return FunctionKeyScan(number - 11);  // F6..F10
  if (number == 23 || number == 24) return FunctionKeyScan(number - 12);  // F11, F12
  // The Linux console and rxvt give Shift+F3..F10 as F13..F20 (Shift+F1, F2 as F11, F12).
  switch (number) {
    case 25:
    case 26:
      return FunctionKeyScan(number - 22);  // F3, F4
    case 28:
    case 29:
      return FunctionKeyScan(number - 23);  // F5, F6
    case 31:
    case 32:
    case 33:
    case 34:
      return FunctionKeyScan(number - 24);  // F7..F10
    default:
      return -1;
  }
}

// The key of a complete sequence: `body` is the introducer, parameters and intermediates,
// `final_byte` ends it. "" when it names no key.
std::string DecodeSequence(std::string_view body, char final_byte) {
  const bool csi = body[0] == '[';
  const std::string_view params = body.substr(1);
  const int number = FirstParameter(params);
  if (number < 0) return {};  // private or intermediate bytes: a report, not a key
  if (const int scan = CursorOrFunctionScan(final_byte); scan >= 0) return Extended(scan);
  if (params.empty()) {
    if (const int scan = RxvtCursorScan(final_byte); scan >= 0) return Extended(scan);
  }
  if (csi) {
    switch (final_byte) {
      case 'Z':
        return "\t";  // Shift+Tab is the Tab key
      case '~':
      case '^':
      case '@':
      case '$': {
        const int scan = TildeScan(number);
        return scan >= 0 ? Extended(scan) : std::string();
      }
      default:
        return {};
    }
  }
  // "ESC O": the keypad in application mode.
  if (final_byte == 'M') return "\r";
  if (final_byte == 'X') return "=";
  if (final_byte >= 'j' && final_byte <= 'y') {
    return std::string(1, static_cast<char>(final_byte - 'j' + '*'));  // * + , - . / 0..9
  }
  return {};
}

bool IsParameterOrIntermediate(std::uint8_t byte) {
  return byte >= 0x20 && byte <= 0x3F;
}

bool IsFinal(std::uint8_t byte) {
  return byte >= 0x40 && byte <= 0x7E;
}

}  // namespace

void KeyDecoder::Emit(std::string key) {
  ready_.push_back(std::move(key));
}

void KeyDecoder::Reset() {
  state_ = State::kIdle;
  alt_ = false;
  sequence_.clear();
}

void KeyDecoder::Plain(std::uint8_t byte) {
  if (byte == kEsc) {
    state_ = State::kEsc;
    return;
  }
  if (byte == 127 || byte == '\b') {
    Emit("\b");  // terminals send DEL (or ^H) for Backspace
  } else if (byte == 0) {
    Emit(Extended(3));  // Ctrl-@: the PC gives it as an extended key
  } else {
    Emit(std::string(1, static_cast<char>(byte)));
  }
}

void KeyDecoder::AfterEsc(std::uint8_t byte) {
  if (byte == kEsc) {
    if (alt_) Emit("\x1b");  // three in a row: the first is a key of its own
    alt_ = true;             // an Esc key, or Alt held with the key whose sequence follows
    return;
  }
  if (byte == '[' || byte == 'O') {
    state_ = State::kSequence;
    sequence_.assign(1, static_cast<char>(byte));
    return;
  }
  if (alt_) Emit("\x1b");  // "ESC ESC x": Esc, then Alt+x
  Reset();
  const int scan = ScanCodeOfCharacter(byte);
  if (scan >= 0) {
    Emit(Extended(scan));
  } else {
    Plain(byte);  // Alt has no code of its own for this key: the key alone
  }
}

void KeyDecoder::Mouse(int button) {
  // Bits 2 to 4 are Shift, Alt and Ctrl; 64 and 65 are the wheel turned up and down.
  const int code = button & ~0x1C;
  if (code == 64) --wheel_turns_;
  if (code == 65) ++wheel_turns_;
}

void KeyDecoder::InSequence(std::uint8_t byte) {
  if (state_ == State::kMouse) {
    // Button, column and row, each 32 more than its value: any byte, none of them a key.
    sequence_ += static_cast<char>(byte);
    if (sequence_.size() == 5) {
      Mouse(static_cast<std::uint8_t>(sequence_[2]) - 32);
      Reset();
    }
    return;
  }
  if (state_ == State::kSequence && sequence_ == "[" && byte == 'M') {
    state_ = State::kMouse;
    sequence_ += 'M';
    return;
  }
  if (state_ == State::kLinuxF) {
    Reset();
    if (byte >= 'A' && byte <= 'E') Emit(Extended(FunctionKeyScan(byte - 'A' + 1)));
    return;
  }
  if (state_ == State::kSequence && sequence_ == "[" && byte == '[') {
    state_ = State::kLinuxF;
    return;
  }
  // rxvt ends Shift+Home and the like with '$', which could also open an intermediate: after
  // plain digits it is the end.
  const bool rxvt_shift = byte == '$' && state_ == State::kSequence && sequence_[0] == '[' &&
                          sequence_.size() > 1 &&
                          sequence_.find_first_not_of("0123456789", 1) == std::string::npos;
  if (IsParameterOrIntermediate(byte) && !rxvt_shift) {
    if (sequence_.size() >= kLongestSequence) state_ = State::kOverlong;
    if (state_ == State::kSequence) sequence_ += static_cast<char>(byte);
    return;
  }
  if (state_ == State::kSequence && sequence_.starts_with("[<") && (byte == 'M' || byte == 'm')) {
    // A mouse report in the SGR form: "<", button, column and row; 'm' is a release.
    const int button = FirstParameter(std::string_view(sequence_).substr(2));
    if (byte == 'M' && button >= 0) Mouse(button);
    Reset();
    return;
  }
  if (IsFinal(byte) || rxvt_shift) {
    std::string key;
    if (state_ == State::kSequence) key = DecodeSequence(sequence_, static_cast<char>(byte));
    Reset();
    if (!key.empty()) Emit(std::move(key));
    return;
  }
  // A byte no sequence contains: the sequence so far is dropped, the byte is a key (or the
  // start of the next sequence).
  Reset();
  Plain(byte);
}

void KeyDecoder::FeedByte(std::uint8_t byte, std::int64_t now_ms) {
  Expire(now_ms);
  last_byte_ms_ = now_ms;
  switch (state_) {
    case State::kIdle:
      Plain(byte);
      return;
    case State::kEsc:
      AfterEsc(byte);
      return;
    case State::kSequence:
    case State::kLinuxF:
    case State::kOverlong:
    case State::kMouse:
      InSequence(byte);
      return;
  }
}

bool KeyDecoder::OnlyIntroducer() const {
  return state_ == State::kEsc || (state_ == State::kSequence && sequence_.size() == 1);
}

void KeyDecoder::Expire(std::int64_t now_ms) {
  if (state_ == State::kIdle) return;
  const bool only_introducer = OnlyIntroducer();
  const int limit = only_introducer ? escape_delay_ms_ : sequence_gap_ms_;
  if (now_ms - last_byte_ms_ < limit) return;
  if (only_introducer) {
    if (alt_) Emit("\x1b");
    if (state_ == State::kEsc) {
      Emit("\x1b");
    } else {
      Emit(Extended(ScanCodeOfCharacter(static_cast<std::uint8_t>(sequence_[0]))));  // Alt+[, Alt+O
    }
  }
  // A sequence cut off in the middle means no key.
  Reset();
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
  if (!OnlyIntroducer()) return -1;
  const std::int64_t left = last_byte_ms_ + escape_delay_ms_ - now_ms;
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, escape_delay_ms_));
}

void KeyDecoder::Clear() {
  Reset();
  ready_.clear();
  wheel_turns_ = 0;
}

int KeyDecoder::TakeWheelTurns() {
  const int turns = wheel_turns_;
  wheel_turns_ = 0;
  return turns;
}

}  // namespace tvx::console
