#include <chrono>
#include <string>

#include "app/cli_platform.h"
#include "app/commands.h"
#include "app/line_report.h"
#include "app/printable_text.h"
#include "app/rf_policy.h"
#include "app/rf_sentences.h"
#include "console/stop_request.h"
#include "job/line.h"
#include "job/random.h"
#include "rf/engine.h"

namespace tvx::app {

int RunRfCommand(const CommandLine& command, serial::SerialPort& port, serial::Priority& priority,
                 job::Clock& clock, const ScriptedOutput& output, ScriptedImage image) {
  // "--port Com3" is the menu's Com3: its binding, else its default device.
  job::LinkSettings link;
  link.devices = PortBindings(command.com_bindings);
  rf::Plan plan;
  plan.port_name = command.port.empty() ? link.port_name : command.port;
  plan.device = link.DeviceOf(plan.port_name);
  plan.copies = command.copies;
  plan.start_record = command.start;
  plan.passes = command.passes;

  LineReport report(LineOptionsFor(command, output), clock, "frames");
  UploadLog log(command.log);

  job::ErrorState errors;
  job::Line line(port, errors);
  job::Random random;  // as unseeded as the menu's at its first RF upload
  image::RecordBuffer buffer{};
  RfPolicy policy(report, clock, command.timeout_seconds);
  const rf::Outcome outcome =
      rf::RunBroadcast(plan, {line, priority, clock, random, image.bytes, buffer}, policy);

  LogEntry entry = RfLogEntry(outcome);
  entry.port = plan.port_name;
  entry.device = plan.device;
  entry.image = IdentifyImage(image.bytes, image.source);

  RfFacts facts;
  facts.port = Printable(plan.port_name);
  facts.device = Printable(plan.device);
  facts.copies = plan.copies;
  if (image.source != BuiltInImage().Source()) facts.image = Printable(image.source);
  facts.signal = console::ProcessStopRequest().Signal();
  facts.waited_seconds = policy.WaitedSeconds();
  facts.bytes_back = policy.BytesBack();
  facts.corrupt_echoes = policy.CorruptEchoes();
  if (const std::string why = RfEndSentence(outcome, facts, PortPermissionHint()); !why.empty()) {
    report.Error(why);
  }
  // One record, stamped once: the log's line and --json's.
  const std::string record = FormatLogLine(entry, std::chrono::system_clock::now());
  report.Outcome(RfOutcomeLine(outcome, facts), record);
  if (const std::string failure = log.Append(record); !failure.empty()) {
    report.Error("torvandrix-upload: " + failure);
  }
  return console::ExitStatusAfterStop(RfExitStatus(outcome));
}

}  // namespace tvx::app
