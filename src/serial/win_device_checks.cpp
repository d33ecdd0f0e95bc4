// What the Windows port backend asks of a device before and around opening it.
#include "serial/win_device_checks.h"

#include <string_view>

namespace tvx::serial {

// Takes a mutex named after the device, machine-wide, into `claim`. False when another process
// (or another port object) holds it already; where no such object can be made at all, true with
// no claim.
bool ClaimDevice(const std::string& path, HANDLE& claim) {
  std::string name = "Global\\torvandrix-upload-port-";
  for (char c : path) name += c == '\\' ? '/' : c;  // a backslash would name a namespace
  claim = CreateMutexA(nullptr, FALSE, name.c_str());
  if (claim != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(claim);
    claim = nullptr;
    return false;
  }
  return true;
}

void CloseIfSet(HANDLE handle) {
  if (handle != nullptr) CloseHandle(handle);
}

// What `path` plainly is when it is no serial port, told without opening it: a folder, or a
// named pipe (whose server an open would take for a client). Null for anything else.
const char* NotAPortBeforeOpening(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return "a directory";
  }
  constexpr std::string_view kPipes = "\\\\.\\pipe\\";
  if (path.size() > kPipes.size() &&
      CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.data(),
                     static_cast<int>(kPipes.size()), kPipes.data(),
                     static_cast<int>(kPipes.size())) == CSTR_EQUAL) {
    return "a pipe";
  }
  return nullptr;
}

// Whether `path` is a file on a disk, looked at through an open without access, which neither
// reads nor writes it. Asked only after an open was refused for want of access.
bool IsDiskFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool disk = GetFileType(file) == FILE_TYPE_DISK;
  CloseHandle(file);
  return disk;
}

// Errors of a transfer or query on a port whose device went away (an adapter pulled out) or
// whose other side is gone.
bool IsDeadLineError(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_OPERATION_ABORTED:
    case ERROR_HANDLE_EOF:
    case ERROR_BROKEN_PIPE:
    case ERROR_IO_DEVICE:
      return true;
    default:
      return false;
  }
}

}  // namespace tvx::serial
