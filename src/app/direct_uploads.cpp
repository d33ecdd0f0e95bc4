#include "app/direct_uploads.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

#include "app/cli_platform.h"
#include "app/multi_report.h"
#include "app/printable_text.h"
#include "console/stop_request.h"

namespace tvx::app {
namespace {

// How serious a status is among several uploads': higher first.
int Severity(int status) {
  switch (status) {
    case kExitPortNotOpened:
      return 5;
    case kExitRefused:
      return 4;
    case kExitStopped:
      return 3;
    case kExitChecksumError:
      return 2;
    case kExitResentWords:
      return 1;
    default:
      return 0;
  }
}

// The end of an upload as its live line's state: the log's outcome in words.
std::string EndState(const LogEntry& entry) {
  std::string state = entry.outcome;
  std::replace(state.begin(), state.end(), '_', ' ');
  return state;
}

// The first pair of ports that are one device, as the usage error tells it; empty when none.
std::string SameDeviceTwice(const std::vector<std::string>& given,
                            const std::vector<std::string>& devices) {
  for (std::size_t j = 1; j < devices.size(); ++j) {
    for (std::size_t i = 0; i < j; ++i) {
      if (!SameDevice(devices[i], devices[j])) continue;
      if (given[i] == given[j]) return "--port " + Printable(given[i]) + " is given twice";
      return "--port " + Printable(given[i]) + " and --port " + Printable(given[j]) +
             " are the same device";
    }
  }
  return {};
}

}  // namespace

int CombinedExitStatus(std::span<const int> statuses) {
  int worst = kExitComplete;
  for (const int status : statuses) {
    if (Severity(status) > Severity(worst)) worst = status;
  }
  return worst;
}

int RunDirectUploads(const CommandLine& command, std::span<const UploadSlot> slots,
                     const ScriptedOutput& output, job::Clock& board_clock, ScriptedImage image) {
  // One upload per port that has its slot.
  const std::vector<std::string> given(
      command.ports.begin(), command.ports.begin() + std::min(command.ports.size(), slots.size()));
  std::vector<std::string> devices;
  for (const std::string& port : given)
    devices.push_back(ResolveDevice(port, command.com_bindings));
  if (const std::string twice = SameDeviceTwice(given, devices); !twice.empty()) {
    std::fprintf(output.err, "torvandrix-upload: %s\nsee 'torvandrix-upload direct --help'\n",
                 twice.c_str());
    std::fflush(output.err);
    return kExitUsage;
  }

  std::vector<PortNames> names = NamePorts(given, devices);
  LiveBoard board(LineOptionsFor(command, output), board_clock, names);
  UploadLog log(command.log);
  std::mutex log_mutex;
  std::vector<DirectUploadRun> runs(devices.size());
  std::vector<char> logged(devices.size(), 0);  // written to the log (one byte each: no race)
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < devices.size(); ++i) {
      threads.emplace_back([&, i] {
        PortSink sink(board, i, *slots[i].clock);
        try {
          runs[i] = RunOneDirectUpload(command, given[i], slots[i], sink, image);
        } catch (const std::exception& e) {
          // A failure of the program ends this upload alone (status 1), as main would say it.
          runs[i].status = kExitChecksumError;
          runs[i].outcome_line = std::string("internal error: ") + e.what();
          board.Error(i, runs[i].outcome_line);
          logged[i] = 1;  // nothing to log
          return;
        }
        board.SetState(i, EndState(runs[i].entry));
        const std::lock_guard lock(log_mutex);
        logged[i] = log.Append(runs[i].record).empty() ? 1 : 0;
      });
    }
  }  // every upload has ended
  board.End();
  // A line the log refused while the other uploads held their ports (too many files open, say)
  // gets one more try now that every port is closed; one still refused is told, never lost
  // without a word.
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (logged[i]) continue;
    if (const std::string failure = log.Append(runs[i].record); !failure.empty()) {
      board.Error(i, "torvandrix-upload: " + failure);
    }
  }

  std::string outcomes;
  std::vector<int> statuses;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    outcomes +=
        command.json ? runs[i].record : names[i].device + ": " + runs[i].outcome_line + "\n";
    statuses.push_back(runs[i].status);
  }
  std::fwrite(outcomes.data(), 1, outcomes.size(), output.out);
  std::fflush(output.out);
  return console::ExitStatusAfterStop(CombinedExitStatus(statuses));
}

}  // namespace tvx::app
