// The stop signals on POSIX, each in a child process of its own (the handlers are the
// process's): every signal whose default ends a program becomes a stop request and wakes the
// console's wait; a second one gives the terminal back and ends the program at once with
// 128 + its number.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include "console/stop_request.h"

namespace tvx::testing {
namespace {

using console::ProcessStopRequest;

int g_wakes = 0;
void CountWake() {
  ++g_wakes;
}
void SayRestored() {
  constexpr char kText[] = "terminal restored\n";
  [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, kText, sizeof kText - 1);
}

// The first signal ends nothing: it is recorded, once, and wakes the wait.
TEST(StopSignalsDeathTest, EachEndingSignalBecomesARequest) {
  for (const int s :
       {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU}) {
    EXPECT_EXIT(
        {
          console::InstallStopHandlers();
          console::SetStopHooks(CountWake, nullptr);
          raise(s);
          _exit(ProcessStopRequest().Signal() == s && g_wakes == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << "signal " << s;
  }
}

TEST(StopSignalsDeathTest, ASecondSignalRestoresTheTerminalAndExitsAtOnce) {
  EXPECT_EXIT(
      {
        console::InstallStopHandlers();
        console::SetStopHooks(nullptr, SayRestored);
        raise(SIGTERM);
        raise(SIGINT);
        _exit(1);  // the second signal must not come back here
      },
      ::testing::ExitedWithCode(128 + SIGINT), "terminal restored");
}

// While the program starts nothing looks at a request: the first signal ends it.
TEST(StopSignalsDeathTest, WhileTheProgramStartsTheFirstSignalEndsIt) {
  EXPECT_EXIT(
      {
        console::InstallStopHandlers();
        console::SetStopAtOnce(true);
        raise(SIGTERM);
        _exit(1);
      },
      ::testing::ExitedWithCode(128 + SIGTERM), "");
}

}  // namespace
}  // namespace tvx::testing
