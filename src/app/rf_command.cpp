#include "app/commands.h"

#include <string>
#include <vector>

#include "app/cli_platform.h"
#include "app/line_console.h"
#include "console/format.h"
#include "console/stop_request.h"
#include "rf/rf_upload.h"

namespace tvx::app {

int RunRfCommand(const CommandLine& command, serial::SerialPort& port, serial::Priority& priority,
                 job::Clock& clock, const ScriptedOutput& output, ScriptedImage image) {
  LineConsole console(output.out, output.terminal, clock, command.retries, "frames",
                      command.timeout_seconds);
  job::RunContext ctx(console, port, priority, clock);
  ctx.link.devices = PortBindings({});
  if (!command.port.empty()) ctx.link.port_name = command.port;
  ctx.monitor = &console;
  ctx.image = image.bytes;
  UploadLog log(command.log);

  console.TypeLines({"Y", std::to_string(command.copies), std::to_string(command.start),
                     std::to_string(command.passes)});
  const rf::Outcome outcome = rf::RunRfUpload(ctx);
  LogEntry entry = RfLogEntry(outcome);
  int status = kExitComplete;
  std::string summary;
  if (outcome.interrupted) {
    status = kExitStopped;
    summary = "Broadcast interrupted by " + SignalText() +
              (outcome.start == rf::Start::kBroadcast
                   ? " at record " + std::to_string(outcome.stop_record) + "."
                   : " before it began.");
  } else if (outcome.start == rf::Start::kPortNotOpened) {
    status = kExitPortNotOpened;
    summary = "The port " + ctx.link.DeviceOf(ctx.link.port_name) + " could not be opened.";
  } else {
    status =
        outcome.start == rf::Start::kBroadcast && !outcome.stopped ? kExitComplete : kExitStopped;
    summary = rf::OutcomeLine(outcome);
  }
  CompleteLogEntry(entry, ctx);
  console.WriteLine(summary);
  if (const std::string failure = log.Append(entry); !failure.empty()) {
    std::fprintf(output.err, "torvandrix-upload: %s\n", failure.c_str());
  }
  return console::ExitStatusAfterStop(status);
}

}  // namespace tvx::app
