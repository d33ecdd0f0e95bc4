// The setup sub-command's scripted form: the same steps against every --port at the same time,
// each radio on its own thread and port with its own outcome. With one port the radio's text
// goes to standard output as it comes (not with --quiet or --json); with several, one live line
// per port on a terminal (plain lines without one) on standard error. At the end one outcome
// line (or --json record) per port, one upload-log line per port, and the most serious status.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/direct_uploads.h"
#include "job/clock.h"
#include "terminal/setup_run.h"

namespace tvx::app {

/// The steps of `command` (--script read and parsed here) with every pattern compiled once to
/// check it. Returns a usage error (one sentence), empty on success.
std::string TakeSetupSteps(const CommandLine& command, std::vector<terminal::Step>& steps);

/// The log entry of one run of the script (port and device filled in by the caller).
LogEntry SetupLogEntry(const terminal::SetupResult& result,
                       const std::vector<terminal::Step>& steps);

/// The program's status for one run: 0 complete, 3 stopped (time-out, dead line), 5 port not
/// opened, 2 for a pattern that did not compile; 3 when interrupted (the caller makes it 128 +
/// N).
int SetupExitStatus(terminal::SetupOutcome outcome);

/// Runs the scripted form on `slots` (one per port of `command.ports`, in order; one at least)
/// and returns the program's status (128 + N after a stop request). Blocks until every run
/// has ended.
int RunSetupScripts(const CommandLine& command, std::span<const UploadSlot> slots,
                    const ScriptedOutput& output, job::Clock& board_clock);

}  // namespace tvx::app
