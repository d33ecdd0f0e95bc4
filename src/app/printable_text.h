// A name the user gave (a device, a file, an argument) made safe to print on a terminal, so
// that an error message that echoes it can neither move the cursor nor garble the line.
#pragma once

#include <string>
#include <string_view>

namespace tvx::app {

/// `text` with every control byte (0x00-0x1F, 0x7F), the two bytes of every C1 control
/// (U+0080-U+009F) and every byte that is not part of a well-formed UTF-8 sequence written as
/// `\xHH` (two upper-case hex digits), and a backslash as `\\`, so that the result tells the
/// bytes apart; every other character is kept as it is.
/// Pure; allocates the result.
std::string PrintableText(std::string_view text);

/// Text from outside the program (a file or device name, a value the user typed, a reason the
/// system gave) as a message may show it: escaped by PrintableText when it is made, and in no
/// other way. The sentences the program prints take outside text only as this type, so that
/// none of it reaches a terminal (or the upload log) raw.
class Printable {
 public:
  Printable() = default;
  explicit Printable(std::string_view outside) : shown_(PrintableText(outside)) {}

  /// The escaped text.
  const std::string& Text() const { return shown_; }
  bool Empty() const { return shown_.empty(); }

  friend std::string operator+(std::string text, const Printable& p) { return text += p.shown_; }
  friend std::string operator+(const Printable& p, std::string_view text) {
    return p.shown_ + std::string(text);
  }
  friend bool operator==(const Printable&, const Printable&) = default;

 private:
  std::string shown_;
};

}  // namespace tvx::app
