// The direct upload as the menu runs it, against the simulated radio behind a serial port in
// memory on a virtual time: one thread, no real pauses, the radio's own timing (erase time,
// frame time-outs, handshake pauses) left as a real radio keeps it. Runs on every platform.
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
#include "support/memory_radio_port.h"
#include "support/program_time.h"
#include "support/scripted_console.h"
#include "support/small_image.h"
#include "support/virtual_time.h"

namespace tvx::testing {
namespace {

constexpr std::uint64_t kReleaseWords = 33097;
// "4", the access code, the divisor, the challenge and the erase command.
constexpr std::size_t kHandshakeBytes = 9;
// "4" 300 ms, four access-code bytes 10 ms each, divisor 10 ms, challenge 10 + 5 ms.
constexpr long long kHandshakePauseMs = 365;
constexpr const char* kStopped =
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

// The index of the first word of the walk whose data frame starts with 0 or 1 (which are also
// the space bytes of an address frame), or with anything else.
std::size_t WordWithFirstDataByte(bool small) {
  const auto& words = UploadWords(SmallImage());
  for (std::size_t i = 0; i < words.size(); ++i) {
    const image::Word& w = words[i].word;
    const std::uint8_t d0 = direct::MakeDataFrame(w.address, w.b0, w.b1).d0;
    if ((d0 <= 1) == small) return i;
  }
  return words.size();
}

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
  static sim::RadioConfig Radio() {
    sim::RadioConfig config;
    config.mode = sim::RadioMode::kDirect;
    return config;
  }

  /// Answers the next prompt on row 30 containing `part` with `key`, once.
  void Answer(std::string part, std::string key) {
    rules_.push_back({std::move(part), std::move(key)});
  }

  void Run() {
    console_.Feed(answers_);
    const int opens = port_->Opens();
    result_ = direct::RunDirectUpload(*ctx_);
    EXPECT_FALSE(stuck_) << "the job waited a minute for an answer that did not come";
    EXPECT_FALSE(port_->Starved()) << "the job waited for an answer that could never come";
    EXPECT_FALSE(console_.Starved()) << "the job waited for a key the test did not give";
    EXPECT_EQ(console_.KeysLeft(), 0u);
    EXPECT_FALSE(port_->IsOpen());
    EXPECT_EQ(port_->Opens(), opens + 1);
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
  std::unique_ptr<job::RunContext> ctx_;
  direct::Result result_;
  /// The answers to the three questions Run feeds first.
  std::string answers_ = "N\rY\r\r";  // data port, radio in set-up, normal speed
  std::vector<std::string> prompts_;  ///< row 30 at each prompt answered by a rule
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

TEST_F(MemoryUploadTest, CompleteUploadOfTheBuiltInImage) {
  StartRadio(Radio());
  Run();

  EXPECT_EQ(result_.outcome, direct::Outcome::kComplete);
  const auto snapshot = port_->SettledSnapshot();
  const sim::DirectCounters& direct = snapshot->counters.direct;
  EXPECT_EQ(direct.pause_faults, 0u);
  EXPECT_EQ(direct.line_rate_faults, 0u);
  EXPECT_EQ(direct.word_attempts, kReleaseWords);
  EXPECT_EQ(direct.words_checked_ok, kReleaseWords);
  EXPECT_EQ(direct.resyncs, 0u);
  EXPECT_EQ(direct.stale_frames, 0u);
  EXPECT_EQ(direct.verdicts_accepted, 1u);
  EXPECT_EQ(snapshot->counters.bytes_received, kHandshakeBytes + kReleaseWords * 6 + 1);
  EXPECT_EQ(MemoryMismatches(snapshot->memory, image::FirmwareImage()), 0);

  // The handshake on the wire, byte for byte and pause for pause, at 19200 bit/s.
  const auto& wire = port_->Wire();
  ASSERT_GE(wire.size(), kHandshakeBytes);
  const std::uint8_t challenge_high = wire[6].value;
  const std::uint8_t challenge_low = wire[7].value;
  const std::vector<std::uint8_t> handshake = {
      direct::kProgramCommand, direct::kAccessCode[0], direct::kAccessCode[1],
      direct::kAccessCode[2],  direct::kAccessCode[3], direct::kNormalDivisor,
      challenge_high,          challenge_low,          direct::kStartErase};
  // The gap before each next byte, in ms: the divisor is followed by the challenge's own pause.
  const double gaps_ms[] = {300, 10, 10, 10, 10, 10, 10};
  for (std::size_t i = 0; i < kHandshakeBytes; ++i) {
    EXPECT_EQ(wire[i].value, handshake[i]) << i;
    EXPECT_EQ(wire[i].rate, 19200u) << i;
    if (i < 7) {
      EXPECT_NEAR(wire[i + 1].written_at - wire[i].written_at, gaps_ms[i] / 1000, 1e-9) << i;
    }
  }
  EXPECT_EQ(direct.last_challenge, (challenge_high << 8) | challenge_low);
  // The last word's data frame, then the verdict.
  EXPECT_EQ(wire.back().value, direct::kChecksumAccepted);

  EXPECT_EQ(console_.RowTrimmed(11), "Starting Download");
  // Nine characters a word on the line at 19200 bit/s (address frame out, echo back, data frame
  // out, reply back) and not a moment more: 33097 * 4.6875 ms.
  EXPECT_EQ(console_.RowTrimmed(29), "Program Time is 155.14 S");
  EXPECT_EQ(console_.RowTrimmed(25), " 4143   FFFE   2");
  EXPECT_EQ(console_.RowTrimmed(32), "Upload complete: the radio accepted the checksum.");
  EXPECT_EQ(console_.RowTrimmed(30), "Hit any key to return to main menu");
}

// The fifth word's echo never comes: the operator presses Enter while the job waits, says yes
// at the prompt, and the word is resent after a resync; the radio ends up with every word.
TEST_F(MemoryUploadTest, ADroppedEchoIsRetriedAfterAResync) {
  StoredImageBuilder builder;
  builder.Record(20, 15, 0x8000, 0x10).RunToTop(0xFF00);
  const std::vector<std::uint8_t> image = builder.Bytes();
  constexpr std::uint64_t kWords = 8 + 16 * 8;
  sim::RadioConfig config = Radio();
  config.drop_echo_word = 5;
  StartRadio(config);
  ctx_->image = image;
  int presses = 0;
  std::size_t wire_at_press = 0;
  on_quiet_ = [&] {
    if (presses++ > 0) return;
    wire_at_press = port_->Wire().size();
    console_.Feed("\r");
  };
  Answer("Waiting for Address Response", "Y");
  Run();

  EXPECT_EQ(presses, 1);
  EXPECT_EQ(result_.outcome, direct::Outcome::kComplete);
  EXPECT_EQ(result_.resent_words, 1);
  const auto snapshot = port_->SettledSnapshot();
  const sim::DirectCounters& direct = snapshot->counters.direct;
  EXPECT_EQ(direct.word_attempts, kWords + 1);
  EXPECT_EQ(direct.words_checked_ok, kWords);
  EXPECT_EQ(direct.resyncs, 1u);
  EXPECT_EQ(direct.verdicts_accepted, 1u);
  EXPECT_EQ(MemoryMismatches(snapshot->memory, image), 0);

  // On the wire: the unanswered address frame of word 5 (0x8008), the resync, the same frame.
  const std::vector<std::uint8_t> bytes = port_->WireBytes();
  const std::size_t fifth = kHandshakeBytes + 4 * 6;
  ASSERT_EQ(wire_at_press, fifth + 3);
  ASSERT_GE(bytes.size(), fifth + 10);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + fifth, bytes.begin() + fifth + 10),
            (std::vector<std::uint8_t>{1, 0x80, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0x80, 0x08}));

  ASSERT_EQ(prompts_.size(), 1u);
  EXPECT_EQ(prompts_[0], "Waiting for Address Response, Retry? (Y or <esc> to quit)");
  EXPECT_EQ(console_.RowText(32) + console_.RowTrimmed(33),
            "Checksum accepted, but 1 resent words are not covered by it: upload again to be "
            "sure.");
}

// The uploader stopped and continued (Ctrl-Z, fg) between the bytes of an address frame, for
// longer than the radio gives a frame: the radio completes the frame when its last byte comes,
// both sides count one attempt, and the checksum is accepted without a prompt.
TEST_F(MemoryUploadTest, UploaderStoppedMidFrameEndsWithTheChecksumAccepted) {
  StoredImageBuilder builder;
  builder.Record(20, 15, 0x8000, 0x10).RunToTop(0xFF00);
  const std::vector<std::uint8_t> image = builder.Bytes();
  constexpr std::uint64_t kWords = 8 + 16 * 8;
  sim::RadioConfig config = Radio();
  config.frame_timeout = 0.05;
  StartRadio(config);
  ctx_->image = image;
  std::uint64_t single_writes = 0;
  double stopped_at = -1.0;
  port_->on_write = [&](std::span<const std::uint8_t> bytes) {
    // The fifth word's address low byte: after the handshake's bytes and four words.
    if (bytes.size() == 1 && ++single_writes == kHandshakeBytes + 4 * 3 + 3) {
      stopped_at = time_.Now();
      time_.Advance(0.3);
    }
  };
  Run();

  const auto& wire = port_->Wire();
  const std::size_t low_byte = kHandshakeBytes + 4 * 6 + 2;
  ASSERT_GT(wire.size(), low_byte);
  EXPECT_EQ(wire[low_byte].value, 0x08);
  EXPECT_NEAR(wire[low_byte].written_at - stopped_at, 0.3, 1e-9);
  const auto snapshot = port_->SettledSnapshot();
  const sim::DirectCounters& direct = snapshot->counters.direct;
  EXPECT_EQ(direct.word_attempts, kWords);
  EXPECT_EQ(direct.verdicts_accepted, 1u);
  EXPECT_TRUE(prompts_.empty());
  EXPECT_EQ(result_.outcome, direct::Outcome::kComplete);
  EXPECT_EQ(console_.RowTrimmed(21), "");
  EXPECT_EQ(console_.RowTrimmed(32), "Upload complete: the radio accepted the checksum.");
}

// Escape at each prompt ends the upload at once: the program time is shown, the radio hears
// nothing more, in particular no verdict, and the operator reads that the upload is incomplete.
TEST_F(MemoryUploadTest, EscapeAtEachPromptAbortsTheUpload) {
  struct Case {
    const char* name;
    void (*configure)(sim::RadioConfig&);
    int fail_data_frame;    // the data frame write to fail
    std::size_t written;    // of its bytes, how many still went out
    const char* first_key;  // fed once the fault fired; nullptr: none
    const char* prompt;     // nullptr: no prompt is shown
    std::uint64_t bytes;    // heard by the radio
    int beeps;
  };
  // The fifth word is the one that fails: four complete exchanges before it.
  constexpr std::uint64_t kBefore = kHandshakeBytes + 4 * 6;
  const Case cases[] = {
      {"key while the echo is awaited: Escape", [](sim::RadioConfig& c) { c.drop_echo_word = 5; },
       0, 0, "\x1b", nullptr, kBefore + 3, 0},
      {"key while the echo is awaited, then Escape",
       [](sim::RadioConfig& c) { c.drop_echo_word = 5; }, 0, 0, "\r",
       "Waiting for Address Response", kBefore + 3, 0},
      {"wrong echo", [](sim::RadioConfig& c) { c.bad_echo_word = 5; }, 0, 0, nullptr,
       " Continue?(<esc>", kBefore + 3, 1},
      {"wrong low byte of the echo",
       [](sim::RadioConfig& c) {
         c.bad_echo_word = 5;
         c.bad_echo_low_only = true;
       },
       0, 0, nullptr, "I Sent 8008   I Got 8009", kBefore + 3, 1},
      {"data frame not written", [](sim::RadioConfig&) {}, 5, 0, nullptr, "Error on Data Transmit",
       kBefore + 3, 1},
      {"data frame cut short", [](sim::RadioConfig&) {}, 5, 2, nullptr, "Error on Data Transmit",
       kBefore + 3 + 2, 1},
      {"Escape while the reply is awaited only opens the prompt",
       [](sim::RadioConfig& c) { c.drop_reply_word = 5; }, 0, 0, "\x1b",
       "Waiting for Data  Response", kBefore + 6, 0},
      {"wrong reply", [](sim::RadioConfig& c) { c.bad_reply_word = 5; }, 0, 0, nullptr, "Bad Data!",
       kBefore + 6, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::RadioConfig config = Radio();
    c.configure(config);
    StartRadio(config);
    // Data frames go out as one three-byte write each; the address frame byte by byte.
    port_->RefuseWrite(3, c.fail_data_frame, c.written);
    prompts_.clear();
    const int beeps = console_.Beeps();
    bool fed = false;
    on_quiet_ = [&] {
      if (c.first_key == nullptr || fed) return;
      if (port_->Radio().Counters().direct.faults_fired < 1) return;
      fed = true;
      console_.Feed(c.first_key);
    };
    if (c.prompt != nullptr) Answer(c.prompt, "\x1b");
    Run();
    EXPECT_EQ(fed, c.first_key != nullptr);
    const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
    EXPECT_EQ(counters.bytes_received, c.bytes);
    EXPECT_EQ(counters.direct.word_attempts, 5u);
    EXPECT_EQ(counters.direct.checksums_sent, 0u);
    ASSERT_EQ(prompts_.size(), c.prompt != nullptr ? 1u : 0u);
    if (c.prompt != nullptr) {
      EXPECT_NE(prompts_[0].find(c.prompt), std::string::npos);
    }
    EXPECT_EQ(result_.outcome, direct::Outcome::kStopped);
    EXPECT_EQ(console_.Beeps() - beeps, c.beeps);
    EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
    EXPECT_EQ(console_.RowTrimmed(32), kStopped);
    EXPECT_TRUE(console_.RowColours(32, 1, 66, console::kYellow, console::kRed));
    EXPECT_EQ(console_.RowTrimmed(30), "Hit any key to return to main menu");
    EXPECT_EQ(ctx_->errors.count, 0);
  }
}

TEST_F(MemoryUploadTest, HighSpeedAnswerChoosesDivisorAndLineRate) {
  struct Case {
    std::string answer;
    std::uint8_t divisor;
    std::uint32_t rate;
  };
  sim::RadioConfig config = Radio();
  config.serial = 9280001;  // refused: the job ends right after the identity
  StartRadio(config);
  const Case cases[] = {{"y", 0x04, 115200},
                        {"Y", 0x04, 115200},
                        {"YES", 0x18, 19200},
                        {"n", 0x18, 19200},
                        {"", 0x18, 19200}};
  std::uint32_t runs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("answer '" + c.answer + "'");
    answers_ = "N\rY\r" + c.answer + "\r";
    Run();
    ++runs;
    const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
    EXPECT_EQ(counters.direct.last_divisor, c.divisor);
    EXPECT_EQ(port_->RadioLine().rate, c.rate);
    EXPECT_TRUE(port_->RadioLine().IsPlain8N1());
    EXPECT_EQ(counters.direct.identities_sent, runs);
    EXPECT_EQ(counters.direct.refusals, runs);
    EXPECT_EQ(counters.direct.access_code_faults, 0u);
    EXPECT_EQ(counters.direct.divisor_faults, 0u);
    EXPECT_EQ(counters.direct.line_rate_faults, 0u);
    EXPECT_NE(counters.direct.last_challenge, 0);
    const std::string asked =
        "High Speed Download (use with caution and FIFO enabled) (N (default), or Y ) " + c.answer;
    EXPECT_EQ(console_.RowText(6).substr(0, asked.size()), asked);
  }
}

// A data frame whose write came back short (prompt C) is written again once the operator
// answers, long after the echo, with the radio's own time-outs. The radio takes it, also when
// its first byte is 0 or 1.
TEST_F(MemoryUploadTest, DataFrameWrittenAgainAfterPromptCIsTaken) {
  for (const bool small_d0 : {true, false}) {
    const std::size_t word = WordWithFirstDataByte(small_d0);
    SCOPED_TRACE("word " + std::to_string(word + 1) + (small_d0 ? ", d0 0 or 1" : ""));
    ASSERT_LT(word, UploadWords(SmallImage()).size());
    StartRadio(Radio());
    ctx_->image = SmallImage();
    const int failing = static_cast<int>(word) + 1;
    port_->RefuseWrite(3, failing);
    int data_frames = 0;
    port_->on_write = [&](std::span<const std::uint8_t> bytes) {
      if (bytes.size() == 3 && ++data_frames == failing + 1) time_.Advance(0.5);
    };
    prompts_.clear();
    // Leave after the record that holds the word; a radio that dropped the frame never answers,
    // and a key then opens prompt D, which Escape ends.
    const std::uint64_t after = word + 1;
    bool left = false;
    priority_.on_normal = [&](int raises) {
      if (!left && raises > 1 && port_->Radio().Counters().direct.words_checked_ok >= after) {
        left = true;
        console_.Feed("\x1b");
      }
    };
    bool pressed = false;
    on_quiet_ = [&] {
      if (!pressed && port_->Radio().Counters().direct.stale_frames > 0) {
        pressed = true;
        console_.Feed("\r");
      }
    };
    Answer("Error on Data Transmit", "\r");
    Answer("Waiting for Data  Response", "\x1b");
    Run();
    priority_.on_normal = nullptr;

    const auto snapshot = port_->SettledSnapshot();
    const sim::DirectCounters& direct = snapshot->counters.direct;
    ASSERT_EQ(prompts_.size(), 1u);
    EXPECT_EQ(prompts_[0], "Error on Data Transmit Resend? (<esc> to quit)");
    EXPECT_EQ(direct.stale_frames, 0u);
    EXPECT_EQ(direct.stray_bytes, 0u);
    EXPECT_EQ(direct.resyncs, 0u);
    const WalkWord w = UploadWords(SmallImage())[word];
    EXPECT_EQ(snapshot->memory.space[w.space][w.word.address], w.word.b0);
  }
}

TEST_F(MemoryUploadTest, SerialNumberRangeDecidesBetweenEraseAndRefusal) {
  struct Case {
    std::uint32_t serial;
    bool accepted;
  };
  // What the terminal had been shown when "!" went out and when the 2 s pause began.
  int presents_at_refusal = -1;
  int presents_at_pause = -1;
  clock_.on_pause = [&](int ms) {
    if (ms == 2000) presents_at_pause = console_.Presents();
  };
  for (const Case c :
       {Case{9109999, false}, Case{9110000, true}, Case{9280000, true}, Case{9280001, false}}) {
    SCOPED_TRACE(c.serial);
    sim::RadioConfig config = Radio();
    config.serial = c.serial;
    config.erase_seconds = 60;  // the operator leaves the erase wait with Escape
    StartRadio(config);
    const int beeps = console_.Beeps();
    const long long slept = clock_.SleptMs();
    port_->on_write = [&](std::span<const std::uint8_t> bytes) {
      if (bytes.size() == 1 && bytes[0] == 0x21) presents_at_refusal = console_.Presents();
      // The erase command, the last handshake byte: the radio erases from now on.
      if (c.accepted && bytes.size() == 1 && port_->Wire().size() == kHandshakeBytes - 1) {
        console_.Feed("\x1b");
      }
    };
    Run();
    const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
    EXPECT_EQ(console_.RowTrimmed(8), "Waiting for Radio ID");
    // The number is printed with a sign position and a trailing blank.
    const std::string shown = "Radio Serial Number is  " + std::to_string(c.serial) + " ";
    EXPECT_EQ(console_.RowText(9).substr(0, shown.size() + 1), shown + " ");
    if (c.accepted) {
      EXPECT_EQ(port_->Wire().back().value, direct::kStartErase);
      EXPECT_EQ(console_.RowTrimmed(10), "Waiting for erase");
      EXPECT_EQ(console_.RowTrimmed(11), "");
      EXPECT_EQ(counters.direct.erases, 1u);
      EXPECT_EQ(counters.direct.refusals, 0u);
      EXPECT_EQ(console_.Beeps() - beeps, 0);
      EXPECT_EQ(clock_.SleptMs() - slept, kHandshakePauseMs + 10);
      EXPECT_EQ(counters.bytes_received, kHandshakeBytes);
    } else {
      EXPECT_EQ(console_.RowTrimmed(10), "");
      EXPECT_EQ(console_.RowTrimmed(11), "Not a Torvandrix Radio!!!");
      EXPECT_EQ(counters.direct.erases, 0u);
      EXPECT_EQ(counters.direct.refusals, 1u);
      EXPECT_EQ(console_.Beeps() - beeps, 1);
      EXPECT_EQ(clock_.SleptMs() - slept, kHandshakePauseMs + 2000);
      // The refusal is on the terminal during the pause, not only in the screen model.
      EXPECT_GT(presents_at_pause, presents_at_refusal);
    }
  }
  clock_.on_pause = nullptr;
}

TEST_F(MemoryUploadTest, EraseWaitDropsKeysAndBeepsAtNoise) {
  sim::RadioConfig config = Radio();
  config.garbage_bytes = 3;  // after "4" (discarded by the handshake) and before the erase-done
  config.erase_seconds = 0.3;
  StartRadio(config);
  ctx_->image = SmallImage();
  port_->on_write = [&](std::span<const std::uint8_t> bytes) {
    // The erase command, the last handshake byte: the key comes while the radio erases.
    if (bytes.size() == 1 && port_->Wire().size() == kHandshakeBytes - 1) console_.Feed("a");
  };
  bool escaped = false;
  priority_.on_normal = [&](int raises) {
    if (raises == 2 && !escaped) {  // the first record went out: leave between records
      escaped = true;
      console_.Feed("\x1b");
    }
  };
  Run();
  const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
  EXPECT_EQ(console_.Beeps(), 3);
  EXPECT_EQ(console_.RowTrimmed(11), "Starting Download");
  EXPECT_EQ(counters.direct.word_attempts, 8u);
  ASSERT_GE(console_.KeysTaken().size(), 7u);
  EXPECT_EQ(console_.KeysTaken()[5], "a");
}

// The operator presses Enter while the first echo is on its way (a slow adapter), and answers
// the prompt only after it has arrived. The resync throws the late echo away, so the word's
// next attempt reads its own echo and reply and no other prompt follows.
TEST_F(MemoryUploadTest, ResyncThrowsAwayAnAnswerThatCameLate) {
  sim::RadioConfig config = Radio();
  config.latency = 0.15;
  StartRadio(config);
  ctx_->image = SmallImage();
  int single_writes = 0;
  port_->on_write = [&](std::span<const std::uint8_t> bytes) {
    if (bytes.size() == 4) time_.Advance(0.3);  // the resync, answered slowly
    if (bytes.size() != 1) return;
    ++single_writes;
    // The last byte of word 1's address frame goes out: its echo is 150 ms away.
    if (single_writes == kHandshakeBytes + 3) console_.Feed("\r");
    // Word 2's address frame, after word 1 sent twice: its echo is awaited, Escape leaves at
    // once.
    if (single_writes == kHandshakeBytes + 3 * 3) console_.Feed("\x1b");
  };
  Answer("Waiting for Address Response", "Y");
  Answer("Bad Data!", "\x1b");
  Answer("Waiting for Data  Response", "\x1b");
  Run();
  const sim::RadioCounters counters = port_->SettledSnapshot()->counters;
  ASSERT_EQ(prompts_.size(), 1u);
  EXPECT_EQ(prompts_[0], "Waiting for Address Response, Retry? (Y or <esc> to quit)");
  EXPECT_EQ(counters.direct.resyncs, 1u);
  EXPECT_EQ(counters.direct.word_attempts, 3u);
  EXPECT_EQ(counters.direct.words_checked_ok, 1u);
  EXPECT_EQ(counters.direct.check_byte_failures, 0u);
}

}  // namespace
}  // namespace tvx::testing
