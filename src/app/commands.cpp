#include "app/commands.h"

#include <string>

#include "app/cli_platform.h"
#include "console/format.h"
#include "console/stop_request.h"

namespace tvx::app {

std::string SignalText() {
  return "signal " + std::to_string(console::ProcessStopRequest().Signal());
}

std::string Seconds(double seconds) {
  std::string text = console::FormatPicture("##.##", seconds);
  text.erase(0, text.find_first_not_of(' '));
  return text + " s";
}

void CompleteLogEntry(LogEntry& entry, const job::RunContext& ctx,
                      const std::string& image_source) {
  entry.port = ctx.link.port_name;
  entry.device = ctx.link.DeviceOf(ctx.link.port_name);
  entry.image = IdentifyImage(ctx.image, image_source);
}

ScriptedImage ScriptedImageOf(const CommandLine& command) {
  if (!command.image) return {};
  return {command.image->Bytes(), command.image->Source()};
}

LineOptions LineOptionsFor(const CommandLine& command, const ScriptedOutput& output) {
  LineOptions options;
  options.out = output.out;
  options.err = output.err;
  options.bar = output.err_terminal;
  options.quiet = command.quiet;
  options.json = command.json;
  if (output.err_terminal) options.columns = StderrColumns;
  return options;
}

int RunScriptedJob(const CommandLine& command, serial::SerialPort& port, serial::Priority& priority,
                   job::Clock& clock, const ScriptedOutput& output) {
  return RunScriptedJob(command, port, priority, clock, output, ScriptedImageOf(command));
}

int RunScriptedJob(const CommandLine& command, serial::SerialPort& port, serial::Priority& priority,
                   job::Clock& clock, const ScriptedOutput& output, ScriptedImage image) {
  if (command.action == CommandAction::kDirect) {
    return RunDirectCommand(command, port, priority, clock, output, image);
  }
  return RunRfCommand(command, port, priority, clock, output, image);
}

}  // namespace tvx::app
