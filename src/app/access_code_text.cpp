#include "app/access_code_text.h"

#include <atomic>
#include <cstddef>

namespace tvx::app {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::optional<std::array<std::uint8_t, 4>> ReadAccessCode(std::string_view text) {
  std::array<std::uint8_t, 4> code{};
  std::size_t count = 0;
  for (;;) {
    const std::size_t comma = text.find(',');
    std::string_view byte = Trimmed(text.substr(0, comma));
    if (byte.size() > 2 && byte[0] == '0' && (byte[1] == 'x' || byte[1] == 'X')) {
      byte.remove_prefix(2);
    }
    if (count == code.size() || byte.empty() || byte.size() > 2) return std::nullopt;
    int value = 0;
    for (const char c : byte) {
      const int digit = HexDigit(c);
      if (digit < 0) return std::nullopt;
      value = value * 16 + digit;
    }
    code[count++] = static_cast<std::uint8_t>(value);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (count != code.size()) return std::nullopt;
  return code;
}

void SecureWipe(void* data, std::size_t size) noexcept {
  // Stores through a volatile pointer are side effects the compiler must keep; the fence keeps
  // them from being moved past a following free.
  volatile auto* bytes = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

bool WipeSecretArguments(int argc, char** argv) noexcept {
  constexpr std::string_view kOptions[] = {"--access-code", "--send-secret"};
  bool wiped = false;
  for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
    const std::string_view arg = argv[i];
    for (const std::string_view option : kOptions) {
      char* value = nullptr;
      if (arg == option && i + 1 < argc) {
        value = argv[++i];
      } else if (arg.starts_with(option) && arg.size() > option.size() &&
                 arg[option.size()] == '=') {
        value = argv[i] + option.size() + 1;
      }
      if (value != nullptr) {
        SecureWipe(value, std::string_view(value).size());
        wiped = true;
        break;
      }
    }
  }
  return wiped;
}

}  // namespace tvx::app
