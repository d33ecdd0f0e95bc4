// The RF upload as the menu runs it, against the simulated local radio behind a serial port in
// memory on a virtual time: one thread, no real pauses (the header's 100 ms, the echo windows
// and the network's countdown cost nothing). Runs on every platform.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "job/run_context.h"
#include "rf/rf_upload.h"
#include "serial/priority.h"
#include "support/memory_radio_port.h"
#include "support/scripted_console.h"
#include "support/virtual_time.h"

namespace tvx::testing {

inline constexpr std::uint32_t kRecords = 4144;

/// Counts the raises to the real-time class: one for every data-frame copy.
class CountingPriority final : public serial::Priority {
 public:
  void RaiseRealtime() override { ++raises; }
  void Normal() override {}
  int raises = 0;
};

class MemoryRfTest : public ::testing::Test {
 protected:
  MemoryRfTest() {
    console_.SetStarveLimitMs(2000);  // no key is ever waited for in real time here
    console_.OnKeyWanted([](ScriptedConsole& console) {
      if (console.RowTrimmed(30) == "Hit any key to return to main menu") console.Feed("x");
    });
    clock_.on_pause = [this](int ms) {
      if (ms == 1000) countdown_.push_back(console_.RowTrimmed(35));
    };
  }

  // Types `key` as the `nth` data-frame copy (counted from 1) goes out.
  void KeyAtDataCopy(int nth, std::string key) {
    port_->on_write = [this, nth, key, count = 0](std::span<const std::uint8_t> bytes) mutable {
      if (!bytes.empty() && bytes[0] == 0xE3 && ++count == nth) console_.Feed(key);
    };
  }

  void StartRadio(const sim::RadioConfig& config) {
    port_ = std::make_unique<MemoryRadioPort>(time_, config);
    ctx_ = std::make_unique<job::RunContext>(console_, *port_, priority_, clock_);
    ctx_->link.devices[0] = "mem:radio";  // what Com1 stands for in this run
  }

  static sim::RadioConfig RfRadio() {
    sim::RadioConfig config;
    config.mode = sim::RadioMode::kRf;
    return config;
  }

  /// Runs the job with `answers` queued; one that went past the questions opened the port once.
  void Run(const std::string& answers) {
    console_.Feed(answers);
    const int opens = port_->Opens();
    outcome_ = rf::RunRfUpload(*ctx_);
    EXPECT_FALSE(port_->Starved()) << "the job waited for an echo that could never come";
    EXPECT_FALSE(console_.Starved()) << "the job waited for a key the test did not give";
    EXPECT_EQ(console_.KeysLeft(), 0u);
    EXPECT_FALSE(port_->IsOpen());
    EXPECT_EQ(port_->Opens(), opens + (outcome_.start == rf::Start::kQuit ? 0 : 1));
  }

  VirtualTime time_;
  VirtualClock clock_{time_};
  ScriptedConsole console_;
  CountingPriority priority_;
  std::unique_ptr<MemoryRadioPort> port_;
  std::unique_ptr<job::RunContext> ctx_;
  rf::Outcome outcome_;
  /// Row 35 at each one-second pause, in order.
  std::vector<std::string> countdown_;
};

}  // namespace tvx::testing
