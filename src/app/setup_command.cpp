#include "app/setup_command.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "app/cli_platform.h"
#include "app/multi_report.h"
#include "app/printable_text.h"
#include "app/session_log_file.h"
#include "console/stop_request.h"
#include "terminal/text_matcher.h"

namespace tvx::app {
namespace {

using terminal::SetupOutcome;

constexpr std::string_view kProgram = "torvandrix-upload: ";

// Writes the radio's text to standard output as it comes (one port, no --quiet, no --json),
// or tells the board which step a port is at (several ports).
class SetupReport final : public terminal::SetupListener {
 public:
  SetupReport(std::FILE* out, LiveBoard* board, std::size_t row, std::size_t steps)
      : out_(out), board_(board), row_(row), steps_(steps) {}

  void Text(std::string_view text) override {
    if (out_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
  }
  void Step(std::size_t index) override {
    if (board_ == nullptr) return;
    board_->SetState(row_, "step " + std::to_string(index + 1));
    board_->SetProgress(row_, static_cast<std::int64_t>(index), static_cast<std::int64_t>(steps_),
                        0.0);
  }

 private:
  std::FILE* out_;
  LiveBoard* board_;
  std::size_t row_;
  std::size_t steps_;
};

// The session log's lines, from every port's thread; with several ports each line names its
// device after the time.
class SharedSessionLog {
 public:
  SharedSessionLog(const std::string& path, std::FILE* err) : file_(path), err_(err) {}
  void Write(std::string_view line, const std::string& device) {
    std::string text(line);
    if (!device.empty()) text.insert(text.find(' ') + 1, "[" + device + "] ");
    const std::lock_guard lock(mutex_);
    if (const std::string failure = file_.Append(text); !failure.empty()) {
      std::fprintf(err_, "%s%s\n", kProgram.data(), PrintableText(failure).c_str());
      std::fflush(err_);
    }
  }

 private:
  SessionLogFile file_;
  std::FILE* err_;
  std::mutex mutex_;
};

struct SetupRun {
  terminal::SetupResult result;
  std::string record;
  std::string outcome_line;
  std::string error;  ///< for standard error; empty when it completed
  int status = 0;
};

std::string StepName(const std::vector<terminal::Step>& steps, std::size_t index) {
  if (index >= steps.size()) return "the end";
  return "step " + std::to_string(index + 1) + " (" + Printable(terminal::StepLabel(steps[index])) +
         ")";
}

std::string CapturesText(const terminal::SetupResult& result) {
  std::string text;
  for (const terminal::ExpectMatch& match : result.matches) {
    for (const terminal::Capture& capture : match.captures) {
      if (!capture.set) continue;
      text += text.empty() ? "; " : ", ";
      text += Printable(capture.name) + "=" + Printable(capture.value);
    }
  }
  return text;
}

void Describe(SetupRun& run, const std::vector<terminal::Step>& steps, double timeout) {
  const terminal::SetupResult& r = run.result;
  const std::string where = StepName(steps, r.step);
  const std::string tail = "; the radio's last words: \"" + Printable(r.tail) + "\"";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f s", r.seconds);
  switch (r.outcome) {
    case SetupOutcome::kComplete:
      run.outcome_line = "setup complete: " + std::to_string(steps.size()) + " steps in " +
                         seconds + CapturesText(r);
      return;
    case SetupOutcome::kTimedOut: {
      char limit[32];
      std::snprintf(limit, sizeof limit, "%g s", timeout);
      run.error = where + ": no match within " + limit + tail;
      run.outcome_line = "setup stopped at " + where + ": no match" + CapturesText(r);
      return;
    }
    case SetupOutcome::kLineDead:
      run.error = where + ": the line died" +
                  (r.detail.empty() ? std::string() : " (" + Printable(r.detail) + ")") + tail;
      run.outcome_line = "setup stopped at " + where + ": the line died" + CapturesText(r);
      return;
    case SetupOutcome::kPortNotOpened:
      run.error =
          "the port did not open" + (r.detail.empty() ? std::string() : ": " + Printable(r.detail));
      run.outcome_line = "setup: the port did not open";
      return;
    case SetupOutcome::kInterrupted:
      run.outcome_line = "setup interrupted at " + where + " by " + SignalText();
      return;
    case SetupOutcome::kBadPattern:
      run.error = where + ": " + Printable(r.detail);
      run.outcome_line = "setup: a pattern did not compile";
      return;
  }
}

SetupRun RunOne(const CommandLine& command, const std::vector<terminal::Step>& steps,
                const std::string& port, const UploadSlot& slot, terminal::SetupListener& listener,
                SharedSessionLog* session_file, const std::string& log_device) {
  terminal::SetupPlan plan;
  plan.device = ResolveDevice(port, command.com_bindings);
  plan.baud = command.setup.baud;
  plan.steps = steps;
  plan.timeout_seconds = command.timeout_seconds;
  terminal::SessionLog session([&](std::string_view line) {
    if (session_file != nullptr) session_file->Write(line, log_device);
  });
  const terminal::SetupParts parts{
      *slot.port, *slot.clock, session_file != nullptr ? &session : nullptr,
      [] { return console::ProcessStopRequest().Requested(); }, console::kNoWaitHandle};
  SetupRun run;
  run.result = terminal::RunSetupScript(plan, parts, listener);
  LogEntry entry = SetupLogEntry(run.result, steps);
  entry.port = port.empty() ? "Com1" : port;
  entry.device = plan.device;
  run.record = FormatLogLine(entry, std::chrono::system_clock::now());
  run.status = SetupExitStatus(run.result.outcome);
  Describe(run, steps, command.timeout_seconds);
  return run;
}

}  // namespace

std::string TakeSetupSteps(const CommandLine& command, std::vector<terminal::Step>& steps) {
  steps = command.setup.steps;
  if (!command.setup.script.empty()) {
    std::string content;
    bool absent = false;
    if (const std::string error = ReadSettingsFile(command.setup.script, content, absent);
        !error.empty()) {
      return "--script " + Printable(command.setup.script) + ": " + Printable(error);
    }
    if (std::string error = terminal::ParseScript(command.setup.script, content, steps);
        !error.empty()) {
      return Printable(error).Text();
    }
  }
  for (const terminal::Step& step : steps) {
    if (step.kind != terminal::StepKind::kExpect) continue;
    const terminal::Pattern pattern(step.text);
    if (!pattern.Ok()) {
      return Printable(step.place).Text() + ": the pattern \"" + Printable(step.text) +
             "\" is wrong: " + Printable(pattern.Error());
    }
  }
  return {};
}

LogEntry SetupLogEntry(const terminal::SetupResult& result,
                       const std::vector<terminal::Step>& steps) {
  LogEntry entry;
  entry.job = "setup";
  entry.seconds = result.seconds;
  entry.step = static_cast<std::int64_t>(std::min(result.step, steps.size()));
  if (result.step < steps.size()) {
    entry.step = static_cast<std::int64_t>(result.step + 1);
    entry.step_label = terminal::StepLabel(steps[result.step]);
  }
  // The log's outcome and reason of each ending, and whether the system's words go with it.
  struct Words {
    const char* outcome;
    const char* reason;
    bool detail;
  };
  const Words words = [&]() -> Words {
    switch (result.outcome) {
      case SetupOutcome::kComplete:
        return {"complete", "", false};
      case SetupOutcome::kTimedOut:
        return {"stopped", "expect_timed_out", false};
      case SetupOutcome::kLineDead:
        return {"stopped", "line_dead", true};
      case SetupOutcome::kPortNotOpened:
        return {"port_not_opened", "port_not_opened", true};
      case SetupOutcome::kInterrupted:
        return {"interrupted", "signal", false};
      case SetupOutcome::kBadPattern:
        return {"stopped", "bad_pattern", false};
    }
    return {"stopped", "", false};
  }();
  entry.outcome = words.outcome;
  entry.reason = words.reason;
  if (words.detail) entry.detail = result.detail;
  for (const terminal::ExpectMatch& match : result.matches) {
    ExpectEntry expect;
    expect.step = static_cast<std::int64_t>(match.step + 1);
    expect.seconds = match.seconds;
    for (const terminal::Capture& capture : match.captures) {
      expect.captures.emplace_back(capture.name,
                                   capture.set ? std::optional(capture.value) : std::nullopt);
    }
    entry.expects.push_back(std::move(expect));
  }
  return entry;
}

int SetupExitStatus(SetupOutcome outcome) {
  switch (outcome) {
    case SetupOutcome::kComplete:
      return kExitComplete;
    case SetupOutcome::kPortNotOpened:
      return kExitPortNotOpened;
    case SetupOutcome::kBadPattern:
      return kExitUsage;
    case SetupOutcome::kTimedOut:
    case SetupOutcome::kLineDead:
    case SetupOutcome::kInterrupted:
      break;
  }
  return kExitStopped;
}

int RunSetupScripts(const CommandLine& command, std::span<const UploadSlot> slots,
                    const ScriptedOutput& output, job::Clock& board_clock) {
  std::vector<terminal::Step> steps;
  if (const std::string bad = TakeSetupSteps(command, steps); !bad.empty()) {
    std::fprintf(output.err, "%s%s\nsee 'torvandrix-upload setup --help'\n", kProgram.data(),
                 bad.c_str());
    std::fflush(output.err);
    return kExitUsage;
  }
  std::vector<std::string> given = command.ports;
  if (given.empty()) given.push_back(command.port);
  given.resize(std::min(given.size(), slots.size()));
  std::vector<std::string> devices;
  for (const std::string& port : given)
    devices.push_back(ResolveDevice(port, command.com_bindings));
  const bool several = given.size() > 1;
  // Two runs on one device would each take the other's answers.
  for (std::size_t j = 1; j < devices.size(); ++j) {
    for (std::size_t i = 0; i < j; ++i) {
      if (!SameDevice(devices[i], devices[j])) continue;
      std::fprintf(output.err,
                   "%s--port %s and --port %s are the same device\n"
                   "see 'torvandrix-upload setup --help'\n",
                   kProgram.data(), PrintableText(given[i]).c_str(),
                   PrintableText(given[j]).c_str());
      std::fflush(output.err);
      return kExitUsage;
    }
  }
  std::vector<PortNames> names = NamePorts(given, devices);

  std::unique_ptr<SharedSessionLog> session_file;
  if (!command.setup.session_log.empty()) {
    session_file = std::make_unique<SharedSessionLog>(command.setup.session_log, output.err);
  }
  std::unique_ptr<LiveBoard> board;
  if (several)
    board = std::make_unique<LiveBoard>(LineOptionsFor(command, output), board_clock, names);
  std::FILE* text_out = several || command.quiet || command.json ? nullptr : output.out;

  std::vector<SetupRun> runs(given.size());
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < given.size(); ++i) {
      threads.emplace_back([&, i] {
        SetupReport report(text_out, board.get(), i, steps.size());
        runs[i] = RunOne(command, steps, given[i], slots[i], report, session_file.get(),
                         several ? names[i].device.Text() : std::string());
        if (board)
          board->SetState(
              i, runs[i].result.outcome == SetupOutcome::kComplete ? "complete" : "stopped");
      });
      if (!several) threads.back().join();
    }
  }
  if (board) board->End();
  if (text_out != nullptr && !runs.front().result.tail.empty() &&
      runs.front().result.tail.back() != '\n') {
    std::fputc('\n', text_out);  // the outcome starts a line of its own
  }

  UploadLog log(command.log);
  std::string outcomes;
  std::vector<int> statuses;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const std::string prefix = several ? names[i].device + ": " : std::string();
    if (!runs[i].error.empty()) {
      std::fprintf(output.err, "%s%s%s\n", kProgram.data(), prefix.c_str(), runs[i].error.c_str());
    }
    if (const std::string failure = log.Append(runs[i].record); !failure.empty()) {
      std::fprintf(output.err, "%s%s\n", kProgram.data(), failure.c_str());
    }
    outcomes += command.json ? runs[i].record : prefix + runs[i].outcome_line + "\n";
    statuses.push_back(runs[i].status);
  }
  std::fflush(output.err);
  std::fwrite(outcomes.data(), 1, outcomes.size(), output.out);
  std::fflush(output.out);
  return console::ExitStatusAfterStop(CombinedExitStatus(statuses));
}

}  // namespace tvx::app
