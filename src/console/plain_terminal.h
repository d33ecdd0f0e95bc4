// The user's own terminal as a plain, line-mode terminal of any size: keys read raw (no echo, no
// line editing) and decoded as the full screen decodes them (key_decoder.h), text written as it
// comes. What the job writes is plain UTF-8 text and line ends; it never holds a control code
// of the terminal. The terminal's modes are given back when the object goes, and on every
// signal that ends the program (a first stop signal is left to the program, whose wait it ends;
// a second one, or a fault, restores the terminal before the program ends).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "console/console.h"

namespace tvx::console {

class PlainTerminal {
 public:
  virtual ~PlainTerminal() = default;
  /// The next key without waiting (a console key text: one character, or 0 and a scan code),
  /// "" when none is ready.
  virtual std::string ReadKey() = 0;
  /// Milliseconds until a key held back (a lone Esc) becomes ready; -1 when none is.
  virtual int MsUntilKey() const = 0;
  /// Writes UTF-8 text; "\n" starts a new line.
  virtual void Write(std::string_view text) = 0;
  /// Ready when keys may be waiting (and when a stop signal came).
  virtual NativeWaitHandle KeyWaitHandle() const = 0;
  /// Drops every key typed and not yet read.
  virtual void DiscardTypeAhead() = 0;
};

/// Takes over standard input (raw keys, no echo) and standard output. Null and a one-line
/// reason in `error` when standard input is not a terminal or cannot be set.
std::unique_ptr<PlainTerminal> OpenPlainTerminal(std::string& error);

}  // namespace tvx::console
