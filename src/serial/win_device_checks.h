// What the Windows port backend asks of a device before and around opening it: whether it is
// plainly no serial port, whether another program claims it, whether an error means the device
// went away. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace tvx::serial {

/// Takes a mutex named after the device, machine-wide, into `claim`. False when another process
/// (or another port object) holds it already; where no such object can be made at all, true
/// with no claim.
bool ClaimDevice(const std::string& path, HANDLE& claim);

/// Closes `handle` unless it is null.
void CloseIfSet(HANDLE handle);

/// What `path` plainly is when it is no serial port ("a directory", "a pipe"), told without
/// opening it; null for anything else.
const char* NotAPortBeforeOpening(const std::string& path);

/// Whether `path` is a file on a disk, looked at through an open without access (which neither
/// reads nor writes it).
bool IsDiskFile(const std::string& path);

/// Whether a transfer's or query's error means the device went away or its other side is gone.
bool IsDeadLineError(DWORD error);

}  // namespace tvx::serial
