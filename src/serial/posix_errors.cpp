#include "serial/posix_errors.h"

#include <cerrno>
#include <cstring>

namespace tvx::serial {
namespace {

// strerror_r comes in two forms: the GNU one returns the text, the XSI one fills the buffer.
[[maybe_unused]] const char* TextOf(const char* text, const char*) {
  return text;
}
[[maybe_unused]] const char* TextOf(int result, const char* buffer) {
  return result == 0 ? buffer : "unknown error";
}

// Numbers the program shows for file-level failures that have no named constant elsewhere.
constexpr ErrorNumber kErrTooManyFiles = 67;
constexpr ErrorNumber kErrDiskFull = 61;
constexpr ErrorNumber kErrAccessFailed = 75;  // the catch-all of the table
constexpr ErrorNumber kErrPathNotFound = 76;

struct ErrnoEntry {
  int errno_value;
  ErrorNumber number;
};

// The one table from errno to error number. A device node without hardware behind it (ENXIO,
// ENODEV, or EIO from opening a ttyS<n> with no UART) is a port that does not exist, like a
// missing node. "In use" covers a refused exclusive open (EBUSY) and a lock held elsewhere
// (EWOULDBLOCK from flock); a permission error is the system refusing (75), which another
// program closing the port would not mend.
constexpr ErrnoEntry kErrnoTable[] = {
    {ENOENT, kErrNoSuchPort},        {ENXIO, kErrNoSuchPort},     {ENODEV, kErrNoSuchPort},
    {EIO, kErrNoSuchPort},           {ENOTDIR, kErrPathNotFound}, {ELOOP, kErrPathNotFound},
    {EACCES, kErrAccessFailed},      {EPERM, kErrAccessFailed},   {EBUSY, kErrAccessDenied},
    {EWOULDBLOCK, kErrAccessDenied}, {EROFS, kErrAccessDenied},   {ETXTBSY, kErrAccessDenied},
    {ENOMEM, kErrOutOfMemory},       {ENOBUFS, kErrOutOfMemory},  {EMFILE, kErrTooManyFiles},
    {ENFILE, kErrTooManyFiles},      {EBADF, kErrInternal},       {ENOSPC, kErrDiskFull},
    {ENOTTY, kErrAccessFailed},      {EINVAL, kErrAccessFailed},  {ENAMETOOLONG, kErrAccessFailed},
};

}  // namespace

ErrorNumber ErrorFromErrno(int errno_value) {
  if (errno_value == 0) return kErrInternal;  // a failure that gave no number
  for (const ErrnoEntry& entry : kErrnoTable) {
    if (entry.errno_value == errno_value) return entry.number;
  }
  return kErrAccessFailed;
}

std::string ErrnoText(int errno_value) {
  char buffer[128] = "";
  return TextOf(strerror_r(errno_value, buffer, sizeof buffer), buffer);
}

}  // namespace tvx::serial
