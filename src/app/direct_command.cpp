#include "app/commands.h"

#include <string>
#include <vector>

#include "app/cli_platform.h"
#include "app/line_console.h"
#include "console/format.h"
#include "console/stop_request.h"
#include "direct/direct_upload.h"

namespace tvx::app {
namespace {

int DirectStatus(direct::Outcome outcome) {
  switch (outcome) {
    case direct::Outcome::kComplete:
      return kExitComplete;
    case direct::Outcome::kChecksumError:
      return kExitChecksumError;
    case direct::Outcome::kRefused:
      return kExitRefused;
    case direct::Outcome::kPortNotOpened:
      return kExitPortNotOpened;
    case direct::Outcome::kStopped:
    case direct::Outcome::kQuit:
    case direct::Outcome::kInterrupted:
      break;
  }
  return kExitStopped;
}

std::string DirectSummary(const direct::Result& result, const std::string& device,
                          int retries_spent) {
  const std::string radio =
      result.serial_number ? "radio " + std::to_string(*result.serial_number) : "the radio";
  switch (result.outcome) {
    case direct::Outcome::kComplete: {
      std::string line = "Upload complete: " + radio + " accepted the checksum, " +
                         std::to_string(result.word_attempts) + " words in " +
                         Seconds(result.seconds) + ".";
      if (result.resent_words > 0) {
        line += ' ';
        line += std::to_string(result.resent_words);
        line += " resent words are not covered by the checksum.";
      }
      return line;
    }
    case direct::Outcome::kChecksumError:
      return "Upload failed: checksum error from " + radio +
             ". Upload again before using the radio.";
    case direct::Outcome::kRefused:
      return "Radio refused: not a Torvandrix radio, or its serial number is out of range.";
    case direct::Outcome::kPortNotOpened:
      return "The port " + device + " could not be opened.";
    case direct::Outcome::kInterrupted:
      return "Upload interrupted by " + SignalText() + " at word " +
             std::to_string(result.words_done) +
             ": the radio's firmware is incomplete; load it again.";
    case direct::Outcome::kStopped:
    case direct::Outcome::kQuit:
      break;
  }
  return std::string("Upload stopped before the end") +
         (retries_spent > 0 ? " (retries spent)" : "") + ": the radio's firmware is incomplete.";
}

}  // namespace

int RunDirectCommand(const CommandLine& command, serial::SerialPort& port,
                     serial::Priority& priority, job::Clock& clock, const ScriptedOutput& output,
                     ScriptedImage image) {
  LineConsole console(output.out, output.terminal, clock, command.retries, "words",
                      command.timeout_seconds);
  job::RunContext ctx(console, port, priority, clock);
  ctx.link.devices = PortBindings({});
  if (!command.port.empty()) ctx.link.port_name = command.port;
  ctx.monitor = &console;
  ctx.image = image.bytes;
  UploadLog log(command.log);

  // Port kind, "Radio in setup?" (always yes: the radio must be in set-up), high speed.
  console.TypeLines({command.data_port ? "N" : "Y", "Y", command.high_speed ? "Y" : "N"});
  const direct::Result result = direct::RunDirectUpload(ctx);
  LogEntry entry = DirectLogEntry(result);
  const int status = DirectStatus(result.outcome);
  const std::string summary =
      DirectSummary(result, ctx.link.DeviceOf(ctx.link.port_name), console.RetriesSpent());
  CompleteLogEntry(entry, ctx);
  console.WriteLine(summary);
  if (const std::string failure = log.Append(entry); !failure.empty()) {
    std::fprintf(output.err, "torvandrix-upload: %s\n", failure.c_str());
  }
  return console::ExitStatusAfterStop(status);
}

}  // namespace tvx::app
