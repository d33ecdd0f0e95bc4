#include "app/setup_terminal.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "app/cli_platform.h"
#include "app/direct_uploads.h"
#include "app/platform.h"
#include "app/printable_text.h"
#include "app/serial_devices.h"
#include "app/session_log_file.h"
#include "console/plain_terminal.h"
#include "console/stop_request.h"
#include "job/clock.h"
#include "terminal/plain_session.h"

namespace tvx::app {

int RunSetupTerminal(const CommandLine& command) {
  if (!StdinIsTerminal()) {
    std::fputs(
        "torvandrix-upload: setup without steps is a terminal and needs one on standard input; "
        "a script gives its steps with --send, --expect or --script\n"
        "see 'torvandrix-upload setup --help'\n",
        stderr);
    return kExitUsage;
  }
  const std::string device = ResolveDevice(command.port, command.com_bindings);
  Platform platform = MakePortPlatform();
  terminal::SetupLink link(*platform.port);
  console::SetStopAtOnce(false);
  const job::OpenResult opened = link.Open(device, command.setup.baud);
  if (!opened.ok()) {
    std::fprintf(stderr, "torvandrix-upload: %s: the port did not open%s%s\n",
                 PrintableText(device).c_str(), opened.reason.empty() ? "" : ": ",
                 PrintableText(opened.reason).c_str());
    return console::ExitStatusAfterStop(kExitPortNotOpened);
  }
  std::string error;
  std::unique_ptr<console::PlainTerminal> user = console::OpenPlainTerminal(error);
  if (!user) {
    link.Close();
    std::fprintf(stderr,
                 "torvandrix-upload: %s; the scripted form (--send, --expect, --script) works "
                 "without one\n",
                 error.c_str());
    return kExitUsage;
  }
  std::optional<SessionLogFile> file;
  std::string log_failure;
  if (!command.setup.session_log.empty()) file.emplace(command.setup.session_log);
  terminal::SessionLog session([&](std::string_view line) {
    if (std::string failure = file->Append(line); !failure.empty()) log_failure = failure;
  });
  char rate[16];
  std::snprintf(rate, sizeof rate, "%u", command.setup.baud);
  user->Write("Connected to " + PrintableText(device) + " at " + rate + " bit/s; Q or q leaves.\n");
  // A pulled adapter is waited for under the name it comes back with.
  terminal::Reconnect replug(job::SystemClock(), StableDeviceName(device));
  const std::uint32_t baud = command.setup.baud;
  terminal::RunPlainSession(
      {link, *user, file ? &session : nullptr,
       [] { return console::ProcessStopRequest().Requested(); }, &replug,
       [&link, baud](const std::string& again) { return link.Open(again, baud).ok(); }});
  if (file) session.Flush();
  link.Close();
  user->Write("\n");
  user.reset();  // the user's terminal as it was
  if (!log_failure.empty()) {
    std::fprintf(stderr, "torvandrix-upload: %s\n", PrintableText(log_failure).c_str());
  }
  return console::ExitStatusAfterStop(kExitComplete);
}

}  // namespace tvx::app
