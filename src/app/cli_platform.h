// What the command-line forms need from the operating system beyond the console and the port:
// the help's words for devices, the terminal test for the line-mode output, binding a port name
// to a device, and appending to the upload log. One
// implementation per platform (posix_cli_platform.cpp, win_cli_platform.cpp). The serial
// devices of the machine are in serial_devices.h.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/command_line.h"

namespace tvx::app {

/// Called first in main, before anything is opened. On POSIX: a standard descriptor (0, 1, 2)
/// that is closed is opened on /dev/null, so that no later open (the port, the log) is handed
/// one of them and gets the program's text written into it; SIGPIPE and SIGXFSZ are ignored, so
/// that a closed pipe or a file size limit makes a write fail instead of ending an upload.
/// On Windows it does nothing (a missing standard handle is never reused for a port).
void PrepareProcess();

/// How the help names this platform's serial devices, log place and window.
HelpWording PlatformHelpWording();

/// Whether standard input is a terminal (the interactive setup reads keys from it).
bool StdinIsTerminal();
/// Whether standard output is a terminal.
bool StdoutIsTerminal();
/// Whether standard error is a terminal (the line mode draws its progress bar there only then).
bool StderrIsTerminal();
/// The width in columns of the terminal standard error shows on now; 0 when it is none or
/// cannot tell. Cheap enough to ask at every redraw (that is how a resize is followed).
int StderrColumns();

/// The device behind each of "Com1" (index 0) to "Com9" on this machine: the binding in
/// `bindings` (--com N=DEVICE, the last one for a number wins), else the environment variable
/// TORVANDRIX_COM<N> when set and not empty, else the platform's default device for ComN.
std::array<std::string, 9> PortBindings(const std::vector<std::pair<int, std::string>>& bindings);

/// What to do when the system refuses to open a serial device for want of permission (code
/// 75), as a sentence: on Linux, join the group that owns the serial devices.
std::string_view PortPermissionHint();

/// Whether the environment binds ComN (1 to 9): TORVANDRIX_COM<N> is set and not empty.
bool PortBound(int n);

/// Whether the device names `a` and `b` open the same device: the same name, or on POSIX the
/// same file (a symbolic link and its target, st_dev and st_ino) or the same device node
/// (st_rdev); on Windows the same name in any case, with or without the device prefix. Names
/// that do not exist are compared as given. Serial servers' ports ("rfc2217://HOST:PORT") are
/// the same when their hosts are, in any case, and their port numbers.
bool SameDevice(const std::string& a, const std::string& b);

/// The upload log's place when neither --log nor TORVANDRIX_LOG names one; empty when none
/// can be found.
std::string DefaultLogPath();

/// The configuration file's place when --config names none: $XDG_CONFIG_HOME/torvandrix-upload/
/// config (~/.config/... without it) on POSIX, %APPDATA%\torvandrix-upload\config on Windows;
/// empty when none can be found. Whether a file is there is not asked.
std::string DefaultConfigPath();

/// The largest configuration file ReadSettingsFile reads, in bytes.
inline constexpr std::size_t kSettingsFileLimit = 1 << 20;

/// Reads the configuration file at `path` into `text`, never waiting: only a regular file of at
/// most kSettingsFileLimit bytes is read, and anything else (a FIFO, a device, a folder) is not
/// even opened. Returns an empty text, or why the file cannot be read (the system's reason, or
/// what the path is), with `absent` set when nothing is at `path`.
std::string ReadSettingsFile(const std::string& path, std::string& text, bool& absent);

/// From now on the process leaves no core dump, which would hold a supplied access code: the
/// core size limit is 0 and, on Linux, the process is not dumpable (which also keeps the user's
/// other programs from reading its memory). Nothing on Windows. Idempotent.
void ForbidCoreDumps();

/// What AppendLine answers for a path that is not a regular file.
inline constexpr const char* kNotRegularFile = "it is not a regular file";

/// Appends `line` (a whole line with its line end) to the file at `path` with one write in
/// append mode, creating the file (and, when `make_directories`, its folders). The line starts
/// a line of its own: after a file whose last byte is not a line end, a line end goes first.
/// Only a regular file is written; anything else (a FIFO, a device, a folder) is left alone,
/// and opening never waits. Two programs appending at once never mix their lines. A file size
/// limit that the line would pass makes it fail without writing. Returns an empty text, or why
/// it failed (kNotRegularFile for a path that is not a regular file).
std::string AppendLine(const std::string& path, std::string_view line, bool make_directories);

}  // namespace tvx::app
