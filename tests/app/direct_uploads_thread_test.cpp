// Several direct uploads at once on real threads and the real clock, for ThreadSanitizer: four
// ports in memory, three that open to a radio that never answers and one that does not open,
// all telling the same live lines, log and outcome; and the live lines hammered from four
// threads at once. (The radio's side of uploads at once is judged in direct_uploads_test.cpp.)
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/cli_platform.h"
#include "app/direct_uploads.h"
#include "app/multi_report.h"
#include "serial/priority.h"
#include "support/captured_text.h"
#include "support/fake_serial_port.h"

namespace tvx::testing {
namespace {

namespace fs = std::filesystem;

TEST(DirectUploadsThreadTest, FourAtOnceEachEndTheirOwnWay) {
  const fs::path log = fs::path(::testing::TempDir()) / "tvx_direct_uploads_thread.jsonl";
  fs::remove(log);
  FakeSerialPort ports[4];
  serial::NoPriority priorities[4];
  ports[2].open_result = serial::kErrNoSuchPort;
  app::CommandLine command;
  command.action = app::CommandAction::kDirect;
  command.ports = {"mem:0", "mem:1", "mem:2", "mem:3"};
  command.port = command.ports.front();
  command.timeout_seconds = 0.05;
  command.log = log.string();
  std::vector<app::UploadSlot> slots;
  for (int i = 0; i < 4; ++i) slots.push_back({&ports[i], &priorities[i], &job::SystemClock()});
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  app::ScriptedOutput output;
  output.out = out;
  output.err = err;
  output.err_terminal = true;
  EXPECT_EQ(app::RunDirectUploads(command, slots, output, job::SystemClock()), 5);
  const std::string text = Text(out);
  for (const char* device :
       {"mem:0: Upload stopped: ", "mem:1: Upload stopped: ",
        "mem:2: The port mem:2 could not be opened: code 53", "mem:3: Upload stopped: "}) {
    EXPECT_NE(text.find(device), std::string::npos) << device << "\n" << text;
  }
  std::fclose(out);
  std::fclose(err);
  fs::remove(log);
}

TEST(DirectUploadsThreadTest, TheLiveLinesTakeEveryThreadAtOnce) {
  std::FILE* err = std::tmpfile();
  {
    app::LineOptions options;
    options.err = err;
    options.bar = true;
    const std::vector<std::string> ports = {"a", "b", "c", "d"};
    app::LiveBoard board(options, job::SystemClock(), app::NamePorts(ports, ports));
    std::vector<std::thread> threads;
    for (std::size_t row = 0; row < 4; ++row) {
      threads.emplace_back([&board, row] {
        app::PortSink sink(board, row, job::SystemClock());
        sink.State("loading");
        sink.Serial(9120000 + static_cast<std::uint32_t>(row));
        for (int done = 1; done <= 20000; ++done) sink.Progress(done, 20000);
        sink.Note("done");
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  const std::string text = Text(err);
  EXPECT_EQ(Count(text, ": done\n"), 4u);
  // The last redraw shows every line at its end.
  const std::string last = text.substr(text.rfind("\x1b[4A\r"));
  EXPECT_EQ(Count(last, "loading    [##################]  100%  20000/20000"), 4u) << last;
  std::fclose(err);
}

}  // namespace
}  // namespace tvx::testing
