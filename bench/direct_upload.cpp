// How fast the direct upload moves words when the radio answers at once, next to a bare loop
// doing the same wire exchange. Both run over a pseudo-terminal: the uploader against the
// simulated radio (in this process, on its own thread), the bare loop against a minimal echo
// peer. The uploader runs headless with the real POSIX serial backend and priority.
//
// Then the transfer time a user can expect at 115200 bit/s, with the radio answering at line
// time and behind 0, 1 and 16 ms of adapter latency (16 ms: a common USB adapter's latency timer;
// 1 ms: the same adapter in low-latency mode), measured over the first 1,000 words and scaled to
// the image. Last, four uploads at once through the sub-command's runner against four radios
// behind 1 ms each, next to one alone: their time and each one's CPU a word.
//
// Also the same upload through ser2net on the loopback address in front of the same radio, in the
// same rounds: the ratio to the direct run, the extra time a word, and the time a line-rate
// switch takes to be confirmed by the server (skipped when ser2net is not installed).
//
// Usage: bench-direct-upload [--uploader-only]   (the option is for profiling the job alone)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "console/console.h"
#include "cpu_time.h"
#include "direct/direct_upload.h"
#include "direct_bench_doubles.h"
#include "direct_upload_posix_baseline.h"
#include "direct_uploads_at_once.h"
#include "job/clock.h"
#include "job/run_context.h"
#include "radio_sim/posix_pty_radio.h"
#include "serial/network_serial_port.h"
#include "serial/posix_priority.h"
#include "serial/posix_serial_port.h"
#include "support/ser2net_process.h"

namespace {

using tvx::bench::BenchClock;
using tvx::bench::HeadlessConsole;
using TimingPriority = tvx::bench::TimingPriority<tvx::serial::PosixPriority>;

constexpr std::int64_t kReleaseWords = 33097;
constexpr double kBitsPerWord = 9 * 10;  // nine bytes of ten bits on the line per word
constexpr int kRounds = 3;
constexpr int kSpinChecks = 20;

using Steady = std::chrono::steady_clock;

struct UploadResult {
  bool ok = false;
  double transfer_seconds = 0.0;
  double cpu_seconds = 0.0;  // the job's thread, whole job
  std::uint64_t words = 0;
};

// The upload against the radio, directly or (`through_server`) through ser2net; with `server_up`
// saying whether ser2net could be started.
UploadResult RunUploader(bool through_server = false, bool* server_up = nullptr) {
  UploadResult result;
  tvx::sim::RadioConfig config;
  config.mode = tvx::sim::RadioMode::kDirect;
  config.erase_seconds = 0.0;
  tvx::sim::PtyRadio radio(config);
  if (const std::string error = radio.Start(); !error.empty()) {
    std::fprintf(stderr, "cannot start the simulated radio: %s\n", error.c_str());
    return result;
  }
  std::string device = radio.DevicePath();
  std::unique_ptr<tvx::testing::Ser2netProcess> server;
  if (through_server) {
    server = std::make_unique<tvx::testing::Ser2netProcess>(device);
    if (server_up != nullptr) *server_up = server->Up();
    if (!server->Up()) return result;
    device = server->PortName();
  }

  HeadlessConsole console("N\rY\rY\r");  // data port, in set-up, high speed
  auto port = through_server ? tvx::serial::MakeNetworkSerialPort(tvx::serial::MakeTcpLink())
                             : tvx::serial::MakePosixSerialPort();
  TimingPriority priority;
  BenchClock clock;
  tvx::job::RunContext ctx(console, *port, priority, clock);
  ctx.link.devices[0] = device;

  const double cpu_start = tvx::bench::CpuSeconds();
  tvx::direct::RunDirectUpload(ctx);
  result.cpu_seconds = tvx::bench::CpuSeconds() - cpu_start;
  result.transfer_seconds =
      std::chrono::duration<double>(priority.last_record_end - priority.first_record).count();

  radio.WaitFor([](const tvx::sim::RadioCounters& c) { return c.direct.verdicts_accepted > 0; },
                std::chrono::seconds(2));
  const tvx::sim::RadioCounters counters = radio.Counters();
  result.words = counters.direct.words_checked_ok;
  result.ok =
      counters.direct.verdicts_accepted == 1 && result.words == kReleaseWords && console.beeps == 0;
  radio.Stop();
  return result;
}

// Seconds per word at 115200 bit/s over the first `limit` words, the radio answering at line
// time behind `latency` seconds; 0 when the upload failed.
double SecondsPerWordWithLatency(double latency, std::uint64_t limit) {
  tvx::sim::RadioConfig config;
  config.mode = tvx::sim::RadioMode::kDirect;
  config.erase_seconds = 0.0;
  config.line_time = true;
  config.latency = latency;
  tvx::sim::PtyRadio radio(config);
  if (const std::string error = radio.Start(); !error.empty()) return 0.0;
  const std::string device = radio.DevicePath();

  HeadlessConsole console("N\rY\rY\r");
  auto port = tvx::serial::MakePosixSerialPort();
  TimingPriority priority;
  BenchClock clock;
  std::uint64_t words = 0;
  priority.after_record = [&] {
    words = radio.Counters().direct.words_checked_ok;
    if (words >= limit) console.Push("\x1b");  // leave between records
  };
  tvx::job::RunContext ctx(console, *port, priority, clock);
  ctx.link.devices[0] = device;
  tvx::direct::RunDirectUpload(ctx);
  radio.Stop();
  if (words < limit) return 0.0;
  return std::chrono::duration<double>(priority.last_record_end - priority.first_record).count() /
         static_cast<double>(words);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The time from a line-rate switch's request to the server's confirmation, median of `count`
// switches between 115200 and 19200 bit/s; 0 when it could not be measured.
double RateSwitchSeconds(int count) {
  tvx::sim::RadioConfig config;
  config.mode = tvx::sim::RadioMode::kDirect;
  tvx::sim::PtyRadio radio(config);
  if (!radio.Start().empty()) return 0.0;
  tvx::testing::Ser2netProcess server(radio.DevicePath());
  if (!server.Up()) return 0.0;
  auto port = tvx::serial::MakeNetworkSerialPort(tvx::serial::MakeTcpLink());
  if (port->Open(server.PortName()) != tvx::serial::kNoError) return 0.0;
  tvx::serial::ControlState state;
  port->GetControlState(state);
  std::vector<double> times;
  for (int i = 0; i < count; ++i) {
    state.line_rate = i % 2 == 0 ? 115200 : 19200;
    const auto start = Steady::now();
    if (port->SetControlState(state) != tvx::serial::kNoError) return 0.0;
    times.push_back(std::chrono::duration<double>(Steady::now() - start).count());
  }
  port->Close();
  return Median(times);
}

}  // namespace

int main(int argc, char** argv) {
  const bool uploader_only = argc > 1 && std::string(argv[1]) == "--uploader-only";
  std::printf("Direct upload of the release image (%lld words), radio answering at once\n",
              static_cast<long long>(kReleaseWords));
  std::printf("Rounds alternate the three runs; figures are the medians of %d rounds.\n\n",
              kRounds);

  std::vector<double> upload_rate, upload_cpu, base_rate, base_cpu, spin_rate, spin_cpu;
  std::vector<double> direct_seconds, server_seconds;
  bool server_up = true;
  for (int round = 0; round < (uploader_only ? 1 : kRounds); ++round) {
    const UploadResult upload = RunUploader();
    if (!upload.ok) {
      std::printf("uploader: the upload did not complete (%llu words checked)\n",
                  static_cast<unsigned long long>(upload.words));
      return 1;
    }
    upload_rate.push_back(kReleaseWords / upload.transfer_seconds);
    upload_cpu.push_back(upload.cpu_seconds);
    if (uploader_only) break;
    if (server_up) {
      const UploadResult served = RunUploader(true, &server_up);
      if (server_up && !served.ok) {
        std::printf("through ser2net: the upload did not complete (%llu words checked)\n",
                    static_cast<unsigned long long>(served.words));
        return 1;
      }
      if (server_up) {
        direct_seconds.push_back(upload.transfer_seconds);
        server_seconds.push_back(served.transfer_seconds);
      }
    }
    const tvx::bench::BaselineResult base = tvx::bench::RunBaseline(kReleaseWords, 0);
    const tvx::bench::BaselineResult spin = tvx::bench::RunBaseline(kReleaseWords, kSpinChecks);
    if (!base.ok || !spin.ok) {
      std::printf("baseline: the exchange failed\n");
      return 1;
    }
    base_rate.push_back(base.words / base.wall_seconds);
    base_cpu.push_back(base.cpu_seconds);
    spin_rate.push_back(spin.words / spin.wall_seconds);
    spin_cpu.push_back(spin.cpu_seconds);
    std::printf("round %d: uploader %6.0f, bare %6.0f, bare with checks %6.0f words/s\n", round + 1,
                upload_rate.back(), base_rate.back(), spin_rate.back());
  }
  if (uploader_only) {
    std::printf("uploader %.0f words/s, cpu %.3f s\n", upload_rate[0], upload_cpu[0]);
    return 0;
  }

  const double ratio = Median(upload_rate) / Median(base_rate);
  std::printf("\n");
  std::printf("uploader (job, simulated radio)   %7.0f words/s  cpu %6.3f s (whole job)\n",
              Median(upload_rate), Median(upload_cpu));
  std::printf("bare poll() exchange, echo peer   %7.0f words/s  cpu %6.3f s\n", Median(base_rate),
              Median(base_cpu));
  std::printf("bare, %d checks before poll()     %7.0f words/s  cpu %6.3f s\n", kSpinChecks,
              Median(spin_rate), Median(spin_cpu));
  std::printf("uploader / bare poll()            %7.1f %%  (target: at least 70 %%)\n",
              100.0 * ratio);
  std::printf("uploader cpu / bare poll() cpu    %7.2f x  (target: at most 1.3 x)\n",
              Median(upload_cpu) / Median(base_cpu));
  bool server_missed = false;
  if (server_seconds.empty()) {
    std::printf("through ser2net: skipped, ser2net is not installed (Debian package ser2net)\n");
  } else {
    const double served = Median(server_seconds);
    const double direct = Median(direct_seconds);
    const double served_ratio = served / direct;
    server_missed = served_ratio > 1.2;
    std::printf("\nThe same upload through ser2net on 127.0.0.1 (rfc2217://), same rounds:\n");
    std::printf("  directly on the pseudo-terminal  %6.2f s  (%5.0f words/s)\n", direct,
                kReleaseWords / direct);
    std::printf("  through ser2net                  %6.2f s  (%5.0f words/s)\n", served,
                kReleaseWords / served);
    std::printf("  through ser2net / directly       %6.2f x  (target: at most 1.2 x)\n",
                served_ratio);
    std::printf("  extra time a word                %6.1f us\n",
                (served - direct) / kReleaseWords * 1e6);
    const double switch_seconds = RateSwitchSeconds(41);
    std::printf("  a line-rate switch, request to the server's confirmation: %.0f us\n",
                switch_seconds * 1e6);
  }

  std::printf("\nThe same exchange on the wire (9 bytes of 10 bits per word):\n");
  for (const double rate : {115200.0, 19200.0}) {
    std::printf("  at %6.0f bit/s  %6.1f s  (%4.0f words/s)\n", rate,
                kReleaseWords * kBitsPerWord / rate, rate / kBitsPerWord);
  }

  constexpr std::uint64_t kSampleWords = 1000;
  std::printf(
      "\nTransfer of the release image at 115200 bit/s, the radio answering at line time\n"
      "behind an adapter's latency (first %llu words, scaled to the image):\n",
      static_cast<unsigned long long>(kSampleWords));
  for (const int latency_ms : {0, 1, 16}) {
    const double per_word = SecondsPerWordWithLatency(latency_ms / 1000.0, kSampleWords);
    if (per_word <= 0.0) {
      std::printf("  %2d ms latency: the upload did not complete\n", latency_ms);
      return 1;
    }
    const double total = per_word * static_cast<double>(kReleaseWords);
    std::printf("  %2d ms latency  %7.1f s  (%4.1f min, %5.2f ms a word)\n", latency_ms, total,
                total / 60.0, per_word * 1000.0);
  }

  // Four radios at once behind a low-latency adapter each, next to one such radio alone, the
  // rounds alternating; per word of the first kAtOnceWords, the slowest and costliest upload.
  constexpr std::uint64_t kAtOnceWords = 1000;
  constexpr int kAtOnce = 4;
  std::printf(
      "\n%d uploads at once, each against its own radio at 115200 bit/s behind 1 ms of latency,\n"
      "next to one alone (first %llu words; the slowest and costliest of the %d):\n",
      kAtOnce, static_cast<unsigned long long>(kAtOnceWords), kAtOnce);
  std::vector<double> one_time, one_cpu, four_time, four_cpu;
  for (int round = 0; round < kRounds; ++round) {
    const tvx::bench::AtOnceResult one = tvx::bench::RunUploadsAtOnce(1, 0.001, kAtOnceWords);
    const tvx::bench::AtOnceResult four =
        tvx::bench::RunUploadsAtOnce(kAtOnce, 0.001, kAtOnceWords);
    if (!one.ok || !four.ok) {
      std::printf("  the uploads at once did not reach %llu words\n",
                  static_cast<unsigned long long>(kAtOnceWords));
      return 1;
    }
    one_time.push_back(one.slowest_seconds_per_word);
    one_cpu.push_back(one.worst_cpu_per_word);
    four_time.push_back(four.slowest_seconds_per_word);
    four_cpu.push_back(four.worst_cpu_per_word);
  }
  const double bare_cpu_per_word = Median(base_cpu) / static_cast<double>(kReleaseWords);
  const double time_ratio = Median(four_time) / Median(one_time);
  const double cpu_ratio = Median(four_cpu) / bare_cpu_per_word;
  std::printf("  one alone        %5.2f ms a word  (%5.1f s for the image)  cpu %5.1f us a word\n",
              Median(one_time) * 1000.0, Median(one_time) * kReleaseWords, Median(one_cpu) * 1e6);
  std::printf("  %d at once        %5.2f ms a word  (%5.1f s for the image)  cpu %5.1f us a word\n",
              kAtOnce, Median(four_time) * 1000.0, Median(four_time) * kReleaseWords,
              Median(four_cpu) * 1e6);
  std::printf("  bare poll() exchange                                      cpu %5.1f us a word\n",
              bare_cpu_per_word * 1e6);
  std::printf("  %d at once / one alone, time        %5.2f x  (target: at most 1.15 x)\n", kAtOnce,
              time_ratio);
  std::printf("  each upload's cpu / bare exchange's  %5.2f x  (target: at most 1.3 x)\n",
              cpu_ratio);
  std::printf("  each upload's cpu / one alone's      %5.2f x\n",
              Median(four_cpu) / Median(one_cpu));
  return ratio >= 0.7 && !server_missed ? 0 : 2;
}
