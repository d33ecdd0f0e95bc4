// torvandrix-upload: loads firmware into a Torvandrix 900 MHz radio over a serial port.
// Takes no arguments; "Com1".."Com9" are bound to devices through TORVANDRIX_COM<N>.
#include <cstdio>
#include <exception>
#include <string>

#include "app/clock.h"
#include "app/front_end.h"
#include "app/platform.h"
#include "app/run_context.h"

int main() {
  using namespace tvx;
  std::string error;
  bool error_is_usage = false;
  int status = 0;
  {
    app::Platform platform = app::MakePlatform(error, error_is_usage);
    if (!platform.console) {
      std::fprintf(stderr, "torvandrix-upload: %s\n", error.c_str());
      return error_is_usage ? 2 : 1;
    }
    try {
      app::RunContext ctx(*platform.console, *platform.port, *platform.priority,
                          app::SystemClock());
      app::RunProgram(ctx, app::DefaultJobs());
      ctx.port.Close();
    } catch (const std::exception& e) {
      // Leave the screen first (the platform's destructor restores the terminal), then say why.
      error = e.what();
      status = 1;
    }
  }
  if (status != 0) std::fprintf(stderr, "torvandrix-upload: internal error: %s\n", error.c_str());
  return status;
}
