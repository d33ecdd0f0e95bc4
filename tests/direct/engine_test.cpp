// The direct engine on its own, against the simulated radio behind a port in memory on a
// virtual time: an operator that answers from a script and records what it is told. Judged
// from the radio's side: what it heard and when, what it stored.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "direct/engine.h"
#include "direct/protocol.h"
#include "image/firmware_image.h"
#include "image/stored_image_builder.h"
#include "job/error_state.h"
#include "job/random.h"
#include "serial/priority.h"
#include "support/forwarding_port.h"
#include "support/memory_radio_port.h"
#include "support/virtual_time.h"

namespace tvx::testing {
namespace {

using direct::Decision;
using direct::Phase;
using direct::Wait;

// "4", the access code, the divisor and the challenge; then the erase command.
constexpr std::size_t kChallengeBytes = 8;
constexpr std::size_t kHandshakeBytes = kChallengeBytes + 1;
constexpr std::int64_t kWords = 8 + 16 * 8;  // the image below

std::vector<std::uint8_t> SmallImage() {
  StoredImageBuilder builder;
  builder.Record(20, 15, 0x8000, 0x10).RunToTop(0xFF00);
  return builder.Bytes();
}

// Answers from its script (by default: go on, send again, confirm) and records what it is
// told. A wait that lasts a virtual minute is given up and marks the run stuck.
class ScriptOperator final : public direct::Operator {
 public:
  explicit ScriptOperator(job::Clock& clock) : clock_(clock) {}

  std::function<bool(direct::Plan&)> confirm;
  std::function<Decision(const direct::WaitState&)> at_wait;
  std::function<Decision(const direct::Fault&)> at_fault;
  bool stop = false;
  std::function<void()> on_error;  ///< runs at every LineError

  std::vector<Phase> phases;
  std::vector<serial::ErrorNumber> errors;
  std::vector<std::uint8_t> unexpected;
  std::vector<direct::Fault> faults;
  std::vector<direct::Mismatch> mismatches;
  std::optional<direct::ChecksumReport> checksum;
  std::optional<direct::Result> open_failed;
  std::optional<std::uint32_t> serial;
  std::optional<bool> show_time;
  std::int64_t progress = -1;
  int decisions_after_error = 0;
  int finished = 0;
  bool stuck = false;

  bool StopRequested() override { return stop; }
  console::NativeWaitHandle WakeHandle() override { return console::kNoWaitHandle; }
  bool InputPending() override { return false; }
  job::LookAgain NextLook(const direct::WaitState&) override { return {}; }
  void Doze(int ms) override { clock_.SleepMs(ms); }

  bool Confirm(direct::Plan& plan) override { return confirm ? confirm(plan) : true; }
  Decision AtWait(const direct::WaitState& wait) override {
    if (!errors.empty()) ++decisions_after_error;
    if (clock_.Seconds() - wait.since > 60.0) {
      stuck = true;
      return Decision::GiveUp();
    }
    return at_wait ? at_wait(wait) : Decision::WaitOn();
  }
  Decision AtFault(const direct::Fault& fault) override {
    faults.push_back(fault);
    return at_fault ? at_fault(fault) : Decision::Retry();
  }
  bool NextRecord() override { return true; }
  bool AtMismatch(const direct::Mismatch& mismatch) override {
    mismatches.push_back(mismatch);
    return true;
  }

  void OpenFailed(const direct::Result& result) override { open_failed = result; }
  void Begin(Phase phase) override { phases.push_back(phase); }
  void LineError(serial::ErrorNumber code) override {
    errors.push_back(code);
    if (on_error) on_error();
  }
  void SerialNumber(std::uint32_t number) override { serial = number; }
  void UnexpectedByte(std::uint8_t byte) override { unexpected.push_back(byte); }
  void Progress(std::int64_t done, std::int64_t) override { progress = done; }
  void Checksum(const direct::ChecksumReport& report) override { checksum = report; }
  void TransferEnded(double, bool shown) override { show_time = shown; }
  void Finished(const direct::Result&) override { ++finished; }

 private:
  job::Clock& clock_;
};

// Gives up a wait of `kind` once it has lasted `seconds`.
std::function<Decision(const direct::WaitState&)> GiveUpAfter(job::Clock& clock, Wait kind,
                                                              double seconds, Decision decision) {
  return [&clock, kind, seconds, decision](const direct::WaitState& w) {
    if (w.wait == kind && clock.Seconds() - w.since >= seconds) return decision;
    return Decision::WaitOn();
  };
}

// Refuses one line setting, as a device that is not a serial port would.
class RefusingPort final : public ForwardingPort {
 public:
  using ForwardingPort::ForwardingPort;
  serial::ErrorNumber Apply(serial::LineSetting setting, std::uint32_t value) override {
    if (setting == serial::LineSetting::kRxQueueSize) return serial::kErrDeviceControl;
    return ForwardingPort::Apply(setting, value);
  }
};

class EngineTest : public ::testing::Test {
 protected:
  MemoryRadioPort& StartRadio(const sim::RadioConfig& config) {
    auto port = std::make_unique<MemoryRadioPort>(time_, config);
    radio_port_ = port.get();
    port_ = std::move(port);
    return *radio_port_;
  }
  static sim::RadioConfig Radio() {
    sim::RadioConfig config;
    config.mode = sim::RadioMode::kDirect;
    return config;
  }
  static direct::Plan Plan() {
    direct::Plan plan;
    plan.port_name = plan.device = "mem:radio";
    return plan;
  }
  direct::Result Run(const direct::Plan& plan = Plan()) {
    const direct::Parts parts{*port_, errors_, priority_, clock_, random_, image_};
    const direct::Result result = direct::RunEngine(plan, parts, op_);
    EXPECT_FALSE(op_.stuck) << "a wait lasted a virtual minute";
    EXPECT_FALSE(radio_port_->Starved()) << "a wait for what could never come";
    EXPECT_FALSE(port_->IsOpen());
    EXPECT_EQ(op_.finished, 1);
    return result;
  }
  std::vector<std::uint8_t> Heard() const { return radio_port_->WireBytes(); }

  VirtualTime time_;
  VirtualClock clock_{time_};
  serial::NoPriority priority_;
  job::ErrorState errors_;
  job::Random random_;
  ScriptOperator op_{clock_};
  std::vector<std::uint8_t> image_ = SmallImage();
  std::unique_ptr<serial::SerialPort> port_;
  MemoryRadioPort* radio_port_ = nullptr;
};

TEST_F(EngineTest, CompleteUploadTellsEachPhaseOnceAndTheRadioStoresEveryWord) {
  StartRadio(Radio());
  const direct::Result result = Run();

  const auto snapshot = radio_port_->SettledSnapshot();
  const sim::DirectCounters& radio = snapshot->counters.direct;
  EXPECT_EQ(radio.words_checked_ok, static_cast<std::uint64_t>(kWords));
  EXPECT_EQ(radio.resyncs, 0u);
  EXPECT_EQ(radio.verdicts_accepted, 1u);
  EXPECT_EQ(snapshot->counters.bytes_received, kHandshakeBytes + kWords * 6 + 1);
  EXPECT_EQ(op_.phases, (std::vector<Phase>{Phase::kHandshake, Phase::kIdentity, Phase::kErase,
                                            Phase::kTransfer, Phase::kChecksum}));
  EXPECT_TRUE(op_.errors.empty());
  EXPECT_EQ(op_.serial, 9123456u);
  ASSERT_TRUE(op_.checksum.has_value());
  EXPECT_TRUE(op_.checksum->accepted);
  EXPECT_EQ(op_.progress, kWords);
  EXPECT_EQ(op_.show_time, true);

  EXPECT_EQ(result.outcome, direct::Outcome::kComplete);
  EXPECT_EQ(result.reason, direct::Reason::kNone);
  EXPECT_EQ(result.word_attempts, kWords);
  EXPECT_EQ(result.words_done, kWords);
  // Nine characters a word at 19200 bit/s and the checksum's two, nothing more.
  EXPECT_NEAR(result.seconds, (kWords * 9 + 2) * 10 / 19200.0, 1e-9);
}

// The diagnostic port is woken as soon as it is open, before the operator's last word, which
// chooses the speed; an operator that declines leaves the radio with the wake alone.
TEST_F(EngineTest, TheConfirmComesAfterTheWakeAndChoosesTheSpeed) {
  direct::Plan plan = Plan();
  plan.diag_port = true;
  std::vector<std::uint8_t> heard_at_confirm;
  op_.confirm = [&](direct::Plan& p) {
    heard_at_confirm = Heard();
    p.high_speed = true;
    return true;
  };
  StartRadio(Radio());
  EXPECT_EQ(Run(plan).outcome, direct::Outcome::kComplete);
  EXPECT_EQ(heard_at_confirm, std::vector<std::uint8_t>{direct::kDiagPortWake});
  EXPECT_EQ(Heard()[6], direct::kHighSpeedDivisor);
  EXPECT_EQ(radio_port_->Wire().back().rate, 115200u);
  EXPECT_EQ(radio_port_->SettledSnapshot()->counters.direct.verdicts_accepted, 1u);
}

TEST_F(EngineTest, AConfirmDeclinedLeavesTheRadioWithTheWakeAlone) {
  direct::Plan plan = Plan();
  plan.diag_port = true;
  op_.confirm = [](direct::Plan&) { return false; };
  StartRadio(Radio());
  const direct::Result declined = Run(plan);
  EXPECT_EQ(Heard(), std::vector<std::uint8_t>{direct::kDiagPortWake});
  EXPECT_EQ(declined.outcome, direct::Outcome::kQuit);
  EXPECT_EQ(declined.reason, direct::Reason::kOperator);
  EXPECT_TRUE(op_.phases.empty());
}

// A radio with another access code answers a plan that carries it.
TEST_F(EngineTest, TheAccessCodeIsThePlans) {
  sim::RadioConfig config = Radio();
  config.access_code = {0x11, 0x22, 0x33, 0x44};
  StartRadio(config);
  direct::Plan plan = Plan();
  plan.access_code = config.access_code;
  EXPECT_EQ(Run(plan).outcome, direct::Outcome::kComplete);
  const std::vector<std::uint8_t> heard = Heard();
  EXPECT_EQ(std::vector<std::uint8_t>(heard.begin() + 1, heard.begin() + 5),
            (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44}));
}

// The fifth word's echo never comes; a second later the operator has it sent again: the radio
// hears the resync and the same frame, and the result names the word that went out twice.
TEST_F(EngineTest, ARetryResendsTheWordAfterAResyncAndIsNamedAsResent) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kDropEcho, 5);
  StartRadio(config);
  op_.at_wait = GiveUpAfter(clock_, Wait::kEcho, 1.0, Decision::Retry());
  const direct::Result result = Run();

  const std::size_t fifth = kHandshakeBytes + 4 * 6;
  const auto& wire = radio_port_->Wire();
  const std::vector<std::uint8_t> heard = Heard();
  ASSERT_GE(wire.size(), fifth + 10);
  EXPECT_EQ(std::vector<std::uint8_t>(heard.begin() + fifth, heard.begin() + fifth + 10),
            (std::vector<std::uint8_t>{1, 0x80, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0x80, 0x08}));
  EXPECT_NEAR(wire[fifth + 3].written_at - wire[fifth + 2].written_at, 1.0, 0.002);
  const auto snapshot = radio_port_->SettledSnapshot();
  EXPECT_EQ(snapshot->counters.direct.resyncs, 1u);
  EXPECT_EQ(snapshot->counters.direct.verdicts_accepted, 1u);
  EXPECT_EQ(result.outcome, direct::Outcome::kComplete);
  EXPECT_EQ(result.resent_words, 1);
  EXPECT_EQ(result.resent_addresses, std::vector<std::uint16_t>{0x8008});
  EXPECT_EQ(result.word_attempts, kWords + 1);
}

// Giving up at a wrong reply: the radio hears nothing more, no resync and no verdict; the result
// says where and why, with the operator's reason.
TEST_F(EngineTest, GivingUpAtAFaultSendsNothingMore) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kBadReply, 5);
  StartRadio(config);
  op_.at_fault = [](const direct::Fault&) {
    return Decision::GiveUp(direct::Reason::kRetriesSpent);
  };
  const direct::Result result = Run();

  EXPECT_EQ(Heard().size(), kHandshakeBytes + 5 * 6);
  ASSERT_EQ(op_.faults.size(), 1u);
  const direct::Fault& fault = op_.faults[0];
  EXPECT_EQ(fault.prompt, direct::Prompt::kBadData);
  EXPECT_EQ(fault.address, 0x8008);
  EXPECT_EQ(fault.word, 4);
  EXPECT_EQ(fault.reply, static_cast<std::uint8_t>(~fault.expected));
  EXPECT_EQ(result.outcome, direct::Outcome::kStopped);
  EXPECT_EQ(result.reason, direct::Reason::kRetriesSpent);
  EXPECT_EQ(result.stage, direct::Stage::kTransfer);
  EXPECT_EQ(result.prompt, direct::Prompt::kBadData);
  EXPECT_EQ(result.words_done, 4);
  EXPECT_EQ(result.address, 0x8008);
  EXPECT_EQ(result.tries, 1);
  EXPECT_EQ(op_.show_time, true);
}

// The radio hangs up after word 20: the 59 is told once, nothing more is asked of the operator,
// and the result says the line died at word 20.
TEST_F(EngineTest, ADeadLineIsToldOnceAndEndsTheUploadThere) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kHangUp, 20);
  StartRadio(config);
  const direct::Result result = Run();

  EXPECT_EQ(op_.errors, std::vector<serial::ErrorNumber>{serial::kErrLineDead});
  EXPECT_EQ(op_.decisions_after_error, 0);
  EXPECT_EQ(errors_.code, serial::kNoError);
  EXPECT_EQ(result.outcome, direct::Outcome::kStopped);
  EXPECT_EQ(result.reason, direct::Reason::kLineDead);
  EXPECT_EQ(result.stage, direct::Stage::kTransfer);
  EXPECT_EQ(result.words_done, 20);
  EXPECT_EQ(result.line_code, serial::kErrLineDead);
  EXPECT_EQ(radio_port_->SettledSnapshot()->counters.direct.words_checked_ok, 20u);
}

// Noise after "4" is thrown away by the handshake; the noise before the erase is done is told
// byte by byte, and the upload goes on.
TEST_F(EngineTest, NoiseInTheEraseWaitIsToldAndTheWaitGoesOn) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kGarbage, 0, 3);
  StartRadio(config);
  EXPECT_EQ(Run().outcome, direct::Outcome::kComplete);
  EXPECT_EQ(op_.unexpected.size(), 3u);
  for (const std::uint8_t byte : op_.unexpected) EXPECT_NE(byte, direct::kEraseDone);
}

// A stop requested while a silent radio's identity is awaited ends the wait at its next look:
// the radio hears no erase command.
TEST_F(EngineTest, AStopEndsASilentIdentityWait) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kSilent);
  StartRadio(config);
  op_.at_wait = [this](const direct::WaitState& w) {
    if (clock_.Seconds() - w.since >= 0.5) op_.stop = true;
    return Decision::WaitOn();
  };
  const direct::Result result = Run();
  EXPECT_EQ(Heard().size(), kChallengeBytes);
  EXPECT_EQ(result.outcome, direct::Outcome::kInterrupted);
  EXPECT_EQ(result.reason, direct::Reason::kSignal);
  EXPECT_EQ(result.stage, direct::Stage::kIdentity);
  EXPECT_FALSE(op_.show_time.has_value());
}

// The handshake's checks: a line error met by the first bytes-waiting query (nothing to throw
// away) is reported at the check after "4"; a send the port refuses (the second access-code
// byte) at once after it. The sequence goes on either way: every other handshake byte still
// goes out, and the radio, refusing the handshake, is waited for.
TEST_F(EngineTest, HandshakeChecksReportEachCodeAtTheStepAfterIt) {
  StartRadio(Radio());
  radio_port_->LineErrorAt(0.0);
  radio_port_->RefuseWrite(1, 3);  // "4", the first access-code byte, then this one
  std::vector<std::size_t> heard_at_error;
  op_.on_error = [&] { heard_at_error.push_back(Heard().size()); };
  op_.at_wait = GiveUpAfter(clock_, Wait::kIdentity, 1.0, Decision::GiveUp());
  const direct::Result result = Run();

  EXPECT_EQ(op_.errors,
            (std::vector<serial::ErrorNumber>{serial::kErrLineError, serial::kErrSendFailed}));
  EXPECT_EQ(heard_at_error, (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(Heard().size(), kChallengeBytes - 1);
  EXPECT_EQ(errors_.code, serial::kNoError);
  EXPECT_EQ(result.stage, direct::Stage::kIdentity);
  EXPECT_EQ(result.reason, direct::Reason::kOperator);
}

// A stop that comes just after the fifth word's data frame went out: the radio stores the word
// as it takes the frame, so its reply is waited for and the word counts when it comes; nothing
// more goes to the radio. A reply that says the word went wrong counts nothing, and is put to
// no prompt and followed by no resync.
TEST_F(EngineTest, AStopAfterADataFrameCountsWhatTheRadioStored) {
  struct Case {
    const char* name;
    bool bad_reply;
    std::int64_t reported;  // words done, as the result and the last progress say
    std::uint64_t stored;   // words the radio stored
  } const cases[] = {
      {"the reply comes", false, 5, 5},
      {"the reply is wrong", true, 4, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    op_.stop = false;
    op_.faults.clear();
    op_.finished = 0;
    sim::RadioConfig config = Radio();
    if (c.bad_reply) config.Add(sim::Fault::kBadReply, 5);
    StartRadio(config);
    int data_frames = 0;
    radio_port_->on_write = [&](std::span<const std::uint8_t> bytes) {
      if (bytes.size() == 3 && ++data_frames == 5) op_.stop = true;
    };
    const direct::Result result = Run();

    const auto snapshot = radio_port_->SettledSnapshot();
    EXPECT_EQ(snapshot->counters.direct.words_checked_ok, c.stored);
    EXPECT_EQ(result.words_done, c.reported);
    EXPECT_EQ(op_.progress, c.reported);
    EXPECT_EQ(snapshot->counters.bytes_received, kHandshakeBytes + 5 * 6);
    EXPECT_TRUE(op_.faults.empty());
    EXPECT_EQ(result.outcome, direct::Outcome::kInterrupted);
    EXPECT_EQ(result.reason, direct::Reason::kSignal);
  }
}

// A device in use, or one that opens but refuses a line setting: the code is told once, the
// operator hears why, nothing reaches the radio and the port is left closed.
TEST_F(EngineTest, ADeviceInUseIsToldWithItsCode) {
  StartRadio(Radio()).FailOpen(serial::kErrAccessDenied);
  const direct::Result result = Run();
  EXPECT_EQ(op_.errors, std::vector<serial::ErrorNumber>{serial::kErrAccessDenied});
  ASSERT_TRUE(op_.open_failed.has_value());
  EXPECT_EQ(op_.open_failed->open_code, serial::kErrAccessDenied);
  EXPECT_FALSE(op_.open_failed->settings_refused);
  EXPECT_EQ(result.outcome, direct::Outcome::kPortNotOpened);
  EXPECT_EQ(result.reason, direct::Reason::kPortNotOpened);
  EXPECT_TRUE(Heard().empty());
}

TEST_F(EngineTest, ARefusedLineSettingClosesThePortAgain) {
  auto memory = std::make_unique<MemoryRadioPort>(time_, Radio());
  radio_port_ = memory.get();
  port_ = std::make_unique<RefusingPort>(std::move(memory));
  const direct::Result result = Run();
  EXPECT_EQ(op_.errors, std::vector<serial::ErrorNumber>{serial::kErrDeviceControl});
  EXPECT_EQ(result.reason, direct::Reason::kSettingsRefused);
  EXPECT_TRUE(result.settings_refused);
  EXPECT_EQ(radio_port_->Closes(), 1);
  EXPECT_TRUE(Heard().empty());
}

// A word stored wrongly: the checksum is rejected with 0x55, every word is read back, the one
// that differs is put to the operator, and the program time is not shown after the whole pass.
TEST_F(EngineTest, ARejectedChecksumReadsEveryWordBack) {
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kCorruptStore, 10);
  StartRadio(config);
  const direct::Result result = Run();

  ASSERT_TRUE(op_.checksum.has_value());
  EXPECT_FALSE(op_.checksum->accepted);
  EXPECT_EQ(Heard()[kHandshakeBytes + kWords * 6], direct::kChecksumRejected);
  const auto snapshot = radio_port_->SettledSnapshot();
  EXPECT_EQ(snapshot->counters.direct.verdicts_rejected, 1u);
  EXPECT_EQ(snapshot->counters.direct.readback_words, static_cast<std::uint64_t>(kWords));
  ASSERT_EQ(op_.mismatches.size(), 1u);
  const direct::Mismatch& m = op_.mismatches[0];
  EXPECT_EQ(m.word, 9);
  EXPECT_EQ(m.address, 0xFF02);  // the second word of the second record
  EXPECT_EQ(m.g0, m.b0);
  EXPECT_EQ(m.g1, m.b1 ^ 1);
  EXPECT_EQ(op_.show_time, false);
  EXPECT_EQ(result.outcome, direct::Outcome::kChecksumError);
  EXPECT_EQ(result.reason, direct::Reason::kChecksumMismatch);
  EXPECT_EQ(result.words_read_back, kWords);
}

}  // namespace
}  // namespace tvx::testing
