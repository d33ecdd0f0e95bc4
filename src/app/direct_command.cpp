// The direct sub-command: the options make the plan, the engine runs it with the policy
// operator, and the end is told in one outcome line (or its JSON record) and one log line.
#include <chrono>

#include "app/cli_platform.h"
#include "app/commands.h"
#include "app/direct_policy.h"
#include "app/direct_sentences.h"
#include "app/line_report.h"
#include "app/printable_text.h"
#include "console/stop_request.h"
#include "direct/engine.h"
#include "job/error_state.h"
#include "job/random.h"
#include "job/run_context.h"

namespace tvx::app {

int RunDirectCommand(const CommandLine& command, serial::SerialPort& port,
                     serial::Priority& priority, job::Clock& clock, const ScriptedOutput& output,
                     ScriptedImage image) {
  LineReport report(LineOptionsFor(command, output), clock, "words");

  // "Com1" to "Com9" are the menu's ports; anything else is a device.
  job::LinkSettings link;
  link.devices = PortBindings(command.com_bindings);
  direct::Plan plan;
  plan.device = link.DeviceOf(command.port.empty() ? "Com1" : command.port);
  plan.port_name = plan.device;  // only the menu names a port "ComN"
  plan.diag_port = !command.data_port;
  plan.high_speed = command.high_speed;
  if (command.access_code) plan.access_code = *command.access_code;

  DirectPolicy policy(report, clock, PrintableText(plan.device), command.retries,
                      command.timeout_seconds);
  job::ErrorState errors;
  job::Random random;
  const direct::Parts parts{port, errors, priority, clock, random, image.bytes};
  UploadLog log(command.log);
  const direct::Result result = direct::RunEngine(plan, parts, policy);

  LogEntry entry = DirectLogEntry(result);
  entry.port = plan.port_name;
  entry.device = plan.device;
  entry.image = IdentifyImage(image.bytes);
  entry.access_code = AccessCodeToken(command.access_code.has_value());
  report.Outcome(DirectOutcomeLine(result, policy.Facts()),
                 FormatLogLine(entry, std::chrono::system_clock::now()));
  if (const std::string failure = log.Append(entry); !failure.empty()) {
    report.Error("torvandrix-upload: " + failure);
  }
  return console::ExitStatusAfterStop(DirectExitStatus(result));
}

}  // namespace tvx::app
