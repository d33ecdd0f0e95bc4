// The radio's access code as a person writes it: on the command line (--access-code), in the
// variable TORVANDRIX_ACCESS_CODE and in the configuration file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tvx::app {

/// What the usage errors say an access code is.
inline constexpr std::string_view kAccessCodeForm =
    "four bytes in hexadecimal separated by commas, e.g. 0x12,0x34,0x56,0x78";

/// The four bytes of `text`: exactly four comma-separated bytes, each one or two hexadecimal
/// digits (either case) with or without "0x"/"0X", blanks around each allowed
/// ("0x12, 34,0XaB,f"). Anything else (a fifth byte, "0x123", an empty byte, a sign) gives
/// nothing.
std::optional<std::array<std::uint8_t, 4>> ReadAccessCode(std::string_view text);

/// Overwrites the `size` bytes at `data` with zeros, in a way the optimiser keeps even when the
/// memory is never read again (it is about to be freed or left).
void SecureWipe(void* data, std::size_t size) noexcept;
inline void SecureWipe(std::string& text) noexcept {
  SecureWipe(text.data(), text.size());
}

/// Wipes the values of --access-code and --send-secret in the program's own arguments
/// ("--access-code CODE", "--send-secret=TEXT"; argv[0] and what follows "--" are left), so
/// that the process list no longer shows them. Whether any was there.
bool WipeSecretArguments(int argc, char** argv) noexcept;

}  // namespace tvx::app
