// The sub-commands that run one scripted job in line mode ("direct", "rf"); the list of serial
// devices ("ports") is in serial_devices.h. Each returns the program's exit status.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "app/command_line.h"
#include "app/line_report.h"
#include "app/upload_log.h"
#include "image/firmware_image.h"
#include "job/clock.h"
#include "job/run_context.h"
#include "serial/priority.h"
#include "serial/serial_port.h"

namespace tvx::app {

/// Where a scripted job writes: its lines to `out` (a progress bar when `terminal`), the
/// failure to write the log to `err`.
struct ScriptedOutput {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool terminal = false;
  /// `err` is a terminal: the line mode's progress bar is drawn there.
  bool err_terminal = false;
};

/// The image the scripted jobs send: the built-in one unless --image chose a file; tests give a
/// smaller one.
struct ScriptedImage {
  std::span<const std::uint8_t> bytes = image::FirmwareImage();
  std::string source = "built_in";  ///< as the log records it: "built_in" or the file's path
};

/// The image `command` chose (its --image), as the scripted jobs take it.
ScriptedImage ScriptedImageOf(const CommandLine& command);

/// Runs the job of a kDirect or kRf command on `port` with the line-mode console: answers its
/// questions from the options, logs the outcome, writes the summary line. With --port the
/// device is bound to "Com1" first. Blocks until the job ends, or until a stop request ended it
/// at its next safe point (its summary and log line say so; the status is then 128 + the
/// signal).
int RunScriptedJob(const CommandLine& command, serial::SerialPort& port, serial::Priority& priority,
                   job::Clock& clock, const ScriptedOutput& output, ScriptedImage image);
/// The same with the image the command chose (ScriptedImageOf).
int RunScriptedJob(const CommandLine& command, serial::SerialPort& port, serial::Priority& priority,
                   job::Clock& clock, const ScriptedOutput& output);

/// The two halves of RunScriptedJob, one per job (same contract).
int RunDirectCommand(const CommandLine& command, serial::SerialPort& port,
                     serial::Priority& priority, job::Clock& clock, const ScriptedOutput& output,
                     ScriptedImage image);
int RunRfCommand(const CommandLine& command, serial::SerialPort& port, serial::Priority& priority,
                 job::Clock& clock, const ScriptedOutput& output, ScriptedImage image);

/// Where and how much a sub-command tells: its streams, the bar on a terminal (fitted to its
/// width), --quiet and --json.
LineOptions LineOptionsFor(const CommandLine& command, const ScriptedOutput& output);

/// "signal N" for the stop request that ended a job.
std::string SignalText();
/// Seconds as the summaries show them: "12.34 s".
std::string Seconds(double seconds);

/// Fills in what every log entry takes from the run: port, device and image (whose source is
/// `image_source`).
void CompleteLogEntry(LogEntry& entry, const job::RunContext& ctx, const std::string& image_source);

}  // namespace tvx::app
