// torvandrix-upload: loads firmware into a Torvandrix 900 MHz radio over a serial port.
// Runs full screen without arguments; "--help" and "--version" print and exit.
// "Com1".."Com9" are bound to devices through TORVANDRIX_COM<N>.
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/front_end.h"
#include "app/platform.h"
#include "job/clock.h"
#include "job/run_context.h"

int main(int argc, char** argv) {
  using namespace tvx;
  // Decided before the terminal is taken over: nothing may be printed while the screen is up.
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const app::CommandLine command = app::ParseCommandLine(arguments);
  switch (command.action) {
    case app::CommandAction::kHelp:
    case app::CommandAction::kVersion:
      std::fputs(command.text.c_str(), stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    case app::CommandAction::kUsageError:
      std::fputs(command.text.c_str(), stderr);
      return 2;
    case app::CommandAction::kRun:
      break;
  }
  std::string error;
  bool error_is_usage = false;
  int status = 0;
  // Every way out leaves the screen first (the platform's destructor restores the terminal) and
  // only then says why; an exception escaping main would print while the screen is still up.
  try {
    app::Platform platform = app::MakePlatform(error, error_is_usage);
    if (!platform.console) {
      status = error_is_usage ? 2 : 1;
    } else {
      job::RunContext ctx(*platform.console, *platform.port, *platform.priority,
                          job::SystemClock());
      app::RunProgram(ctx, app::DefaultJobs());
      ctx.port.Close();
    }
  } catch (const std::exception& e) {
    error = std::string("internal error: ") + e.what();
    status = 1;
  } catch (...) {
    error = "internal error";
    status = 1;
  }
  if (status != 0) std::fprintf(stderr, "torvandrix-upload: %s\n", error.c_str());
  return status;
}
