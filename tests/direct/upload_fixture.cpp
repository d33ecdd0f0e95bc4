#include "upload_fixture.h"

#include <stdlib.h>

#include <chrono>
#include <utility>

#include "direct/direct_upload.h"
#include "serial/posix_serial_port.h"

namespace tvx::testing {

namespace {

// Far beyond a complete upload with read-back, even under the sanitizers.
constexpr auto kJobLimit = std::chrono::seconds(120);

}  // namespace

DirectUploadTest::DirectUploadTest() {
  auto port = std::make_unique<CountingPort>(serial::MakePosixSerialPort());
  port_ = port.get();
  port_owner_ = std::move(port);
  ctx_ = std::make_unique<job::RunContext>(console_, *port_owner_, priority_, clock_);
  ctx_->image = SmallImage();
  console_.OnKeyWanted([this](ScriptedConsole&) { OnKeyWanted(); });
  clock_.before_real_pause = [this] {
    if (!radio_) return;
    const std::uint64_t sent = port_->BytesWritten() - written_before_radio_;
    radio_->WaitFor([sent](const sim::RadioCounters& r) { return r.bytes_received >= sent; },
                    std::chrono::seconds(2));
  };
}

void DirectUploadTest::TearDown() {
  if (!HasFailure()) return;
  std::lock_guard lock(events_mutex_);
  std::string log;
  for (const std::string& line : radio_events_) log += "  " + line + "\n";
  ADD_FAILURE() << "what the radio saw:\n" << log;
}

DirectUploadTest::~DirectUploadTest() {
  job_done_ = true;
  for (auto& t : watchers_) {
    if (t.joinable()) t.join();
  }
  if (radio_) radio_->Stop();
}

sim::RadioConfig DirectUploadTest::FastRadio() {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kDirect;
  config.erase_seconds = 0.0;
  // The radio drops a frame whose bytes come more than this apart; on a loaded machine the
  // job's thread can be held up between the three bytes of an address frame.
  config.frame_timeout = 5.0;
  return config;
}

void DirectUploadTest::StartRadio(const sim::RadioConfig& config) {
  radio_ = std::make_unique<sim::PtyRadio>(config);
  radio_->OnEvent([this](const sim::RadioEvent& event) {
    std::lock_guard lock(events_mutex_);
    if (radio_events_.size() < 500) radio_events_.push_back(sim::Describe(event));
  });
  written_before_radio_ = port_->BytesWritten();
  const std::string error = radio_->Start();
  ASSERT_EQ(error, "");
  ctx_->link.devices[0] = radio_->DevicePath();
}

void DirectUploadTest::Answer(std::string part, std::string key) {
  rules_.push_back({std::move(part), std::move(key)});
}

void DirectUploadTest::OnKeyWanted() {
  const std::string row = console_.RowTrimmed(30);
  if (row.empty()) return;
  // The operator is never kept waiting at real-time priority.
  EXPECT_FALSE(priority_.realtime) << row;
  if (row.starts_with("Hit any key to return to main menu")) {
    console_.Feed("x");
    return;
  }
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if (row.find(it->part) == std::string::npos) continue;
    const std::string key = it->key;
    rules_.erase(it);
    console_.FeedKey(key);
    return;
  }
}

void DirectUploadTest::FeedWhen(std::function<bool(const sim::RadioCounters&)> ready,
                                std::string keys) {
  watchers_.emplace_back([this, ready = std::move(ready), keys = std::move(keys)] {
    while (!job_done_) {
      if (radio_->WaitFor(ready, std::chrono::milliseconds(50))) {
        // Let the job reach the wait the keys are meant for.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        console_.Feed(keys);
        return;
      }
    }
  });
}

void DirectUploadTest::Run() {
  std::thread guard([this] {
    const auto deadline = std::chrono::steady_clock::now() + kJobLimit;
    while (!job_done_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (std::chrono::steady_clock::now() > deadline) {
        guard_fired_ = true;
        console_.Feed("\x1b");
      }
    }
  });
  result_ = direct::RunDirectUpload(*ctx_);
  job_done_ = true;
  guard.join();
  for (auto& t : watchers_) t.join();
  watchers_.clear();
  EXPECT_FALSE(guard_fired_) << "the job did not finish by itself";
  EXPECT_FALSE(console_.Starved()) << "the job waited for a key the test did not give";
  EXPECT_FALSE(port_->IsOpen());
  EXPECT_FALSE(priority_.realtime);
  job_done_ = false;
}

sim::RadioCounters DirectUploadTest::SettledCounters() {
  // The radio counts on its own thread: first wait until it has taken every byte the port
  // wrote (a loaded machine may hold its thread up), then until its count stops moving.
  const std::uint64_t sent = port_->BytesWritten() - written_before_radio_;
  radio_->WaitFor([sent](const sim::RadioCounters& r) { return r.bytes_received >= sent; },
                  std::chrono::seconds(10));
  sim::RadioCounters last = radio_->Counters();
  for (int i = 0; i < 50; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const sim::RadioCounters now = radio_->Counters();
    if (now.bytes_received == last.bytes_received && now.bytes_sent == last.bytes_sent && i > 2) {
      return now;
    }
    last = now;
  }
  return last;
}

}  // namespace tvx::testing
