// The direct upload as the menu runs it, against the simulated radio behind a serial port in
// memory on a virtual time: one thread, no real pauses, the radio's own timing (erase time,
// frame time-outs, handshake pauses) left as a real radio keeps it. Runs on every platform.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "direct/direct_upload.h"
#include "direct/protocol.h"
#include "image/firmware_image.h"
#include "image/stored_image_builder.h"
#include "job/run_context.h"
#include "serial/priority.h"
#include "support/deaf_port.h"
#include "support/memory_radio_port.h"
#include "support/program_time.h"
#include "support/scripted_console.h"
#include "support/small_image.h"
#include "support/virtual_time.h"

namespace tvx::testing {

inline constexpr std::uint64_t kReleaseWords = 33097;
// "4", the access code, the divisor, the challenge and the erase command.
inline constexpr std::size_t kHandshakeBytes = 9;
// "4" 300 ms, four access-code bytes 10 ms each, divisor 10 ms, challenge 10 + 5 ms.
inline constexpr long long kHandshakePauseMs = 365;
inline constexpr const char* kStopped =
    "Upload stopped before the end: the radio's firmware is incomplete.";

/// Counts the raises to the real-time class; `on_normal` runs at every return to the normal
/// class with that count (the line-rate switch is the first, then one each record).
class HookPriority final : public serial::Priority {
 public:
  void RaiseRealtime() override { ++raises; }
  void Normal() override {
    if (on_normal) on_normal(raises);
  }
  int raises = 0;
  std::function<void(int)> on_normal;
};

/// A direct upload run the way the menu runs it, keys from a scripted console, on a memory port
/// made by StartRadio; Run feeds answers_ and runs the job to its end on the test's thread.
class MemoryUploadTest : public ::testing::Test {
 protected:
  MemoryUploadTest() {
    console_.SetStarveLimitMs(2000);  // no key is ever waited for in real time here
    console_.OnKeyWanted([this](ScriptedConsole& console) { OnKeyWanted(console); });
  }

  void StartRadio(const sim::RadioConfig& config) {
    port_ = std::make_unique<MemoryRadioPort>(time_, config);
    ctx_ = std::make_unique<job::RunContext>(console_, *port_, priority_, clock_);
    ctx_->link.devices[0] = "mem:radio";  // what Com1 stands for in this run
    port_->on_quiet = [this] { OnQuiet(); };
  }
  /// A new radio on a new port for the next upload of the same run: the error latch and count,
  /// the progress counter and the image go on from the last upload.
  void NextRadio(const sim::RadioConfig& config) {
    const job::RunContext last = *ctx_;
    StartRadio(config);
    ctx_->errors = last.errors;
    ctx_->progress_counter = last.progress_counter;
    ctx_->image = last.image;
  }
  /// Puts a DeafPort between the job and the memory port of this run (after StartRadio); the
  /// test deafens it when it wants.
  DeafPort& BetweenJobAndRadio() {
    deaf_ = std::make_unique<DeafPort>(*port_);
    const job::RunContext last = *ctx_;
    ctx_ = std::make_unique<job::RunContext>(console_, *deaf_, priority_, clock_);
    ctx_->link = last.link;
    ctx_->image = last.image;
    return *deaf_;
  }
  static sim::RadioConfig Radio() {
    sim::RadioConfig config;
    config.mode = sim::RadioMode::kDirect;
    return config;
  }

  /// Answers the next prompt on row 30 containing `part` with `key`, once.
  void Answer(std::string part, std::string key) {
    rules_.push_back({std::move(part), std::move(key)});
  }

  /// `opens`: how often the job opens the port (0 when it is left at the port question).
  void Run(int opens_expected = 1) {
    console_.Feed(answers_);
    const int opens = port_->Opens();
    result_ = direct::RunDirectUpload(*ctx_);
    EXPECT_FALSE(stuck_) << "the job waited a minute for an answer that did not come";
    EXPECT_FALSE(port_->Starved()) << "the job waited for an answer that could never come";
    EXPECT_FALSE(console_.Starved()) << "the job waited for a key the test did not give";
    EXPECT_EQ(console_.KeysLeft(), 0u);
    EXPECT_FALSE(port_->IsOpen());
    EXPECT_EQ(port_->Opens(), opens + opens_expected);
  }

  // Words of the walk not found at their place in the radio's memory.
  static int MemoryMismatches(const sim::RadioMemory& memory, std::span<const std::uint8_t> image) {
    int mismatches = 0;
    image::RecordBuffer buffer{};
    image::ImageWalk walk(image, buffer);
    while (walk.NextRecord()) {
      const auto& space = memory.space[walk.SpaceByte()];
      for (image::Word w; walk.NextWord(w);) {
        const auto next = static_cast<std::uint16_t>(w.address + 1);
        if (space[w.address] != w.b0 || space[next] != w.b1) ++mismatches;
      }
    }
    return mismatches;
  }

  VirtualTime time_;
  VirtualClock clock_{time_};
  ScriptedConsole console_;
  HookPriority priority_;
  std::unique_ptr<MemoryRadioPort> port_;
  std::unique_ptr<DeafPort> deaf_;
  std::unique_ptr<job::RunContext> ctx_;
  direct::Result result_;
  /// The answers to the three questions Run feeds first.
  std::string answers_ = "N\rY\r\r";          // data port, radio in set-up, normal speed
  std::vector<std::string> prompts_;          ///< row 30 at each prompt answered by a rule
  std::vector<bool> prompts_yellow_on_blue_;  ///< whether each of them was
  /// Runs whenever the job waits on a quiet line (the radio will say nothing more unless the
  /// job writes): where an operator would press a key.
  std::function<void()> on_quiet_;

 private:
  // A job left waiting on a quiet line for a minute is stuck: it gets an Escape, and the test
  // fails, instead of waiting for ever.
  void OnQuiet() {
    if (on_quiet_) on_quiet_();
    const auto& wire = port_->Wire();
    const double last_write = wire.empty() ? 0.0 : wire.back().written_at;
    if (!stuck_ && time_.Now() - last_write > 60.0) {
      stuck_ = true;
      console_.Feed("\x1b");
    }
  }

  void OnKeyWanted(ScriptedConsole& console) {
    const std::string row = console.RowTrimmed(30);
    if (row == "Hit any key to return to main menu") {
      console.Feed("x");
      return;
    }
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
      if (row.find(it->part) == std::string::npos) continue;
      prompts_.push_back(row);
      prompts_yellow_on_blue_.push_back(console.RowColours(30, 1, static_cast<int>(row.size()),
                                                           console::kYellow, console::kBlue));
      const std::string key = it->key;
      rules_.erase(it);
      console.FeedKey(key);
      return;
    }
  }

  struct Rule {
    std::string part;
    std::string key;
  };
  std::vector<Rule> rules_;
  bool stuck_ = false;
};

}  // namespace tvx::testing
