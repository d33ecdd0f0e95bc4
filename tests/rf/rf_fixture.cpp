#include "rf_fixture.h"

#include <stdlib.h>

#include <chrono>

#include "rf/rf_upload.h"
#include "serial/posix_serial_port.h"

namespace tvx::testing {

namespace {

// Far beyond the longest run here (a few passes of the release image), even under sanitizers.
constexpr auto kJobLimit = std::chrono::seconds(120);

}  // namespace

RfUploadTest::RfUploadTest() {
  auto port = std::make_unique<CountingPort>(serial::MakePosixSerialPort());
  port_ = port.get();
  port_owner_ = std::move(port);
  ctx_ = std::make_unique<job::RunContext>(console_, *port_owner_, priority_, clock_);
  clock_.on_pause = [this](int ms) {
    if (ms == 1000) countdown_.push_back(console_.RowTrimmed(35));
  };
  clock_.before_real_pause = [this] {
    if (!radio_) return;
    const std::uint64_t sent = port_->BytesWritten() - written_before_radio_;
    radio_->WaitFor([sent](const sim::RadioCounters& r) { return r.bytes_received >= sent; },
                    std::chrono::seconds(2));
  };
  console_.OnKeyWanted([this](ScriptedConsole& console) {
    if (priority_.realtime) ++waits_while_raised_;
    if (console.RowTrimmed(30) == "Hit any key to return to main menu") console.Feed("x");
  });
}

RfUploadTest::~RfUploadTest() {
  if (radio_) radio_->Stop();
}

sim::RadioConfig RfUploadTest::FastRadio() {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  // A loaded machine can hold the job's thread up in the middle of a frame's write.
  config.frame_timeout = 5.0;
  return config;
}

void RfUploadTest::StartRadio(const sim::RadioConfig& config) {
  radio_ = std::make_unique<sim::PtyRadio>(config);
  written_before_radio_ = port_->BytesWritten();
  ASSERT_EQ(radio_->Start(), "");
  ctx_->link.devices[0] = radio_->DevicePath();
}

void RfUploadTest::Run(const std::string& answers) {
  console_.Feed(answers);
  std::atomic<bool> guard_fired{false};
  std::thread guard([this, &guard_fired] {
    const auto deadline = std::chrono::steady_clock::now() + kJobLimit;
    while (!job_done_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (std::chrono::steady_clock::now() > deadline && !guard_fired) {
        guard_fired = true;
        console_.Feed("qx");
      }
    }
  });
  outcome_ = rf::RunRfUpload(*ctx_);
  job_done_ = true;
  guard.join();
  job_done_ = false;
  EXPECT_FALSE(guard_fired) << "the job did not finish by itself";
  EXPECT_FALSE(console_.Starved()) << "the job waited for a key the test did not give";
  EXPECT_EQ(console_.KeysLeft(), 0u);
  EXPECT_FALSE(port_->IsOpen());
  EXPECT_FALSE(priority_.realtime);
  EXPECT_EQ(waits_while_raised_, 0);
}

std::unique_ptr<sim::RadioSnapshot> RfUploadTest::Settled() {
  sim::RadioCounters last = radio_->Counters();
  for (int i = 0; i < 50; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const sim::RadioCounters now = radio_->Counters();
    if (now.bytes_received == last.bytes_received && now.bytes_sent == last.bytes_sent && i > 2) {
      break;
    }
    last = now;
  }
  return radio_->Snapshot();
}

}  // namespace tvx::testing
