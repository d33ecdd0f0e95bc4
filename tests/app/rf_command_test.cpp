// The rf sub-command in the process, against the simulated local radio behind a serial port in
// memory on a virtual time: what it says on each stream for every way a broadcast ends, its
// status and log line, and that it puts on the wire what the menu puts there.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "app/cli_platform.h"
#include "app/commands.h"
#include "app/rf_sentences.h"
#include "job/run_context.h"
#include "rf/rf_upload.h"
#include "support/captured_text.h"
#include "support/memory_radio_port.h"
#include "support/noisy_port.h"
#include "support/scripted_console.h"
#include "support/virtual_time.h"

namespace tvx::testing {
namespace {

namespace fs = std::filesystem;

class RfCommandTest : public ::testing::Test {
 protected:
  RfCommandTest() {
    log_ = fs::path(::testing::TempDir()) /
           ("tvx_rf_command_" + std::string(CurrentTestName()) + ".jsonl");
    fs::remove(log_);
    command_.action = app::CommandAction::kRf;
    command_.port = "mem:radio";
    command_.copies = 1;
    command_.start = 4140;
    command_.passes = 1;
    command_.log = log_.string();
  }
  ~RfCommandTest() override {
    std::fclose(out_);
    std::fclose(err_);
    fs::remove(log_);
  }

  void StartRadio(sim::RadioConfig config = {}) {
    config.mode = sim::RadioMode::kRf;
    port_ = std::make_unique<MemoryRadioPort>(time_, config);
  }

  int Run() {
    if (!port_) StartRadio();
    app::ScriptedOutput output;
    output.out = out_;
    output.err = err_;
    output.err_terminal = err_terminal_;
    serial::SerialPort& line = noisy_ ? static_cast<serial::SerialPort&>(*noisy_) : *port_;
    const int status = app::RunScriptedJob(command_, line, priority_, clock_, output);
    out_text_ = Text(out_);
    err_text_ = Text(err_);
    EXPECT_FALSE(port_->IsOpen());
    EXPECT_FALSE(port_->Starved());
    return status;
  }

  nlohmann::json LogLine() const {
    std::ifstream in(log_);
    std::string line;
    std::getline(in, line);
    return nlohmann::json::parse(line);
  }

  VirtualTime time_;
  VirtualClock clock_{time_};
  serial::NoPriority priority_;
  std::unique_ptr<MemoryRadioPort> port_;
  std::unique_ptr<NoisyPort> noisy_;  ///< set: the job's line, with bytes the radio did not send
  bool err_terminal_ = false;         ///< standard error is a terminal: the bar is drawn
  app::CommandLine command_;
  fs::path log_;
  std::FILE* out_ = std::tmpfile();
  std::FILE* err_ = std::tmpfile();
  std::string out_text_;
  std::string err_text_;
};

// Standard output holds the outcome and nothing else; the notes go to standard error. With
// --json the outcome is the log's record.
TEST_F(RfCommandTest, CompleteBroadcastPrintsItsOutcomeAndItsNotesApart) {
  EXPECT_EQ(Run(), app::kExitComplete);
  EXPECT_EQ(out_text_, "Broadcast complete: 1 pass, 4 frames, 0 echo mismatches.\n");
  EXPECT_EQ(err_text_, "Opened mem:radio.\nPass 1 of 1\n");
  EXPECT_EQ(port_->SettledSnapshot()->counters.rf.data_frames_good, 4u);

  StartRadio();
  command_.json = true;
  std::fclose(out_);
  out_ = std::tmpfile();
  EXPECT_EQ(Run(), app::kExitComplete);
  ASSERT_EQ(out_text_.find('\n'), out_text_.size() - 1) << "more than the record: " << out_text_;
  const nlohmann::json printed = nlohmann::json::parse(out_text_);
  EXPECT_EQ(printed["outcome"], "complete");
  EXPECT_EQ(printed["frames"], 4);
  EXPECT_EQ(printed["port"], "mem:radio");
  EXPECT_FALSE(printed.contains("reason"));
}

// A changed echo costs the frame one more copy, and the pass still completes: status 0, the
// mismatch counted in the outcome and the log.
TEST_F(RfCommandTest, PassWithEchoFaultsExitsZeroAndCountsThem) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kRfCorruptEcho, 2);
  StartRadio(config);
  command_.copies = 2;
  command_.start = 4130;
  EXPECT_EQ(Run(), app::kExitComplete) << err_text_;
  EXPECT_NE(out_text_.find("Broadcast complete: 1 pass, 14 frames, 1 echo mismatch."),
            std::string::npos)
      << out_text_;
  EXPECT_EQ(port_->SettledSnapshot()->counters.rf.echoes_corrupted, 1u);
  const nlohmann::json line = LogLine();
  EXPECT_EQ(line["job"], "rf");
  EXPECT_EQ(line["outcome"], "complete");
  EXPECT_EQ(line["echo_mismatches"], 1);
}

// The command that goes on names the port as a shell reads it back: quoted where it must be,
// and a port with a control byte as $'...' with the byte escaped, never raw on the terminal.
TEST(ResumeCommandTest, ThePortIsAWordTheShellReadsBack) {
  const struct {
    std::string port;
    std::string word;
  } cases[] = {
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"/tmp/it's here", "'/tmp/it'\\''s here'"},
      {"\\\\.\\COM3", "'\\\\.\\COM3'"},  // a Windows device as it is
      {"/dev/tty\x1b[31m", "$'/dev/tty\\x1B[31m'"},
      {"it's\\\xc2\x9b", "$'it\\'s\\\\\\xC2\\x9B'"},  // quote, backslash, C1 control
  };
  rf::Outcome outcome;
  outcome.passes_asked = 1;
  for (const auto& c : cases) {
    app::RfFacts facts;
    facts.port = app::Printable(c.port);
    facts.copies = 3;
    EXPECT_EQ(app::ResumeCommands(outcome, facts),
              "torvandrix-upload rf --port " + c.word + " --copies 3 --start 0 --passes 1")
        << c.port;
  }
}

// A broadcast sends each frame until its echo comes back: a silent local radio would keep it
// sending for ever. The limit stops it after the first copy's window, and the user learns
// where, why, and how to go on.
TEST_F(RfCommandTest, SilentRadioStopsTheBroadcast) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kSilent);
  StartRadio(config);
  command_.copies = 2;
  command_.start = 4130;
  command_.timeout_seconds = 0.3;
  EXPECT_EQ(Run(), app::kExitStopped);
  EXPECT_EQ(out_text_, "Broadcast stopped at record 4130: the local radio was silent for 0.5 s.\n");
  EXPECT_NE(err_text_.find("Opened mem:radio.\nPass 1 of 1\n"), std::string::npos) << err_text_;
  EXPECT_NE(err_text_.find("The local radio sent nothing back for 0.5 s at record 4130: check "
                           "that it is on, that the cable is in and that the port is its "
                           "diagnostic port. To go on from there: torvandrix-upload rf --port "
                           "mem:radio --copies 2 --start 4130 --passes 1\n"),
            std::string::npos)
      << err_text_;
  const nlohmann::json line = LogLine();
  EXPECT_EQ(line["outcome"], "stopped");
  EXPECT_EQ(line["reason"], "radio_silent");
  EXPECT_EQ(line["record"], 4130);
}

// A radio that answers every copy with a changed echo is not silent: the stop says how many
// bytes came back and that none was an intact echo.
TEST_F(RfCommandTest, EchoesThatNeverComeBackIntactAreNotSilence) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kRfCorrupt, 0, 1.0);
  StartRadio(config);
  command_.timeout_seconds = 2.0;
  EXPECT_EQ(Run(), app::kExitStopped);

  const sim::RadioCounters heard = port_->SettledSnapshot()->counters;
  EXPECT_EQ(heard.rf.data_frames_received, 4u);  // one copy each half second until the limit
  EXPECT_EQ(heard.rf.echoes_corrupted, 4u);
  EXPECT_EQ(out_text_, "Broadcast stopped at record 4140: no intact echo came back for 2.0 s.\n");
  EXPECT_NE(err_text_.find("No intact echo came back for 2.0 s at record 4140: the local radio "
                           "sent " +
                           std::to_string(heard.bytes_sent) +
                           " bytes, none of them an intact echo of the frame (4 whole echoes "
                           "differed). Check the line and that nothing else writes to the port. "
                           "To go on from there: torvandrix-upload rf --port mem:radio --copies 1 "
                           "--start 4140 --passes 1\n"),
            std::string::npos)
      << err_text_;
  EXPECT_EQ(LogLine()["reason"], "echoes_corrupt");

  // One byte of noise from an otherwise silent radio is no silence either.
  sim::RadioConfig silent;
  silent.Add(sim::Fault::kSilent);
  StartRadio(silent);
  noisy_ = std::make_unique<NoisyPort>(*port_);
  bool added = false;
  noisy_->on_query = [&](NoisyPort& line) {
    if (!port_->Wire().empty() && !std::exchange(added, true)) line.Add({0x7E});
  };
  fs::remove(log_);
  command_.timeout_seconds = 0.3;
  EXPECT_EQ(Run(), app::kExitStopped);
  EXPECT_NE(err_text_.find("the local radio sent 1 byte, none of them an intact echo of the frame "
                           "(0 whole echoes differed)"),
            std::string::npos)
      << err_text_;
  EXPECT_EQ(LogLine()["reason"], "echoes_corrupt");
}

// The seventh frame's echo is lost, in the second of three passes: the silence limit stops the
// broadcast there. What goes on is the rest of that pass, then the pass still left.
TEST_F(RfCommandTest, SilenceMidPassNamesTheRestOfThePassAndThePassesLeft) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kRfDropEcho, 7);
  StartRadio(config);
  command_.timeout_seconds = 0.3;
  command_.passes = 3;
  EXPECT_EQ(Run(), app::kExitStopped);

  EXPECT_EQ(port_->SettledSnapshot()->counters.rf.data_frames_received, 7u);
  EXPECT_EQ(out_text_,
            "Broadcast stopped at record 4142 of pass 2 of 3: the local radio was silent for "
            "0.5 s, 1 of 3 passes complete.\n");
  EXPECT_NE(err_text_.find(
                "The local radio sent nothing back for 0.5 s at record 4142 of pass 2 of 3 (1 of "
                "3 passes complete): check that it is on, that the cable is in and that the port "
                "is its diagnostic port. To go on from there: torvandrix-upload rf --port "
                "mem:radio --copies 1 --start 4142 --passes 1, then torvandrix-upload rf --port "
                "mem:radio --copies 1 --start 4140 --passes 1\n"),
            std::string::npos)
      << err_text_;
  // The wait between the first two passes; none after the run gave up.
  EXPECT_EQ(Count(err_text_, "Waiting 6 s for the radio network"), 1u) << err_text_;
  const nlohmann::json line = LogLine();
  EXPECT_EQ(line["outcome"], "stopped");
  EXPECT_EQ(line["reason"], "radio_silent");
  EXPECT_EQ(line["record"], 4142);
  EXPECT_EQ(line["passes"], 1);
}

// The limit counts while frames go out: the six seconds between passes are no silence, so the
// lost echo of the second pass's first copy costs one resend, not the broadcast.
TEST_F(RfCommandTest, TheWaitBetweenPassesIsNotSilence) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kRfDropEcho, 5);
  StartRadio(config);
  command_.timeout_seconds = 0.7;
  command_.passes = 2;
  EXPECT_EQ(Run(), app::kExitComplete) << err_text_;
  EXPECT_EQ(port_->SettledSnapshot()->rf_records[4140].good, 3u);
  EXPECT_EQ(out_text_, "Broadcast complete: 2 passes, 8 frames, 0 echo mismatches.\n");
}

// On a terminal the bar counts the frames of the pass under way, from 0 again in each pass.
TEST_F(RfCommandTest, TheBarCountsTheFramesOfEachPassOnItsOwn) {
  err_terminal_ = true;
  command_.passes = 2;
  EXPECT_EQ(Run(), app::kExitComplete);
  EXPECT_EQ(Count(err_text_, "]  1/4 frames"), 2u) << err_text_;
  EXPECT_EQ(Count(err_text_, "]  4/4 frames"), 2u) << err_text_;
}

TEST_F(RfCommandTest, DeadLineNamesTheRecordAndWhatToDo) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kRfHangUp, 2);
  StartRadio(config);
  EXPECT_EQ(Run(), app::kExitStopped);
  EXPECT_EQ(out_text_, "Broadcast stopped at record 4142: the line died.\n");
  EXPECT_NE(err_text_.find("The line to the local radio died at record 4142 (code 59: Input/output "
                           "error): the radios "
                           "did not get the rest of the image and must be loaded again from there "
                           "once the line is back. To go on from there: torvandrix-upload rf "
                           "--port mem:radio --copies 1 --start 4142 --passes 1\n"),
            std::string::npos)
      << err_text_;
  EXPECT_EQ(LogLine()["reason"], "line_dead");
  EXPECT_EQ(Count(err_text_, "The line"), 1u) << "the dead line told more than once: " << err_text_;
}

// A start past the last record sends nothing, and says which record is the last.
TEST_F(RfCommandTest, StartPastTheLastRecordSaysWhichIsTheLast) {
  command_.start = 4144;
  EXPECT_EQ(Run(), app::kExitStopped);
  EXPECT_EQ(out_text_, "Nothing sent: record 4144 is past the last record, 4143.\n");
  EXPECT_EQ(err_text_,
            "Opened mem:radio.\nPass 1 of 1\nNothing was sent: the start record 4144 is past the "
            "last record of the image, 4143.\n");
  EXPECT_EQ(LogLine()["reason"], "start_past_end");
}

// A port the system will not open: its code, what it means, what to do; the name as it can be
// printed.
TEST_F(RfCommandTest, PortThatWillNotOpenSaysWhyAndWhatToDo) {
  StartRadio();
  port_->FailOpen(75);
  command_.port = "mem\x1b:radio";
  EXPECT_EQ(Run(), app::kExitPortNotOpened);
  EXPECT_EQ(out_text_, "The port mem\\x1B:radio could not be opened.\n");
  EXPECT_EQ(err_text_, "Cannot open mem\\x1B:radio: code 75, the system refused access. " +
                           std::string(app::PortPermissionHint()) + "\n");
  EXPECT_TRUE(port_->Wire().empty());
  const nlohmann::json line = LogLine();
  EXPECT_EQ(line["outcome"], "port_not_opened");
  EXPECT_EQ(line["reason"], "port_not_opened");
}

// The sub-command is the menu's broadcast with other hands on it: against the same radio with
// the same plan, the same bytes go out at the same moments, a repeated copy included.
TEST_F(RfCommandTest, MenuAndSubCommandPutTheSameBytesOnTheWireAtTheSameTimes) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  config.Add(sim::Fault::kRfCorruptEcho, 3);
  VirtualTime menu_time;
  VirtualClock menu_clock(menu_time);
  MemoryRadioPort menu_port(menu_time, config);
  ScriptedConsole console;
  console.SetStarveLimitMs(2000);
  console.OnKeyWanted([](ScriptedConsole& c) {
    if (c.RowTrimmed(30) == "Hit any key to return to main menu") c.Feed("x");
  });
  job::RunContext menu(console, menu_port, priority_, menu_clock);
  menu.link.devices[0] = "mem:radio";
  console.Feed("y\r2\r4138\r2\r");
  const rf::Outcome menu_outcome = rf::RunRfUpload(menu);
  ASSERT_FALSE(menu_outcome.stopped);

  StartRadio(config);
  command_.copies = 2;
  command_.start = 4138;
  command_.passes = 2;
  EXPECT_EQ(Run(), app::kExitComplete);

  const auto& menu_wire = menu_port.Wire();
  const auto& wire = port_->Wire();
  ASSERT_EQ(wire.size(), menu_wire.size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (wire[i].value != menu_wire[i].value || wire[i].written_at != menu_wire[i].written_at) {
      if (++differing < 4) ADD_FAILURE() << "byte " << i << " differs";
    }
  }
  EXPECT_EQ(differing, 0u);
  EXPECT_EQ(port_->SettledSnapshot()->counters.rf.data_frames_received, 2u * 2 * 6 + 1);
}

}  // namespace
}  // namespace tvx::testing
