// The direct sub-command: the options make the plan, the engine runs it with the policy
// operator, and the end is told in one outcome line (or its JSON record) and one log line.
#include <chrono>

#include "app/access_code_text.h"
#include "app/cli_platform.h"
#include "app/commands.h"
#include "app/direct_policy.h"
#include "app/direct_sentences.h"
#include "app/direct_uploads.h"
#include "app/line_report.h"
#include "app/printable_text.h"
#include "console/stop_request.h"
#include "direct/engine.h"
#include "job/error_state.h"
#include "job/random.h"
#include "job/run_context.h"

namespace tvx::app {

std::string ResolveDevice(const std::string& port,
                          const std::vector<std::pair<int, std::string>>& com_bindings) {
  // "Com1" to "Com9" are the menu's ports; anything else is a device.
  job::LinkSettings link;
  link.devices = PortBindings(com_bindings);
  return link.DeviceOf(port.empty() ? "Com1" : port);
}

DirectUploadRun RunOneDirectUpload(const CommandLine& command, const std::string& port,
                                   const UploadSlot& slot, LineSink& report, ScriptedImage image) {
  direct::Plan plan;
  plan.port_name = port.empty() ? "Com1" : port;  // as named: the log's "port"
  plan.device = ResolveDevice(port, command.com_bindings);
  plan.diag_port = !command.data_port;
  plan.high_speed = command.high_speed;
  if (command.access_code) plan.access_code = *command.access_code;

  DirectPolicy policy(report, *slot.clock, Printable(plan.device), command.retries,
                      command.timeout_seconds);
  job::ErrorState errors;
  job::Random random;
  const direct::Parts parts{*slot.port, errors, *slot.priority, *slot.clock, random, image.bytes};
  DirectUploadRun run;
  run.result = direct::RunEngine(plan, parts, policy);
  SecureWipe(plan.access_code.data(), plan.access_code.size());

  run.entry = DirectLogEntry(run.result);
  run.entry.port = plan.port_name;
  run.entry.device = plan.device;
  run.entry.image = IdentifyImage(image.bytes, image.source);
  run.entry.access_code = AccessCodeToken(command.access_code.has_value());
  run.record = FormatLogLine(run.entry, std::chrono::system_clock::now());
  run.outcome_line = DirectOutcomeLine(run.result, policy.Facts());
  run.status = DirectExitStatus(run.result);
  return run;
}

int RunDirectCommand(const CommandLine& command, serial::SerialPort& port,
                     serial::Priority& priority, job::Clock& clock, const ScriptedOutput& output,
                     ScriptedImage image) {
  LineReport report(LineOptionsFor(command, output), clock, "words");
  UploadLog log(command.log);
  const DirectUploadRun run =
      RunOneDirectUpload(command, command.port, {&port, &priority, &clock}, report, image);
  report.Outcome(run.outcome_line, run.record);
  if (const std::string failure = log.Append(run.record); !failure.empty()) {
    report.Error("torvandrix-upload: " + failure);
  }
  return console::ExitStatusAfterStop(run.status);
}

}  // namespace tvx::app
