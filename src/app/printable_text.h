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

}  // namespace tvx::app
