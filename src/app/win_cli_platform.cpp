// The command-line forms' operating-system side on Windows. Narrow texts (paths, device names)
// are in the ANSI code page, as the program's arguments and environment arrive.
#include <windows.h>

#include <filesystem>

#include "app/cli_platform.h"
#include "serial/port_name.h"
#include "serial/win_errors.h"
#include "serial/win_serial_port.h"

namespace tvx::app {
namespace fs = std::filesystem;

namespace {

std::string Environment(const std::string& variable) {
  char value[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA(variable.c_str(), value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(value, length) : std::string();
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// What a path names when that is a device rather than a file, told without opening it: a
// device's name (NUL, CON, COM1) stands for the device in any folder, and \\.\ paths are the
// devices' own (\\.\pipe\..., \\.\COM12), but for a drive's (\\.\C:\...). Null for a file.
const char* DeviceKind(const std::wstring& path) {
  const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return nullptr;
  std::wstring full(length, L'\0');
  const DWORD got = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  if (got == 0 || got >= length) return nullptr;
  full.resize(got);
  const std::wstring devices = L"\\\\.\\";
  if (!full.starts_with(devices)) return nullptr;
  if (full.size() > devices.size() + 1 && full[devices.size() + 1] == L':') return nullptr;
  const std::wstring pipes = L"\\\\.\\pipe\\";
  const bool pipe =
      full.size() > pipes.size() &&
      CompareStringOrdinal(full.c_str(), static_cast<int>(pipes.size()), pipes.c_str(),
                           static_cast<int>(pipes.size()), TRUE) == CSTR_EQUAL;
  return pipe ? "it is a pipe" : "it is a device";
}

}  // namespace

// A missing standard handle stays missing: writes to it fail, and no port or file is ever
// handed its place, as a closed POSIX descriptor would be. Nothing to prepare.
void PrepareProcess() {}

HelpWording PlatformHelpWording() {
  return {"console window", "COM3", "COMN",
          "%LOCALAPPDATA%\\torvandrix-upload\\uploads.jsonl",
          "%APPDATA%\\torvandrix-upload\\config"};
}

bool StdinIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool StdoutIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string_view PortPermissionHint() {
  return "Run as a user who may open the port.";
}

std::array<std::string, 9> PortBindings(const std::vector<std::pair<int, std::string>>& bindings) {
  std::array<std::string, 9> devices;
  for (int n = 1; n <= 9; ++n) {
    const std::string bound = Environment("TORVANDRIX_COM" + std::to_string(n));
    devices[n - 1] = bound.empty() ? serial::DefaultDevicePath(n) : bound;
  }
  for (const auto& [number, device] : bindings) {
    if (number >= 1 && number <= 9 && !device.empty()) devices[number - 1] = device;
  }
  return devices;
}

bool PortBound(int n) {
  return !Environment("TORVANDRIX_COM" + std::to_string(n)).empty();
}

std::string DefaultLogPath() {
  const std::string local = Environment("LOCALAPPDATA");
  if (local.empty()) return {};
  return local + "\\torvandrix-upload\\uploads.jsonl";
}

std::string DefaultConfigPath() {
  const std::string roaming = Environment("APPDATA");
  if (roaming.empty()) return {};
  return roaming + "\\torvandrix-upload\\config";
}

std::string ReadSettingsFile(const std::string& path, std::string& text, bool& absent) {
  text.clear();
  const std::wstring wide_path = Widen(path);
  // Looked at before opening: opening a device can do something (a serial port raises its
  // lines, a pipe's server takes the open for a client).
  if (const char* kind = DeviceKind(wide_path)) return kind;
  const DWORD attributes = GetFileAttributesW(wide_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return serial::WindowsErrorMessage(error);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "it is a folder";
  HANDLE file = CreateFileW(wide_path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return serial::WindowsErrorMessage(GetLastError());
  std::string error;
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK) {  // a pipe, a console, a serial port
    error = kNotRegularFile;
  } else if (!GetFileSizeEx(file, &size)) {
    error = serial::WindowsErrorMessage(GetLastError());
  } else if (size.QuadPart > static_cast<LONGLONG>(kSettingsFileLimit)) {
    error = "it is larger than 1 MiB";
  } else {
    text.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) {
      error = serial::WindowsErrorMessage(GetLastError());
    }
    text.resize(error.empty() ? got : 0);
  }
  CloseHandle(file);
  return error;
}

// Windows Error Reporting writes no dump of the process unless the user has set it up to;
// nothing to change.
void ForbidCoreDumps() {}

std::string AppendLine(const std::string& path, std::string_view line, bool make_directories) {
  const std::wstring wide_path = Widen(path);
  if (make_directories) {
    std::error_code error;
    const fs::path folder = fs::path(wide_path).parent_path();
    if (!folder.empty()) fs::create_directories(folder, error);
    if (error) return "cannot make " + folder.string() + ": " + error.message();
  }
  // Append access without write access: every write goes to the end of the file as one piece.
  // Read access only for the lock below.
  HANDLE file = CreateFileW(wide_path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return serial::WindowsErrorMessage(GetLastError());
  if (GetFileType(file) != FILE_TYPE_DISK) {  // a pipe, a console, a serial port
    CloseHandle(file);
    return kNotRegularFile;
  }
  // Writers also take turns on a lock of one byte far past any real end: not every
  // implementation of the Win32 API (wine) appends in one step, and the look at the last byte
  // below must see the end the write will go to.
  OVERLAPPED lock_place{};
  lock_place.Offset = 0xFFFFFFFE;
  lock_place.OffsetHigh = 0x7FFFFFFF;
  const BOOL locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock_place);
  std::string text;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
    OVERLAPPED last_place{};
    const ULONGLONG last_offset = static_cast<ULONGLONG>(size.QuadPart) - 1;
    last_place.Offset = static_cast<DWORD>(last_offset);
    last_place.OffsetHigh = static_cast<DWORD>(last_offset >> 32);
    char last = '\n';
    DWORD got = 0;
    if (ReadFile(file, &last, 1, &got, &last_place) && got == 1 && last != '\n') {
      text = "\n";  // the last line was left without its end: ours starts a line of its own
    }
  }
  text += line;
  DWORD written = 0;
  const BOOL wrote =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  const DWORD write_error = GetLastError();
  if (locked) UnlockFileEx(file, 0, 1, 0, &lock_place);
  const BOOL closed = CloseHandle(file);
  if (!wrote) return serial::WindowsErrorMessage(write_error);
  if (written != text.size()) return "short write";
  if (!closed) return serial::WindowsErrorMessage(GetLastError());
  return {};
}

}  // namespace tvx::app
