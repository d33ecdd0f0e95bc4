#include "serial/win_errors.h"

#include <windows.h>

#include <array>

namespace tvx::serial {
namespace {

// The table indexed by the Windows error number 0..40: 2 (file not found) is a port that does
// not exist, 5 (access denied) and 32 (sharing violation) a port in use by another program.
constexpr std::array<ErrorNumber, 41> kWindowsErrorTable = {
    51,  75, 53, 76, 67, 70, 51, 241, 7,  241,  // 0..9
    241, 51, 51, 51, 7,  68, 75, 74,  53, 70,   // 10..19
    68,  71, 51, 72, 51, 72, 72, 72,  27, 72,   // 20..29
    72,  72, 70, 70, 72, 75, 70, 75,  62, 61,   // 30..39
    75,                                         // 40 and above
};

}  // namespace

ErrorNumber ErrorFromWindowsError(std::uint32_t windows_error) {
  return kWindowsErrorTable[windows_error > 40 ? 40 : windows_error];
}

std::string WindowsErrorMessage(std::uint32_t windows_error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, windows_error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 ? std::string(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "Windows error " + std::to_string(windows_error) : message;
}

}  // namespace tvx::serial
