// The direct sub-command's operator: the engine against the simulated radio behind a port in
// memory on a virtual time, its decisions answered by the retries and the silence limit, its
// words read back from the line-mode output. And the outcome lines of the ends a radio cannot
// easily be made to show.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/direct_policy.h"
#include "app/direct_sentences.h"
#include "app/line_report.h"
#include "direct/engine.h"
#include "direct/protocol.h"
#include "image/stored_image_builder.h"
#include "job/error_state.h"
#include "job/random.h"
#include "serial/priority.h"
#include "support/memory_radio_port.h"
#include "support/virtual_time.h"

namespace tvx::testing {
namespace {

constexpr std::size_t kChallengeBytes = 8;  // "4", the access code, the divisor, the challenge

std::string Slurp(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

class DirectPolicyTest : public ::testing::Test {
 protected:
  DirectPolicyTest() {
    StoredImageBuilder builder;
    builder.Record(20, 15, 0x8000, 0x10).RunToTop(0xFF00);
    image_ = builder.Bytes();
  }
  ~DirectPolicyTest() override {
    std::fclose(out_);
    std::fclose(err_);
  }

  direct::Result Run(sim::RadioConfig config, std::int32_t retries, double timeout) {
    config.mode = sim::RadioMode::kDirect;
    port_ = std::make_unique<MemoryRadioPort>(time_, config);
    app::LineOptions options;
    options.out = out_;
    options.err = err_;
    app::LineReport report(options, clock_, "words");
    app::DirectPolicy policy(report, clock_, app::Printable("mem:radio"), retries, timeout, stop_);
    direct::Plan plan;
    plan.port_name = plan.device = "mem:radio";
    const direct::Parts parts{*port_, errors_, priority_, clock_, random_, image_};
    const direct::Result result = direct::RunEngine(plan, parts, policy);
    report.Outcome(app::DirectOutcomeLine(result, policy.Facts()), "{}\n");
    EXPECT_FALSE(port_->Starved());
    return result;
  }
  // The times at which the radio heard `frame` begin, in order.
  std::vector<double> TimesOf(const std::vector<std::uint8_t>& frame) const {
    std::vector<double> times;
    const auto& wire = port_->Wire();
    for (std::size_t i = 0; i + frame.size() <= wire.size(); ++i) {
      bool same = true;
      for (std::size_t j = 0; j < frame.size() && same; ++j) same = wire[i + j].value == frame[j];
      if (same) times.push_back(wire[i].written_at);
    }
    return times;
  }

  VirtualTime time_;
  VirtualClock clock_{time_};
  serial::NoPriority priority_;
  job::ErrorState errors_;
  job::Random random_;
  console::StopRequest stop_;
  std::vector<std::uint8_t> image_;
  std::unique_ptr<MemoryRadioPort> port_;
  std::FILE* out_ = std::tmpfile();
  std::FILE* err_ = std::tmpfile();
};

// The radio goes mute after word 40: the next word's address frame goes out again each time its
// echo has been missing for the limit, after a resync, until the retries are spent; then
// nothing more reaches the radio, no verdict either.
TEST_F(DirectPolicyTest, SilenceSendsTheWordAgainAtTheLimitUntilTheRetriesAreSpent) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kMute, 40);
  const direct::Result result = Run(config, 2, 2.0);

  const std::vector<double> frames = TimesOf({1, 0xFF, 0x40});
  const std::vector<double> resyncs = TimesOf({0xFF, 0xFF, 0xFF, 0xFF});
  ASSERT_EQ(frames.size(), 3u);
  ASSERT_EQ(resyncs.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    // The echo would be in 1.04 ms; the limit counts from the wait's start, right after the
    // frame's last byte left.
    EXPECT_NEAR(resyncs[i] - frames[i], 2.0, 0.002) << i;
  }
  EXPECT_EQ(port_->Wire().back().written_at, frames[2]);
  EXPECT_NEAR(time_.Now() - frames[2], 2.0, 0.002);
  EXPECT_EQ(port_->SettledSnapshot()->counters.direct.word_attempts, 43u);

  EXPECT_EQ(result.reason, direct::Reason::kRetriesSpent);
  const std::string err = Slurp(err_);
  EXPECT_NE(err.find("Starting Download\n"
                     "word 40 (address FF40): no echo in 2.0 s  -> retry 1 of 2\n"
                     "word 40 (address FF40): no echo in 2.0 s  -> retry 2 of 2\n"
                     "word 40 (address FF40): no echo in 2.0 s  -> no retries left: stopping\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(Slurp(out_),
            "Upload stopped before the end (retries spent): word 40 (address FF40) went out 3 "
            "times, the last stopped at \"no echo of the address\"; the radio's firmware is "
            "incomplete; load it again.\n");
}

// The retries count per word: two words that each need one retry both get it.
TEST_F(DirectPolicyTest, RetriesCountPerWordAndTheResentWordsAreNamed) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kDropEcho, 5);
  config.Add(sim::Fault::kBadReply, 20);  // the attempt that is word 18 (word 4 went out twice)
  const direct::Result result = Run(config, 1, 1.0);

  EXPECT_EQ(port_->SettledSnapshot()->counters.direct.verdicts_accepted, 1u);
  EXPECT_EQ(app::DirectExitStatus(result), app::kExitResentWords);
  const std::string err = Slurp(err_);
  EXPECT_NE(err.find("word 4 (address 8008): no echo in 1.0 s  -> retry 1 of 1\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("word 18 (address FF14): I Sent "), std::string::npos) << err;
  EXPECT_NE(err.find("Bad Data!,Continue?(<esc> to quit)  -> retry 1 of 1\n"), std::string::npos)
      << err;
  const std::string out = Slurp(out_);
  EXPECT_TRUE(
      out.ends_with(", but 2 resent words are not covered by the checksum (addresses "
                    "8008, FF14): load it again to be sure.\n"))
      << out;
}

// A radio that never answers the identity request: after the limit the upload ends; the radio
// heard the handshake and no erase command.
TEST_F(DirectPolicyTest, ASilentRadioIsLeftAtTheLimitWithNothingWritten) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kSilent);
  const direct::Result result = Run(config, 3, 10.0);

  ASSERT_EQ(port_->WireBytes().size(), kChallengeBytes);
  // The identity wait starts once the line is switched, 5 ms after the challenge.
  EXPECT_NEAR(time_.Now() - port_->Wire().back().written_at, 0.005 + 10.0, 0.002);
  EXPECT_EQ(result.reason, direct::Reason::kRadioSilent);
  EXPECT_EQ(Slurp(out_),
            "Upload stopped: the radio did not answer the identity request in 10.0 s; nothing was "
            "written to it. Check the cable, that the radio is in set-up mode, and that it takes "
            "this program's access code.\n");
}

// Noise while the radio erases is not silence: the end says what came instead.
TEST_F(DirectPolicyTest, NoiseInAnEndlessEraseIsNamedNotCalledSilence) {
  sim::RadioConfig config;
  config.Add(sim::Fault::kGarbage, 0, 3);
  config.erase_seconds = 1.0e6;
  const direct::Result result = Run(config, 3, 2.0);

  EXPECT_EQ(port_->SettledSnapshot()->counters.direct.word_attempts, 0u);
  EXPECT_EQ(result.reason, direct::Reason::kUnexpectedBytes);
  EXPECT_EQ(result.unexpected_bytes, 3);
  const std::string err = Slurp(err_);
  EXPECT_EQ(err.find("while erasing, not the acknowledgement AA: waiting on.\n"),
            err.rfind("while erasing, not the acknowledgement AA: waiting on.\n"))
      << "told once: " << err;
  EXPECT_EQ(Slurp(out_),
            "Upload stopped while the radio was erasing: in 2.0 s the radio sent 3 bytes, but not "
            "the erase acknowledgement; the radio's firmware is incomplete; load it again.\n");
}

// The ends a radio does not easily show, each as the line the user reads.
TEST(DirectSentencesTest, EveryEndIsNamed) {
  app::DirectFacts facts;
  facts.device = app::Printable("/dev/ttyUSB0");

  direct::Result resent;
  resent.outcome = direct::Outcome::kComplete;
  resent.serial_number = 9123456;
  resent.word_attempts = 33107;
  resent.seconds = 26.5;
  resent.resent_words = 10;
  for (std::uint16_t a = 0x8000; a < 0x8014; a += 2) resent.resent_addresses.push_back(a);
  EXPECT_EQ(app::DirectOutcomeLine(resent, facts),
            "Upload complete: radio 9123456 accepted the checksum, 33107 words in 26.50 s, but 10 "
            "resent words are not covered by the checksum (addresses 8000, 8002, 8004, 8006, "
            "8008, 800A, 800C, 800E and 2 more): load it again to be sure.");

  direct::Result verdict;
  verdict.outcome = direct::Outcome::kStopped;
  verdict.reason = direct::Reason::kVerdictNotSent;
  verdict.stage = direct::Stage::kChecksum;
  verdict.transfer_started = true;
  EXPECT_EQ(app::DirectOutcomeLine(verdict, facts),
            "Upload stopped: every word went out, but the checksum verdict could not be written to "
            "the radio; the radio's firmware is incomplete; load it again.");

  direct::Result not_a_radio;
  not_a_radio.outcome = direct::Outcome::kRefused;
  not_a_radio.reason = direct::Reason::kNotARadio;
  not_a_radio.stage = direct::Stage::kIdentity;
  facts.identity_reply = {0xFE, 1, 2, 3};
  EXPECT_EQ(app::DirectOutcomeLine(not_a_radio, facts),
            "Radio refused: its identity reply begins with FE, not FF: not a Torvandrix radio; "
            "nothing was written to the radio.");

  direct::Result read_back;
  read_back.outcome = direct::Outcome::kChecksumError;
  read_back.reason = direct::Reason::kChecksumMismatch;
  read_back.stage = direct::Stage::kReadBack;
  read_back.words_read_back = 20;
  read_back.word_total = 139;
  facts.read_back_line_died = true;
  EXPECT_EQ(app::DirectOutcomeLine(read_back, facts),
            "Upload failed: checksum error from the radio. Upload again before using the radio. "
            "The read-back stopped after 20 of 139 words: the line died.");
  EXPECT_EQ(app::DirectExitStatus(read_back), app::kExitChecksumError);
}

TEST(DirectSentencesTest, AnOpenThatFailedSaysTheCodeTheSystemsWordsAndWhatToDo) {
  constexpr const char* kHint = "Join the dialout group.";
  struct Case {
    serial::ErrorNumber code;
    const char* error;
    bool settings_refused;
    const char* device;
    const char* hint;
    const char* expected;
  };
  const Case cases[] = {
      {75, "Permission denied", false, "/dev/ttyUSB0", kHint,
       "Cannot open /dev/ttyUSB0: code 75, the system refused access (Permission denied). "
       "Join the dialout group."},
      {serial::kErrAccessDenied, "Device or resource busy", false, "/dev/ttyUSB0", kHint,
       "Cannot open /dev/ttyUSB0: code 70, the port is in use by another program (Device or "
       "resource busy). Close the program that holds it, or choose another port."},
      // What is there but is no serial port: no permission hint.
      {serial::kErrDeviceControl, "a device that is not a terminal", false, "/dev/null", kHint,
       "Cannot open /dev/null: code 5, not a serial port (a device that is not a terminal). "
       "'torvandrix-upload ports' lists the serial devices."},
      {serial::kErrDeviceControl, "Invalid argument", true, "/dev/zero", "",
       "/dev/zero opened, but refused its line settings (code 5: Invalid argument): it may not "
       "be a serial port."},
      {serial::kErrDeviceControl, "", true, "/dev/zero", "",
       "/dev/zero opened, but refused its line settings (code 5): it may not be a serial "
       "port."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    direct::Result result;
    result.outcome = direct::Outcome::kPortNotOpened;
    result.open_code = c.code;
    result.open_error = c.error;
    result.settings_refused = c.settings_refused;
    EXPECT_EQ(app::OpenFailureSentence(result, app::Printable(c.device), c.hint), c.expected);
    EXPECT_EQ(app::DirectExitStatus(result), app::kExitPortNotOpened);
  }
  direct::Result result;
  result.outcome = direct::Outcome::kPortNotOpened;
  result.open_code = serial::kErrDeviceControl;
  app::DirectFacts facts;
  facts.device = app::Printable("/dev/null");
  EXPECT_EQ(app::DirectOutcomeLine(result, facts),
            "The port /dev/null could not be opened: code 5, not a serial port.");
}

}  // namespace
}  // namespace tvx::testing
