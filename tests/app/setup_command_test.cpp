// The setup sub-command's scripted form in the process, against simulated radios behind ports
// in memory (each on a virtual time of its own): a value read, set and read back with its
// captures; a secret that shows nowhere; the ends that are not complete; three radios at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/command_line.h"
#include "app/setup_command.h"
#include "serial/priority.h"
#include "support/captured_text.h"
#include "support/memory_radio_port.h"
#include "support/virtual_time.h"

namespace tvx::testing {
namespace {

namespace fs = std::filesystem;
using terminal::StepKind;

struct Radio {
  Radio(const std::string& device, sim::RadioMode mode) {
    sim::RadioConfig config;
    config.mode = mode;
    port = std::make_unique<MemoryRadioPort>(time, config);
    port->SetDeviceName(device);
  }
  app::UploadSlot Slot() { return {port.get(), &priority, &clock}; }
  VirtualTime time;
  VirtualClock clock{time};
  serial::NoPriority priority;
  std::unique_ptr<MemoryRadioPort> port;
};

struct Ran {
  int status = -1;
  std::string out, err, log, session;
};

std::string FileText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class SetupCommandTest : public ::testing::Test {
 protected:
  SetupCommandTest() {
    const std::string name = CurrentTestName();
    log_ = fs::path(::testing::TempDir()) / ("tvx_setup_" + name + ".jsonl");
    session_ = fs::path(::testing::TempDir()) / ("tvx_setup_" + name + ".session");
    fs::remove(log_);
    fs::remove(session_);
    command_.action = app::CommandAction::kSetup;
    command_.log = log_.string();
    command_.setup.session_log = session_.string();
  }
  ~SetupCommandTest() override {
    fs::remove(log_);
    fs::remove(session_);
  }

  void Step(StepKind kind, const std::string& value) {
    ASSERT_EQ(terminal::AddOptionStep(kind, value, command_.setup.steps), "");
  }
  Radio& Add(const std::string& device, sim::RadioMode mode = sim::RadioMode::kSetup) {
    radios_.push_back(std::make_unique<Radio>(device, mode));
    command_.ports.push_back(device);
    return *radios_.back();
  }
  Ran Run() {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::vector<app::UploadSlot> slots;
    for (auto& radio : radios_) slots.push_back(radio->Slot());
    command_.port = command_.ports.front();
    Ran ran;
    ran.status =
        app::RunSetupScripts(command_, slots, {out, err, false, false}, job::SystemClock());
    ran.out = Text(out);
    ran.err = Text(err);
    ran.log = FileText(log_);
    ran.session = FileText(session_);
    std::fclose(out);
    std::fclose(err);
    return ran;
  }

  fs::path log_, session_;
  app::CommandLine command_;
  std::vector<std::unique_ptr<Radio>> radios_;
};

// Reads the network ID, sets it with a secret typed in between (which the radio echoes back
// and names in its answer), reads it back: captures in the record, the secret nowhere.
TEST_F(SetupCommandTest, ReadsSetsAndReadsBackWithTheSecretNowhere) {
  for (const bool json : {true, false}) {
    SCOPED_TRACE(json ? "--json" : "plain");
    radios_.clear();
    command_.ports.clear();
    command_.setup.steps.clear();
    command_.json = json;
    Radio& radio = Add("mem:radio");
    Step(StepKind::kSend, "1\\r");
    Step(StepKind::kExpect, "Network ID +(?<before>\\d+)");
    Step(StepKind::kSendSecret, "hunter2\\r");
    Step(StepKind::kSend, "NETID 42\\r");
    Step(StepKind::kExpect, "set to (?<set>\\d+)(?<never>x)?");
    Step(StepKind::kSend, "1\\r");
    Step(StepKind::kExpect, "Network ID +(?<after>\\d+)");
    const Ran ran = Run();
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(radio.port->Radio().Setup().Settings().network_id, 42u);
    for (const std::string* text : {&ran.out, &ran.err, &ran.log, &ran.session}) {
      EXPECT_EQ(text->find("hunter2"), std::string::npos) << *text;
    }
    EXPECT_NE(ran.session.find(" > <secret>\n"), std::string::npos) << ran.session;
    // The radio's text as it came, its echo of the secret hidden.
    if (!json) {
      EXPECT_NE(ran.out.find("Unknown command <secret>"), std::string::npos) << ran.out;
    }

    const auto record = nlohmann::json::parse(ran.log);
    if (json) {
      EXPECT_EQ(nlohmann::json::parse(ran.out), record);
    }
    EXPECT_EQ(record["job"], "setup");
    EXPECT_EQ(record["outcome"], "complete");
    EXPECT_EQ(record["step"], 7);
    ASSERT_EQ(record["expects"].size(), 3u);
    EXPECT_EQ(record["expects"][0]["captures"]["before"], "7");
    EXPECT_EQ(record["expects"][1]["captures"]["set"], "42");
    EXPECT_TRUE(record["expects"][1]["captures"]["never"].is_null());
    EXPECT_EQ(record["expects"][2]["captures"]["after"], "42");
    EXPECT_EQ(record["expects"][2]["step"], 7);
    // Every line of the session: time to the millisecond, direction, escaped bytes.
    // "dddd-dd-ddTdd:dd:dd.dddZ < text", the text in printable ASCII.
    const auto well_formed = [](const std::string& line) {
      const std::string shape = "dddd-dd-ddTdd:dd:dd.dddZ ? ";
      if (line.size() < shape.size()) return false;
      for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = line[i];
        if (shape[i] == 'd'   ? (c < '0' || c > '9')
            : shape[i] == '?' ? (c != '<' && c != '>')
                              : c != shape[i]) {
          return false;
        }
      }
      for (std::size_t i = shape.size(); i < line.size(); ++i) {
        if (line[i] < 0x20 || line[i] > 0x7E) return false;
      }
      return true;
    };
    std::istringstream lines(ran.session);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
      EXPECT_TRUE(well_formed(line)) << line;
    }
    EXPECT_GT(count, 10);
    fs::remove(log_);
    fs::remove(session_);
  }
}

// The ends that are not complete: the step reached, and the radio's last words escaped.
TEST_F(SetupCommandTest, AnExpectThatTimesOutAndALineThatDiesStopWithStatusThree) {
  struct Case {
    const char* name;
    bool hang_up;
    const char* error;
    const char* reason;
  };
  for (const Case c :
       {Case{"time-out", false, "step 2 (expect \"Nope\"): no match within 0.5 s",
             "expect_timed_out"},
        Case{"dead line", true, "step 2 (expect \"Nope\"): the line died", "line_dead"}}) {
    SCOPED_TRACE(c.name);
    radios_.clear();
    command_.ports.clear();
    command_.setup.steps.clear();
    command_.timeout_seconds = c.hang_up ? 0 : 0.5;  // a dead line ends even a wait for ever
    Radio& radio = Add("mem:radio");
    if (c.hang_up) radio.port->HangUpAt(0.3);
    Step(StepKind::kSend, "3\\r");
    Step(StepKind::kExpect, "Nope");
    const Ran ran = Run();
    EXPECT_EQ(ran.status, 3);
    EXPECT_NE(ran.err.find(c.error), std::string::npos) << ran.err;
    EXPECT_NE(ran.err.find("Firmware Rev 2.54\\x0AChoice> \""), std::string::npos) << ran.err;
    const auto record = nlohmann::json::parse(ran.log);
    EXPECT_EQ(record["reason"], c.reason);
    EXPECT_EQ(record["step"], 2);
    EXPECT_EQ(record.contains("detail"), c.hang_up) << ran.log;  // the system's words of a death
    fs::remove(log_);
  }
}

// Three radios at once, one of which never answers: each its own outcome, status 3.
TEST_F(SetupCommandTest, ThreeRadiosAtOnceOneSilent) {
  Add("mem:a");
  Add("mem:b", sim::RadioMode::kDirect);  // deaf to the set-up interface
  Add("mem:c");
  command_.timeout_seconds = 2;
  Step(StepKind::kSend, "3\\r");
  Step(StepKind::kExpect, "Firmware Rev (?<rev>\\S+)");
  const Ran ran = Run();
  EXPECT_EQ(ran.status, 3);
  EXPECT_NE(ran.out.find("mem:a: setup complete: 2 steps"), std::string::npos) << ran.out;
  EXPECT_NE(ran.out.find("mem:b: setup stopped at step 2"), std::string::npos) << ran.out;
  EXPECT_NE(ran.out.find("mem:c: setup complete: 2 steps"), std::string::npos) << ran.out;
  EXPECT_EQ(Count(ran.log, "\"rev\":\"2.54\""), 2u) << ran.log;
  EXPECT_EQ(Count(ran.session, "[mem:b] > 3\\x0D"), 1u) << ran.session;

  command_.ports[2] = "mem:a";  // one radio twice: refused before anything opens
  const Ran twice = Run();
  EXPECT_EQ(twice.status, 2);
  EXPECT_NE(twice.err.find("--port mem:a and --port mem:a are the same device"), std::string::npos)
      << twice.err;
}

app::CommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "torvandrix-upload");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  const app::HelpWording wording{"terminal window", "/dev/ttyUSB0", "/dev/ttyS(N-1)", "log",
                                 "config"};
  return app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), wording);
}

// The steps run in the order given across the three options; wrong values are our sentences.
TEST(SetupOptionsTest, StepsKeepTheirOrderAndWrongValuesAreRefused) {
  const app::CommandLine command =
      Parse({"setup", "--expect", "a", "--send", "1\\r", "--send-secret", "pw", "--expect", "b",
             "--baud", "115200", "--timeout", "0"});
  ASSERT_EQ(command.action, app::CommandAction::kSetup) << command.text;
  std::string order;
  for (const terminal::Step& step : command.setup.steps) order += terminal::StepLabel(step) + ";";
  EXPECT_EQ(order, "expect \"a\";send \"1\\x0D\";send-secret <secret>;expect \"b\";");
  EXPECT_EQ(command.setup.baud, 115200u);
  EXPECT_EQ(command.timeout_seconds, 0.0);

  const std::pair<std::vector<std::string>, const char*> refused[] = {
      {{"setup", "--baud", "1200"}, "--baud takes 4800, 9600, 19200"},
      {{"setup", "--timeout", "-1", "--send", "x"}, "--timeout takes seconds"},
      {{"setup", "--send", "\\q"}, "--send"},
      {{"setup", "--script", "f", "--send", "x"}, "two ways to give the steps"},
      {{"setup", "--port", "a", "--port", "b"}, "the interactive terminal takes one --port"},
      {{"setup", "--json"}, "--json is for the scripted form"},
  };
  for (const auto& [args, reason] : refused) {
    const app::CommandLine bad = Parse(args);
    EXPECT_EQ(bad.action, app::CommandAction::kUsageError) << args[1];
    EXPECT_NE(bad.text.find(reason), std::string::npos) << bad.text;
    EXPECT_NE(bad.text.find("see 'torvandrix-upload setup --help'"), std::string::npos);
  }
}

}  // namespace
}  // namespace tvx::testing
