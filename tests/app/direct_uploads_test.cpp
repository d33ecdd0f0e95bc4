// The direct sub-command with several --port at once, in the process: three simulated radios
// behind ports in memory, each on a virtual time of its own and run on its own thread, judged
// from each radio's side (what it heard and stored) and from the outcome, error and log lines.
// Then the live lines' text and their redraw on a terminal, literally.
#include <gtest/gtest.h>

#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/cli_platform.h"
#include "app/command_line.h"
#include "app/commands.h"
#include "app/direct_uploads.h"
#include "app/multi_report.h"
#include "console/stop_request.h"
#include "serial/priority.h"
#include "support/captured_text.h"
#include "support/memory_radio_port.h"
#include "support/small_image.h"
#include "support/virtual_time.h"

namespace tvx::testing {
namespace {

namespace fs = std::filesystem;

// One radio with its port, time, clock and priority: nothing of it is shared with another.
struct Bench {
  Bench(const std::string& device, sim::RadioConfig config) : name(device) {
    config.mode = sim::RadioMode::kDirect;
    config.erase_seconds = 0.0;
    port = std::make_unique<MemoryRadioPort>(time, config);
    port->SetDeviceName(name);
  }
  app::UploadSlot Slot() { return {port.get(), &priority, &clock}; }
  sim::RadioCounters Heard() { return port->SettledSnapshot()->counters; }

  std::string name;
  VirtualTime time;
  VirtualClock clock{time};
  serial::NoPriority priority;
  std::unique_ptr<MemoryRadioPort> port;
};

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

sim::RadioConfig Serial(std::uint32_t serial) {
  sim::RadioConfig config;
  config.serial = serial;
  return config;
}

class DirectUploadsTest : public ::testing::Test {
 protected:
  DirectUploadsTest() {
    log_ = fs::path(::testing::TempDir()) /
           ("tvx_direct_uploads_" + std::string(CurrentTestName()) + ".jsonl");
    fs::remove(log_);
  }
  ~DirectUploadsTest() override {
    fs::remove(log_);
    console::ProcessStopRequest().Clear();
  }

  Bench& Add(const std::string& name, sim::RadioConfig config = {}) {
    benches_.push_back(std::make_unique<Bench>(name, config));
    return *benches_.back();
  }

  app::CommandLine Command(const std::vector<std::string>& more) const {
    std::vector<std::string> words = {"torvandrix-upload", "direct", "--log", log_.string()};
    for (const auto& bench : benches_) {
      words.push_back("--port");
      words.push_back(bench->name);
    }
    words.insert(words.end(), more.begin(), more.end());
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    return app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(),
                                 app::PlatformHelpWording());
  }

  // "direct --log LOG --port NAME..." and `more`, every radio on its own thread.
  Ran Run(const std::vector<std::string>& more = {}, bool terminal = false) {
    const app::CommandLine command = Command(more);
    EXPECT_EQ(command.action, app::CommandAction::kDirect) << command.text;
    std::vector<app::UploadSlot> slots;
    for (const auto& bench : benches_) slots.push_back(bench->Slot());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    app::ScriptedOutput output;
    output.out = out;
    output.err = err;
    output.err_terminal = terminal;
    Ran ran;
    ran.status = app::RunDirectUploads(command, slots, output, board_clock_, {SmallImage()});
    ran.out = Text(out);
    ran.err = Text(err);
    std::fclose(out);
    std::fclose(err);
    for (const auto& bench : benches_) {
      EXPECT_FALSE(bench->port->IsOpen());
      EXPECT_FALSE(bench->port->Starved());
    }
    return ran;
  }

  // The same upload alone, through the single-port path, against a radio made like `config`:
  // what its radio heard and how long the transfer took.
  struct Single {
    std::vector<std::uint8_t> wire;
    double seconds = 0.0;
  };
  Single RunAlone(const std::string& name, sim::RadioConfig config) {
    Bench bench(name, config);
    app::CommandLine command = Command({});
    command.ports.clear();
    command.port = name;
    command.log = log_.string() + ".alone";
    std::FILE* out = std::tmpfile();
    app::ScriptedOutput output;
    output.out = out;
    output.err = out;
    app::RunScriptedJob(command, *bench.port, bench.priority, bench.clock, output, {SmallImage()});
    std::fclose(out);
    std::ifstream in(command.log);
    std::string line;
    std::getline(in, line);
    fs::remove(command.log);
    return {bench.port->WireBytes(), nlohmann::json::parse(line)["seconds"].get<double>()};
  }

  std::vector<nlohmann::json> LogLines() const {
    std::vector<nlohmann::json> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
  }

  // The log's line of `device`, of which there must be exactly one.
  nlohmann::json LogOf(const std::string& device) const {
    nlohmann::json found;
    int count = 0;
    for (const nlohmann::json& line : LogLines()) {
      if (line["device"] == device) {
        found = line;
        ++count;
      }
    }
    EXPECT_EQ(count, 1) << device;
    return found;
  }

  std::vector<std::unique_ptr<Bench>> benches_;
  VirtualTime board_time_;  // never moves: the live lines are not drawn here
  VirtualClock board_clock_{board_time_};
  fs::path log_;
};

// Three radios at once: each loaded, each told in its own outcome and log line with its own
// serial number, and each heard exactly what it hears from the same upload alone.
TEST_F(DirectUploadsTest, ThreeRadiosAtOnceAreEachLoadedAsAlone) {
  Bench& a = Add("mem:a", Serial(9120001));
  Bench& b = Add("mem:b", Serial(9120002));
  Bench& c = Add("mem:c", Serial(9120003));
  const Ran ran = Run();
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  const std::vector<std::string> lines = {"mem:a: Upload complete: radio 9120001 accepted the ",
                                          "mem:b: Upload complete: radio 9120002 accepted the ",
                                          "mem:c: Upload complete: radio 9120003 accepted the "};
  std::size_t at = 0;
  for (const std::string& line : lines) {
    EXPECT_EQ(ran.out.substr(at, line.size()), line) << ran.out;
    at = ran.out.find('\n', at) + 1;
  }
  EXPECT_EQ(at, ran.out.size()) << ran.out;
  // Without a terminal: plain lines, each starting with its device.
  EXPECT_EQ(ran.err.find('\x1b'), std::string::npos);
  EXPECT_EQ(ran.err.find('\r'), std::string::npos);
  for (std::size_t line = 0; line < ran.err.size(); line = ran.err.find('\n', line) + 1) {
    EXPECT_TRUE(ran.err.compare(line, 5, "mem:a") == 0 || ran.err.compare(line, 5, "mem:b") == 0 ||
                ran.err.compare(line, 5, "mem:c") == 0)
        << ran.err.substr(line, ran.err.find('\n', line) - line);
  }
  EXPECT_NE(ran.err.find("mem:b: Radio Serial Number is 9120002\n"), std::string::npos) << ran.err;

  ASSERT_EQ(LogLines().size(), 3u);
  std::uint32_t serial = 9120001;
  for (Bench* bench : {&a, &b, &c}) {
    const nlohmann::json line = LogOf(bench->name);
    EXPECT_EQ(line["port"], bench->name);
    EXPECT_EQ(line["serial_number"], serial);
    EXPECT_EQ(line["outcome"], "complete");
    EXPECT_EQ(bench->Heard().direct.verdicts_accepted, 1u);
    EXPECT_EQ(bench->Heard().direct.words_checked_ok, kSmallImageWords);
    const Single alone = RunAlone(bench->name, Serial(serial));
    EXPECT_EQ(bench->port->WireBytes(), alone.wire) << bench->name;
    EXPECT_EQ(line["seconds"], alone.seconds) << bench->name;
    ++serial;
  }
}

// On a terminal: the live lines, redrawn from every upload's thread, end showing each radio
// complete; the phases are in the lines' state, not in notes.
TEST_F(DirectUploadsTest, OnATerminalTheLiveLinesEndShowingEveryRadio) {
  Add("mem:a", Serial(9120001));
  Add("mem:b", Serial(9120002));
  Add("mem:c", Serial(9120003));
  const Ran ran = Run({}, true);
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_EQ(ran.err.find("mem:a: Handshake"), std::string::npos) << ran.err;
  EXPECT_NE(ran.err.find("\x1b[3A\r\x1b[Jmem:b: Opened mem:b.\n"), std::string::npos) << ran.err;
  const std::size_t last = ran.err.rfind("\x1b[3A\r");
  ASSERT_NE(last, std::string::npos) << ran.err;
  std::size_t at = last + 5;
  for (const std::string device : {"mem:a  9120001", "mem:b  9120002", "mem:c  9120003"}) {
    const std::string line = ran.err.substr(at, ran.err.find('\n', at) + 1 - at);
    EXPECT_TRUE(line.starts_with(device + "  complete   [##############]  100%  139/139  "))
        << line;
    EXPECT_TRUE(line.ends_with("/s\x1b[K\n")) << line;
    at += line.size();
  }
  EXPECT_EQ(at, ran.err.size());
}

// One radio pulled mid-transfer: its upload stops there and says so; the two others finish as
// fast as alone, and the status is the stop's.
TEST_F(DirectUploadsTest, OneOfThreePulledMidTransferStopsAloneWithStatusThree) {
  sim::RadioConfig pulled = Serial(9120002);
  pulled.Add(sim::Fault::kHangUp, 40);
  Bench& a = Add("mem:a", Serial(9120001));
  Bench& b = Add("mem:b", pulled);
  Bench& c = Add("mem:c", Serial(9120003));
  const Ran ran = Run();
  EXPECT_EQ(ran.status, 3) << ran.out << ran.err;
  EXPECT_NE(ran.out.find("mem:b: Upload stopped: the line died at word 40 (address FF3A) "
                         "(Input/output error); the "
                         "radio's firmware is incomplete; load it again.\n"),
            std::string::npos)
      << ran.out;
  EXPECT_EQ(Count(ran.out, "Upload complete: "), 2u) << ran.out;
  const nlohmann::json line = LogOf("mem:b");
  EXPECT_EQ(line["outcome"], "stopped");
  EXPECT_EQ(line["reason"], "line_dead");
  EXPECT_EQ(line["word"], 40);
  EXPECT_EQ(b.Heard().direct.verdicts_accepted, 0u);
  for (Bench* bench : {&a, &c}) {
    EXPECT_EQ(bench->Heard().direct.verdicts_accepted, 1u) << bench->name;
    EXPECT_EQ(LogOf(bench->name)["outcome"], "complete");
    const std::uint32_t serial = bench == &a ? 9120001 : 9120003;
    EXPECT_EQ(LogOf(bench->name)["seconds"], RunAlone(bench->name, Serial(serial)).seconds);
  }
}

// A port that does not open and a refused radio end their own uploads; the third completes; the
// status is the most serious, and --json gives one record a line in the order of the ports.
TEST_F(DirectUploadsTest, PortNotOpenedOutranksARefusedRadioAndTheThirdCompletes) {
  Bench& a = Add("mem:a", Serial(9120001));
  Add("mem:b", Serial(9109999));  // outside the accepted range
  Bench& c = Add("mem:c", Serial(9120003));
  a.port->FailOpen(serial::kErrNoSuchPort);
  const Ran ran = Run({"--json"});
  EXPECT_EQ(ran.status, 5) << ran.out << ran.err;
  EXPECT_TRUE(ran.err.starts_with("mem:a: Cannot open mem:a") ||
              ran.err.find("\nmem:a: Cannot open mem:a") != std::string::npos)
      << ran.err;
  std::vector<nlohmann::json> records;
  std::size_t at = 0;
  for (std::size_t end; (end = ran.out.find('\n', at)) != std::string::npos; at = end + 1) {
    records.push_back(nlohmann::json::parse(ran.out.substr(at, end - at)));
  }
  ASSERT_EQ(records.size(), 3u) << ran.out;
  EXPECT_EQ(records[0]["device"], "mem:a");
  EXPECT_EQ(records[0]["outcome"], "port_not_opened");
  EXPECT_EQ(records[1]["device"], "mem:b");
  EXPECT_EQ(records[1]["outcome"], "refused");
  EXPECT_EQ(records[2]["device"], "mem:c");
  EXPECT_EQ(records[2]["outcome"], "complete");
  EXPECT_EQ(c.Heard().direct.verdicts_accepted, 1u);
  EXPECT_EQ(LogLines().size(), 3u);
}

// A log that cannot be written loses no line without a word: every upload whose line it
// refused says so, and the uploads end as they would with a log.
TEST_F(DirectUploadsTest, EveryLineTheLogRefusesIsTold) {
  Add("mem:a", Serial(9120001));
  Add("mem:b", Serial(9120002));
  fs::create_directories(log_);  // not a regular file
  const Ran ran = Run({"--quiet"});
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_EQ(ran.err, "mem:a: torvandrix-upload: the upload log " + log_.string() +
                         " cannot be written: it is not a regular file\n"
                         "mem:b: torvandrix-upload: the upload log " +
                         log_.string() + " cannot be written: it is not a regular file\n");
}

// 5, 4, 3, 1, 6: a port not opened first, resent words last; 0 only when all completed.
TEST(CombinedExitStatusTest, TheMostSeriousStatusWins) {
  const struct {
    std::vector<int> statuses;
    int combined;
  } cases[] = {
      {{0, 0, 0}, 0}, {{0, 6, 0}, 6}, {{6, 1, 0}, 1}, {{1, 3, 6}, 3},
      {{3, 4, 1}, 4}, {{4, 5, 3}, 5}, {{5, 0, 6}, 5}, {{0, 1}, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app::CombinedExitStatus(c.statuses), c.combined)
        << ::testing::PrintToString(c.statuses);
  }
}

// Ctrl-C, once all three are under way, ends every upload at its next safe point, each logged
// "interrupted" and none of the radios told its checksum was good.
TEST_F(DirectUploadsTest, AStopRequestEndsEveryUploadInterrupted) {
  std::barrier under_way(3, []() noexcept { console::ProcessStopRequest().Request(2); });
  std::vector<int> writes(3, 0);
  for (int i = 0; i < 3; ++i) {
    Bench& bench = Add("mem:" + std::to_string(i), Serial(9120001 + i));
    bench.port->on_write = [&under_way, &count = writes[i]](std::span<const std::uint8_t>) {
      if (++count == 60) under_way.arrive_and_wait();
    };
  }
  const Ran ran = Run();
  EXPECT_EQ(ran.status, 130) << ran.out << ran.err;
  const std::vector<nlohmann::json> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  for (const nlohmann::json& line : lines) {
    EXPECT_EQ(line["outcome"], "interrupted") << line.dump();
  }
  for (const auto& bench : benches_) EXPECT_EQ(bench->Heard().direct.verdicts_accepted, 0u);
}

// The same device twice is a usage error before anything is opened: the same name, a port
// name and the device bound to it, or a symbolic link and its target.
TEST_F(DirectUploadsTest, TheSameDeviceTwiceIsAUsageError) {
  Bench& first = Add("mem:a");
  Add("mem:a");
  Ran ran = Run();
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err,
            "torvandrix-upload: --port mem:a is given twice\n"
            "see 'torvandrix-upload direct --help'\n");
  EXPECT_EQ(ran.out, "");
  EXPECT_EQ(first.port->Opens(), 0);

  // Com1 and the device it is bound to.
  ::setenv("TORVANDRIX_COM1", "mem:a", 1);
  benches_.clear();
  Add("cOm1");
  Add("mem:a");
  ran = Run();
  ::unsetenv("TORVANDRIX_COM1");
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err,
            "torvandrix-upload: --port cOm1 and --port mem:a are the same device\n"
            "see 'torvandrix-upload direct --help'\n");

  const fs::path folder = fs::path(::testing::TempDir()) / "tvx_same_device";
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream(folder / "tty").put('x');
  fs::create_symlink(folder / "tty", folder / "link");
  benches_.clear();
  Add((folder / "tty").string());
  Add((folder / "other").string());
  Add((folder / "link").string());
  ran = Run();
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err, "torvandrix-upload: --port " + (folder / "tty").string() + " and --port " +
                         (folder / "link").string() +
                         " are the same device\nsee 'torvandrix-upload direct --help'\n");
  EXPECT_FALSE(app::SameDevice((folder / "tty").string(), (folder / "other").string()));
  fs::remove_all(folder);

  // A serial server's port: the host in any case, the port number as a number.
  benches_.clear();
  Add("rfc2217://Bench-A:3001");
  Add("rfc2217://bench-b:3001");
  Add("rfc2217://bench-a:03001");
  ran = Run();
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err,
            "torvandrix-upload: --port rfc2217://Bench-A:3001 and --port rfc2217://bench-a:03001 "
            "are the same device\nsee 'torvandrix-upload direct --help'\n");
  EXPECT_FALSE(app::SameDevice("rfc2217://bench-a:3001", "rfc2217://bench-a:3002"));
  EXPECT_FALSE(app::SameDevice("rfc2217://bench-a:3001", (folder / "tty").string()));
}

// Serial servers' ports are shown by their addresses beside local devices.
TEST(LiveBoardTest, ServerPortsAreShownByTheirAddresses) {
  const std::vector<std::string> given = {"rfc2217://bench-a:3001", "rfc2217://[::1]:3002",
                                          "/dev/ttyUSB0", "/dev/ttyUSB1"};
  const std::vector<app::PortNames> names = app::NamePorts(given, given);
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0].label.Text(), "bench-a:3001");
  EXPECT_EQ(names[1].label.Text(), "[::1]:3002");
  EXPECT_EQ(names[2].label.Text(), "ttyUSB0");
  EXPECT_EQ(names[3].label.Text(), "ttyUSB1");
}

// The live line: device, serial number (or "-"), state, bar with percentage, words, rate, time
// left; cut to the width, the last column free.
TEST(LiveLineTest, ShowsEveryFieldAndFitsTheWidth) {
  app::LiveLine line;
  const std::string device = "/dev/ttyUSB0";
  EXPECT_EQ(app::LiveLineText(line, device, 12),
            "/dev/ttyUSB0  -        opening    [-------]    0%");
  line.serial = 9123456;
  line.state = "loading";
  line.done = 16548;
  line.total = 33097;
  line.seconds = 13.24;
  EXPECT_EQ(app::LiveLineText(line, device, 12, 100),
            "/dev/ttyUSB0  9123456  loading    [###########-------------]   49%  16548/33097  "
            "1250/s  0:13 left");
  // Narrower: the bar shrinks to its least, then the rate and the words go; the time left stays.
  EXPECT_EQ(app::LiveLineText(line, device, 14),
            "/dev/ttyUSB0    9123456  loading    [##---]   49%  16548/33097  0:13 left");
  EXPECT_EQ(app::LiveLineText(line, device, 12, 60),
            "/dev/ttyUSB0  9123456  loading    [#---]   49%  0:13 left");
  // A name too long for the line is cut, not the bar, the percentage and the time left.
  const std::string by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3ZQ2-if00-port0";
  EXPECT_EQ(app::LiveLineText(line, by_id, by_id.size()),
            "/dev/serial/by-id/usb-FTDI_FT232~  9123456  loading    [#---]   49%  0:13 left");
  line.done = line.total;
  line.state = "complete";
  EXPECT_EQ(app::LiveLineText(line, device, 12),
            "/dev/ttyUSB0  9123456  complete   [#######]  100%  33097/33097  2500/s");
}

// Names as long as /dev/serial/by-id gives them: the live lines name each port by what tells it
// from the others (a port named ComN so), and keep the figures at 80 columns.
TEST(LiveBoardTest, LongDevicesAreShownByWhatTellsThemApart) {
  const std::string by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_";
  const std::vector<std::string> given = {by_id + "A10K3ZQ2-if00-port0", by_id + "A7Q2-if00-port0",
                                          "com4"};
  const std::vector<std::string> devices = {given[0], given[1], "/dev/ttyS3"};
  std::FILE* err = std::tmpfile();
  VirtualTime time;
  VirtualClock clock(time);
  {
    app::LineOptions options;
    options.err = err;
    options.bar = true;
    app::LiveBoard board(options, clock, app::NamePorts(given, devices));
    board.SetSerial(0, 9123456);
    board.SetState(0, "loading");
    board.SetProgress(0, 16548, 33097, 13.24);
  }
  const std::string text = Text(err);
  std::fclose(err);
  EXPECT_EQ(text.substr(text.rfind("\x1b[3A\r") + 5),
            "A10K3ZQ2-if00-port0  9123456  loading    [#---]   49%  16548/33097  0:13 left\x1b[K\n"
            "A7Q2-if00-port0      -        opening    [----]    0%\x1b[K\n"
            "Com4                 -        opening    [----]    0%\x1b[K\n");
}

// On a terminal the lines are drawn once, then redrawn in place; a note goes above them.
TEST(LiveBoardTest, RedrawsInPlaceWithTheNotesAbove) {
  std::FILE* err = std::tmpfile();
  VirtualTime time;
  VirtualClock clock(time);
  {
    app::LineOptions options;
    options.err = err;
    options.bar = true;
    options.columns = [] { return 90; };
    const std::vector<std::string> ports = {"mem:a", "mem:bb"};
    app::LiveBoard board(options, clock, app::NamePorts(ports, ports));
    board.SetSerial(1, 9120002);
    board.Note(0, "Opened mem:a.");
    board.SetProgress(0, 10, 20, 1.0);  // within a tenth of a second of the last: not drawn
    time.Advance(0.1);
    board.SetProgress(0, 12, 20, 1.2);
  }
  const std::string a0 = "mem:a   -        opening    [-----------------------]    0%\x1b[K\n";
  const std::string b0 = "mem:bb  -        opening    [-----------------------]    0%\x1b[K\n";
  const std::string b1 = "mem:bb  9120002  opening    [-----------------------]    0%\x1b[K\n";
  const std::string a1 =
      "mem:a   -        opening    [#############----------]   60%  12/20  10/s  0:01 left\x1b[K\n";
  const std::string up = "\x1b[2A\r";
  EXPECT_EQ(Text(err), a0 + b0 + up + a0 + b1 + up + "\x1b[Jmem:a: Opened mem:a.\n" + a0 + b1 + up +
                           a1 + b1 + up + a1 + b1);
  std::fclose(err);
}

}  // namespace
}  // namespace tvx::testing
