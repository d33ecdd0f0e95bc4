#include "app/commands.h"

#include <string>
#include <vector>

#include "app/cli_platform.h"
#include "app/line_console.h"
#include "console/format.h"
#include "console/stop_request.h"
#include "direct/direct_upload.h"
#include "rf/rf_upload.h"

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

std::string SignalText() {
  return "signal " + std::to_string(console::ProcessStopRequest().Signal());
}

std::string Seconds(double seconds) {
  std::string text = console::FormatPicture("##.##", seconds);
  text.erase(0, text.find_first_not_of(' '));
  return text + " s";
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

void CompleteLogEntry(LogEntry& entry, const job::RunContext& ctx) {
  entry.port = ctx.link.port_name;
  entry.device = ctx.link.DeviceOf(ctx.link.port_name);
  entry.image = IdentifyImage(ctx.image);
}

int RunScriptedJob(const CommandLine& command, serial::SerialPort& port, serial::Priority& priority,
                   job::Clock& clock, const ScriptedOutput& output, ScriptedImage image) {
  const bool direct_job = command.action == CommandAction::kDirect;
  LineConsole console(output.out, output.terminal, clock, command.retries,
                      direct_job ? "words" : "frames", command.timeout_seconds);
  job::RunContext ctx(console, port, priority, clock);
  ctx.link.devices = PortBindings({});
  if (!command.port.empty()) ctx.link.port_name = command.port;
  ctx.monitor = &console;
  ctx.image = image.bytes;
  UploadLog log(command.log);

  LogEntry entry;
  int status = kExitComplete;
  std::string summary;
  if (direct_job) {
    // Port kind, "Radio in setup?" (always yes: the radio must be in set-up), high speed.
    console.TypeLines({command.data_port ? "N" : "Y", "Y", command.high_speed ? "Y" : "N"});
    const direct::Result result = direct::RunDirectUpload(ctx);
    entry = DirectLogEntry(result);
    status = DirectStatus(result.outcome);
    summary = DirectSummary(result, ctx.link.DeviceOf(ctx.link.port_name), console.RetriesSpent());
  } else {
    console.TypeLines({"Y", std::to_string(command.copies), std::to_string(command.start),
                       std::to_string(command.passes)});
    const rf::Outcome outcome = rf::RunRfUpload(ctx);
    entry = RfLogEntry(outcome);
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
  }
  CompleteLogEntry(entry, ctx);
  console.WriteLine(summary);
  if (const std::string failure = log.Append(entry); !failure.empty()) {
    std::fprintf(output.err, "torvandrix-upload: %s\n", failure.c_str());
  }
  return console::ExitStatusAfterStop(status);
}

int ListPorts(std::FILE* out) {
  for (const SerialDevice& device : ListSerialDevices()) {
    std::string line =
        device.device + "  " + (device.stable_name.empty() ? std::string("-") : device.stable_name);
    if (!device.description.empty()) line += "  " + device.description;
    std::fprintf(out, "%s\n", line.c_str());
  }
  return std::fflush(out) == 0 ? 0 : 1;
}

}  // namespace tvx::app
