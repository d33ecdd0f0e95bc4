// Keeps the text of secret sends out of what the radio's text is shown as: where the radio
// echoes a secret back, the echo shows as "<secret>". Text goes through as it arrives; only a
// tail that could be the start of a secret's echo is held back until the next text tells (a
// line end always does: secrets are matched by their printable characters only). Pure.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tvx::terminal {

class SecretMask {
 public:
  /// Hides `sent` (the bytes of a secret send) from now on: its printable ASCII characters as
  /// one run, which is how the radio echoes typed keys. Nothing when it has none.
  void Add(std::string_view sent);
  /// Takes the next piece of the radio's text and returns what may be shown now.
  std::string Push(std::string_view text);
  /// Returns the text held back (at the end of a session).
  std::string Flush();
  /// `text` with every whole secret replaced (for captured values and other finished text).
  std::string Masked(std::string_view text) const;

 private:
  std::vector<std::string> secrets_;
  std::string held_;
};

}  // namespace tvx::terminal
