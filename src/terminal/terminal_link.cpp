#include "terminal/terminal_link.h"

#include <chrono>
#include <functional>

#include "job/error_state.h"
#include "job/line.h"

namespace tvx::terminal {

void StopBell::Reset() {
  std::lock_guard lock(mutex_);
  rung_ = false;
}

void StopBell::Ring() {
  {
    std::lock_guard lock(mutex_);
    rung_ = true;
  }
  rung_cv_.notify_all();
}

void StopBell::WaitFor(int ms) {
  std::unique_lock lock(mutex_);
  rung_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return rung_; });
}

TerminalLink::~TerminalLink() {
  if (writer.joinable()) {
    ring.RequestStop();
    stop_bell.Ring();
    writer.join();
  }
}

void TxWriterThread(TxRing& ring, StopBell& stop_bell, serial::SerialPort& port) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kWriteTimeout = std::chrono::milliseconds(kWriteTimeoutMs);
  // The writer's own line on the shared port: what its writes latch, nobody reads.
  job::ErrorState unreported;
  job::Line line(port, unreported);
  for (;;) {
    const std::span<const std::uint8_t> run = ring.AwaitRun();
    if (run.empty()) return;  // stop requested
    const Clock::time_point start = Clock::now();
    const std::size_t written = line.Send(run).count;
    if (written > 0) {
      ring.Consumed(written);
      continue;
    }
    // A write that waited its time-out for the line is tried again at once: it waits in the port
    // again. One that gave up sooner (no port, a dead line) would spin: wait out the rest.
    const auto left = kWriteTimeout - (Clock::now() - start);
    if (left > Clock::duration::zero() && !ring.StopRequested()) {
      stop_bell.WaitFor(
          static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    }
  }
}

namespace {

// The write time-outs of the terminal profile, a fresh ring and a new writer on the open port.
void StartWriter(job::Line& line, TerminalLink& link, serial::SerialPort& port) {
  link.ring.Reset();
  link.stop_bell.Reset();
  line.BoundWrites(kWriteTimeoutMs);
  link.writer =
      std::thread(TxWriterThread, std::ref(link.ring), std::ref(link.stop_bell), std::ref(port));
}

}  // namespace

void TerminalOpen(job::RunContext& ctx, TerminalLink& link) {
  if (link.writer.joinable()) TerminalClose(ctx, link);  // never two writers on one ring
  job::Line line(ctx.port, ctx.errors);
  // A port that does not open is reported at once and the terminal goes on without it; the
  // code of every later operation on it waits for the close. A refused setting waits too.
  const job::OpenResult opened =
      line.Open(ctx.link.DeviceOf(ctx.link.port_name), job::Profile::kTerminal,
                static_cast<std::uint32_t>(ctx.link.baud_rate));
  if (!opened.ok() && !opened.settings_refused) job::ErrorReport(ctx.errors, ctx.console);
  if (!line.IsOpen()) ctx.errors.Latch(serial::kErrPortNotOpen);
  StartWriter(line, link, ctx.port);
}

void StopWriter(TerminalLink& link) {
  link.ring.RequestStop();
  link.stop_bell.Ring();
  if (link.writer.joinable()) link.writer.join();
}

bool TerminalReopen(job::RunContext& ctx, TerminalLink& link, std::string_view device) {
  StopWriter(link);
  if (ctx.port.IsOpen()) return false;
  // A device that is not back yet is no failure to report: only the run's latch counts.
  job::ErrorState tries;
  job::Line line(ctx.port, tries);
  line.Open(device, job::Profile::kTerminal, static_cast<std::uint32_t>(ctx.link.baud_rate));
  if (!line.IsOpen()) return false;
  ctx.errors.Latch(tries.code);  // a refused setting waits for the close, as at the first open
  StartWriter(line, link, ctx.port);
  return true;
}

std::size_t TxEnqueue(TerminalLink& link, std::string_view text) {
  return link.ring.Enqueue(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::size_t TxRoom(const TerminalLink& link) {
  return static_cast<std::size_t>(link.ring.Room());
}

void TerminalClose(job::RunContext& ctx, TerminalLink& link) {
  StopWriter(link);
  ctx.errors.Latch(job::Line(ctx.port, ctx.errors).Close());
  if (ctx.errors.code != serial::kNoError) job::ErrorReport(ctx.errors, ctx.console);
}

}  // namespace tvx::terminal
