// The direct sub-command with more than one --port: one upload per port, all at the same time,
// each on a thread of its own with its own engine, port, priority, clock and policy operator.
// What they tell shares one place on standard error (live lines on a terminal, plain lines
// each starting with the device without one); at the end, one outcome line (or JSON record)
// per port on standard output, in the order the ports were given, and one log line per upload.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/line_report.h"
#include "app/upload_log.h"
#include "direct/result.h"
#include "job/clock.h"
#include "serial/priority.h"
#include "serial/serial_port.h"

namespace tvx::app {

/// What one upload runs on; none of it is shared with another upload.
struct UploadSlot {
  serial::SerialPort* port = nullptr;
  serial::Priority* priority = nullptr;
  job::Clock* clock = nullptr;
};

/// How one direct upload of the sub-command ended.
struct DirectUploadRun {
  direct::Result result;
  LogEntry entry;            ///< port, device and image filled in
  std::string record;        ///< the entry stamped as it ended: the log's line and --json's
  std::string outcome_line;  ///< no line end
  int status = 0;            ///< before a stop request's 128 + N
};

/// The device that --port `port` opens: "Com1" to "Com9" as the environment binds them
/// (empty: "Com1"), anything else as given: `com_bindings` (--com or the configuration file)
/// first, then the environment.
std::string ResolveDevice(const std::string& port,
                          const std::vector<std::pair<int, std::string>>& com_bindings);

/// One direct upload through what --port named (`port`; empty: Com1) as the sub-command's
/// options say, told to `report`; returns how it ended, its record stamped with the time it
/// ended. Writes no outcome and no log. Blocks until the upload ends; runs on any thread,
/// touching nothing beyond `slot`, `report` and the process's stop request.
DirectUploadRun RunOneDirectUpload(const CommandLine& command, const std::string& port,
                                   const UploadSlot& slot, LineSink& report, ScriptedImage image);

/// The status of several uploads together: 0 when every one is 0, else the most serious of
/// them in the order 5 (port not opened), 4 (refused), 3 (stopped), 1 (checksum error), 6
/// (resent words).
int CombinedExitStatus(std::span<const int> statuses);

/// Runs one upload per port of `command.ports` (more than one) on `slots` (one each, in the
/// same order; a port without a slot is left out) at the same time, and returns the program's
/// status: CombinedExitStatus, or 128
/// + N after a stop request (every upload then ends at its next safe point, logged
/// "interrupted"). Two ports that are the same device are a usage error (status 2, nothing
/// opened). Each upload's log line is written as it ends; one the log refuses is tried again
/// once every upload has ended (their ports closed), and one still refused is told on standard
/// error. `board_clock` paces the live lines' redraw (read from every upload's thread).
/// Blocks until every upload has ended.
int RunDirectUploads(const CommandLine& command, std::span<const UploadSlot> slots,
                     const ScriptedOutput& output, job::Clock& board_clock,
                     ScriptedImage image = {});

}  // namespace tvx::app
