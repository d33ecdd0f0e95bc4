// The script engine against the simulated radio behind a port in memory, on virtual time: an
// expect sees the radio's byte the moment it is readable, the next send goes out at that same
// moment (no polling pause anywhere), and a match that could still grow waits for the radio to
// fall quiet, exactly the settle gap, before it is taken.
#include "terminal/setup_run.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_radio_port.h"
#include "support/virtual_time.h"

namespace tvx::testing {
namespace {

using terminal::StepKind;

class Quiet final : public terminal::SetupListener {
 public:
  void Text(std::string_view text) override { shown += text; }
  std::string shown;
};

// When the byte of the radio's answers that ends the first `text` (after `from`) was readable.
double ReadyAt(const MemoryRadioPort& port, const std::string& text) {
  std::string said;
  for (const MemoryRadioPort::AnswerByte& b : port.Answers()) {
    said += static_cast<char>(b.value);
    if (said.ends_with(text)) return b.ready_at;
  }
  ADD_FAILURE() << "the radio never said " << text;
  return -1;
}

// When the first byte `value` written after `after` went.
double WrittenAt(const MemoryRadioPort& port, std::uint8_t value, double after) {
  for (const MemoryRadioPort::WireByte& b : port.Wire()) {
    if (b.value == value && b.written_at >= after) return b.written_at;
  }
  ADD_FAILURE() << "never written: " << int{value};
  return -1;
}

TEST(SetupRunTest, AMatchIsSeenAtOnceAndTheNextSendGoesAtOnce) {
  VirtualTime time;
  VirtualClock clock(time);
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kSetup;
  MemoryRadioPort port(time, config);
  port.SetLatency(0.002);
  terminal::SetupPlan plan;
  plan.device = "mem:radio";
  for (const auto& [kind, text] : {std::pair{StepKind::kSend, "3\r"},
                                   {StepKind::kExpect, "Rev (?<rev>[0-9.]+)"},
                                   {StepKind::kSend, "?\r"},
                                   {StepKind::kExpect, "menu\\n\\nChoice> (?<rest>\\w*)"},
                                   {StepKind::kSend, "1\r"}}) {
    plan.steps.push_back({kind, text, 0, "test"});
  }
  Quiet listener;
  const terminal::SetupResult result =
      terminal::RunSetupScript(plan, {port, clock, nullptr, {}, console::kNoWaitHandle}, listener);
  ASSERT_EQ(result.outcome, terminal::SetupOutcome::kComplete) << listener.shown;
  ASSERT_EQ(result.matches.size(), 2u);
  EXPECT_EQ(result.matches[0].captures[0].value, "2.54");

  // "2.54" is complete only with the carriage return after it: "?" goes out the moment that
  // byte is readable; the match is dated by its own last byte.
  EXPECT_DOUBLE_EQ(result.matches[0].seconds, ReadyAt(port, "Rev 2.54"));
  EXPECT_DOUBLE_EQ(WrittenAt(port, '?', 0), ReadyAt(port, "Rev 2.54\r"));

  // "Choice> " could still grow a word: taken once the radio was quiet for the settle gap, as
  // of the byte that completed it, and "1" follows at once.
  const double prompt_end = ReadyAt(port, "This menu\r\n\r\nChoice> ");
  EXPECT_DOUBLE_EQ(result.matches[1].seconds, prompt_end);
  EXPECT_NEAR(WrittenAt(port, '1', prompt_end), prompt_end + terminal::kSettleMs / 1000.0, 1e-3);
  EXPECT_FALSE(port.Starved());
}

}  // namespace
}  // namespace tvx::testing
