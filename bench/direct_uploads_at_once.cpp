#include "direct_uploads_at_once.h"
#include "cpu_time.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/direct_uploads.h"
#include "console/stop_request.h"
#include "direct_bench_doubles.h"
#include "radio_sim/posix_pty_radio.h"
#include "serial/posix_priority.h"
#include "serial/posix_serial_port.h"

namespace tvx::bench {
namespace {

using Steady = std::chrono::steady_clock;

// The real priority around each record, and on the upload's own thread the time and CPU from
// its first record to the record that brought its radio to the words asked for.
class SampledPriority final : public serial::Priority {
 public:
  SampledPriority(sim::PtyRadio& radio, std::uint64_t words, std::atomic<int>& reached, int uploads)
      : radio_(radio), words_(words), reached_(reached), uploads_(uploads) {}

  void RaiseRealtime() override {
    if (++raises_ == 2) {  // the first raise is the rate switch
      start_ = Steady::now();
      cpu_start_ = tvx::bench::CpuSeconds();
    }
    real_.RaiseRealtime();
  }
  void Normal() override {
    real_.Normal();
    if (raises_ < 2 || done_ > 0) return;
    const std::uint64_t done = radio_.Counters().direct.words_checked_ok;
    if (done < words_) return;
    done_ = done;
    seconds_ = std::chrono::duration<double>(Steady::now() - start_).count();
    cpu_ = tvx::bench::CpuSeconds() - cpu_start_;
    // The last to get there ends them all.
    if (reached_.fetch_add(1) + 1 == uploads_) console::ProcessStopRequest().Request(SIGINT);
  }

  bool Reached() const { return done_ > 0; }
  double SecondsPerWord() const { return seconds_ / static_cast<double>(done_); }
  double CpuPerWord() const { return cpu_ / static_cast<double>(done_); }

 private:
  sim::PtyRadio& radio_;
  std::uint64_t words_;
  std::atomic<int>& reached_;
  int uploads_;
  serial::PosixPriority real_;
  int raises_ = 0;
  Steady::time_point start_{};
  double cpu_start_ = 0.0;
  std::uint64_t done_ = 0;
  double seconds_ = 0.0;
  double cpu_ = 0.0;
};

}  // namespace

AtOnceResult RunUploadsAtOnce(int uploads, double latency, std::uint64_t words) {
  AtOnceResult result;
  std::vector<std::unique_ptr<sim::PtyRadio>> radios;
  std::vector<std::unique_ptr<serial::SerialPort>> ports;
  std::vector<std::unique_ptr<SampledPriority>> priorities;
  std::vector<std::unique_ptr<BenchClock>> clocks;
  std::vector<app::UploadSlot> slots;
  std::atomic<int> reached{0};
  app::CommandLine command;
  command.action = app::CommandAction::kDirect;
  command.high_speed = true;
  command.quiet = true;
  command.log = "/dev/null";  // not a regular file: left alone
  for (int i = 0; i < uploads; ++i) {
    sim::RadioConfig config;
    config.mode = sim::RadioMode::kDirect;
    config.erase_seconds = 0.0;
    config.line_time = true;
    config.latency = latency;
    config.serial = 9120001 + static_cast<std::uint32_t>(i);
    radios.push_back(std::make_unique<sim::PtyRadio>(config));
    if (const std::string error = radios.back()->Start(); !error.empty()) {
      std::fprintf(stderr, "cannot start the simulated radio: %s\n", error.c_str());
      return result;
    }
    command.ports.push_back(radios.back()->DevicePath());
    ports.push_back(serial::MakePosixSerialPort());
    priorities.push_back(
        std::make_unique<SampledPriority>(*radios.back(), words, reached, uploads));
    clocks.push_back(std::make_unique<BenchClock>());
    slots.push_back({ports.back().get(), priorities.back().get(), clocks.back().get()});
  }
  command.port = command.ports.front();
  std::FILE* sink = std::tmpfile();
  app::ScriptedOutput output;
  output.out = sink;
  output.err = sink;
  app::RunDirectUploads(command, slots, output, job::SystemClock());
  std::fclose(sink);
  console::ProcessStopRequest().Clear();
  for (auto& radio : radios) radio->Stop();

  result.ok = true;
  for (const auto& priority : priorities) {
    result.ok = result.ok && priority->Reached();
    if (!priority->Reached()) continue;
    result.slowest_seconds_per_word =
        std::max(result.slowest_seconds_per_word, priority->SecondsPerWord());
    result.worst_cpu_per_word = std::max(result.worst_cpu_per_word, priority->CpuPerWord());
  }
  return result;
}

}  // namespace tvx::bench
