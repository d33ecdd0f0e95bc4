// torvandrix-upload: loads firmware into a Torvandrix 900 MHz radio over a serial port.
// Without a sub-command it runs full screen; "direct" and "rf" run one upload in line mode,
// "ports" lists the serial devices, "image" tells what an image holds; "--help" and "--version"
// print and exit. "Com1".."Com9" are bound to devices through TORVANDRIX_COM<N> or --com N=DEVICE.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/access_code_text.h"
#include "app/cli_platform.h"
#include "app/command_line.h"
#include "app/commands.h"
#include "app/direct_uploads.h"
#include "app/front_end.h"
#include "app/image_command.h"
#include "app/platform.h"
#include "app/serial_devices.h"
#include "app/session_log_file.h"
#include "app/setup_command.h"
#include "app/setup_terminal.h"
#include "app/upload_log.h"
#include "console/stop_request.h"
#include "job/clock.h"
#include "job/run_context.h"

namespace {

using namespace tvx;

// The full-screen program. Every way out leaves the screen first (the platform's destructor
// restores the terminal) and only then says why: nothing may be printed while the screen is up.
int RunMenu(const app::CommandLine& command) {
  app::UploadLog log(command.log);
  std::optional<app::SessionLogFile> session_log;
  if (!command.session_log.empty()) session_log.emplace(command.session_log);
  std::string error;
  bool error_is_usage = false;
  int status = 0;
  {
    console::SetStopAtOnce(false);  // the screen and the port are taken: a stop ends the job
    app::Platform platform = app::MakePlatform(error, error_is_usage);
    if (!platform.console) {
      status = error_is_usage ? app::kExitUsage : 1;
    } else {
      job::RunContext ctx(*platform.console, *platform.port, *platform.priority,
                          job::SystemClock());
      ctx.link.devices = app::PortBindings(command.com_bindings);
      const app::ChosenImage& image = command.image ? *command.image : app::BuiltInImage();
      ctx.image = image.Bytes();
      app::RunProgram(ctx, app::DefaultJobs(&log, command.access_code, &image,
                                            session_log ? &*session_log : nullptr));
      ctx.port.Close();
    }
  }
  if (status != 0) std::fprintf(stderr, "torvandrix-upload: %s\n", error.c_str());
  if (!log.Failure().empty())
    std::fprintf(stderr, "torvandrix-upload: %s\n", log.Failure().c_str());
  if (session_log && !session_log->Failure().empty())
    std::fprintf(stderr, "torvandrix-upload: %s\n", session_log->Failure().c_str());
  return status;
}

// One upload per --port, all at once: each its own port and priority.
int RunDirectUploads(const app::CommandLine& command, const app::ScriptedOutput& output) {
  std::vector<app::Platform> platforms;
  std::vector<app::UploadSlot> slots;
  for (std::size_t i = 0; i < command.ports.size(); ++i) {
    platforms.push_back(app::MakePortPlatform());
    slots.push_back(
        {platforms.back().port.get(), platforms.back().priority.get(), &job::SystemClock()});
  }
  return app::RunDirectUploads(command, slots, output, job::SystemClock(),
                               app::ScriptedImageOf(command));
}

int RunScripted(app::CommandLine& command) {
  // Neither --port nor a binding of Com1 (TORVANDRIX_COM1, --com 1=...): the one USB serial
  // adapter, else the list and status 2.
  bool com1_bound = app::PortBound(1);
  for (const auto& [number, device] : command.com_bindings) com1_bound |= number == 1;
  if (const auto status =
          app::ChooseDefaultPort(command, com1_bound, app::ListSerialDevices, stderr)) {
    return *status;
  }
  console::SetStopAtOnce(false);  // a job from here: a stop ends it at a safe point
  app::ScriptedOutput output;
  output.terminal = app::StdoutIsTerminal();
  output.err_terminal = app::StderrIsTerminal();
  if (command.action == app::CommandAction::kDirect && command.ports.size() > 1) {
    return RunDirectUploads(command, output);
  }
  app::Platform platform = app::MakePortPlatform();
  const int status =
      app::RunScriptedJob(command, *platform.port, *platform.priority, job::SystemClock(), output);
  platform.port->Close();
  return status;
}

// setup: the terminal to one radio, or a script run against every --port at once.
int RunSetup(app::CommandLine& command) {
  bool com1_bound = app::PortBound(1);
  for (const auto& [number, device] : command.com_bindings) com1_bound |= number == 1;
  if (command.ports.empty()) {
    if (const auto status =
            app::ChooseDefaultPort(command, com1_bound, app::ListSerialDevices, stderr)) {
      return *status;
    }
  }
  if (!command.setup.Scripted()) return app::RunSetupTerminal(command);
  console::SetStopAtOnce(false);  // a run from here: a stop ends it with its outcome told
  app::ScriptedOutput output;
  output.terminal = app::StdoutIsTerminal();
  output.err_terminal = app::StderrIsTerminal();
  std::vector<app::Platform> platforms;
  std::vector<app::UploadSlot> slots;
  for (std::size_t i = 0; i < std::max<std::size_t>(1, command.ports.size()); ++i) {
    platforms.push_back(app::MakePortPlatform());
    slots.push_back(
        {platforms.back().port.get(), platforms.back().priority.get(), &job::SystemClock()});
  }
  return app::RunSetupScripts(command, slots, output, job::SystemClock());
}

// What the command line asks for, done: its exit status.
int Run(app::CommandLine& command) {
  try {
    switch (command.action) {
      case app::CommandAction::kHelp:
      case app::CommandAction::kVersion:
        std::fputs(command.text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
      case app::CommandAction::kUsageError:
        std::fputs(command.text.c_str(), stderr);
        return app::kExitUsage;
      case app::CommandAction::kImage:
        return app::RunImageCommand(command, stdout, stderr);
      case app::CommandAction::kPorts:
        return console::ExitStatusAfterStop(
            app::ListPorts(command, stdout, app::ListSerialDevices));
      case app::CommandAction::kDirect:
      case app::CommandAction::kRf:
        return RunScripted(command);  // 128 + the signal after a stop, as it says
      case app::CommandAction::kSetup:
        return RunSetup(command);
      case app::CommandAction::kMenu:
        return console::ExitStatusAfterStop(RunMenu(command));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "torvandrix-upload: internal error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "torvandrix-upload: internal error\n");
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Descriptors 0 to 2 taken (so that no port or file is ever handed one of them), SIGPIPE and
  // SIGXFSZ ignored: first of all.
  app::PrepareProcess();
  // Before any port or file is opened: a signal ends the program at once while it starts, and
  // from the job on ends the job at a safe point, with the port closed, the log written and
  // the terminal given back.
  console::InstallStopHandlers();
  console::SetStopAtOnce(true);
  // An access code or a secret step given as an argument leaves the process list (what the
  // arguments held is parsed from a copy), and no core dump holds either.
  std::vector<std::string> args(argv, argv + argc);
  const char* variable = std::getenv("TORVANDRIX_ACCESS_CODE");
  if (app::WipeSecretArguments(argc, argv) || variable != nullptr) app::ForbidCoreDumps();
  // Decided before the terminal is taken over, the configuration file and the access code
  // variable included.
  app::ParseSettings settings;
  settings.config_file = app::DefaultConfigPath();
  settings.read_file = app::ReadSettingsFile;
  if (variable != nullptr) settings.access_code_variable = variable;
  std::vector<const char*> arg_texts;
  for (const std::string& arg : args) arg_texts.push_back(arg.c_str());
  app::CommandLine command = app::ParseCommandLine(
      static_cast<int>(arg_texts.size()), arg_texts.data(), app::PlatformHelpWording(), settings);
  for (std::string& arg : args) app::SecureWipe(arg);
  app::SecureWipe(settings.access_code_variable);
  if (command.access_code) app::ForbidCoreDumps();  // from the file
  const int status = Run(command);
  if (command.access_code)
    app::SecureWipe(command.access_code->data(), command.access_code->size());
  return status;
}
