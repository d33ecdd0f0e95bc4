// The word transfer: a complete upload of the release image, every operator prompt with both
// answers, and Escape between records.
#include <string>

#include "console/format.h"
#include "direct/prompt_row.h"
#include "direct/protocol.h"
#include "upload_fixture.h"

namespace tvx::testing {
namespace {

using direct::MakeDataFrame;

constexpr std::uint64_t kReleaseWords = 33097;

bool Counted(const sim::RadioCounters& r, std::uint32_t faults) {
  return r.direct.faults_fired >= faults;
}

std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// Every word of the walk at its place in the radio's memory.
int MemoryMismatches(const sim::RadioMemory& memory) {
  int mismatches = 0;
  for (const WalkWord& w : UploadWords()) {
    const auto& space = memory.space[w.space];
    const auto next = static_cast<std::uint16_t>(w.word.address + 1);
    if (space[w.word.address] != w.word.b0 || space[next] != w.word.b1) ++mismatches;
  }
  return mismatches;
}

TEST_F(DirectUploadTest, CompleteUploadOfTheReleaseImage) {
  StartRadio(FastRadio());
  console_.Feed("N\rY\r\r");
  Run();

  const auto snapshot = radio_->Snapshot();
  const sim::DirectCounters& direct = snapshot->counters.direct;
  EXPECT_EQ(direct.word_attempts, kReleaseWords);
  EXPECT_EQ(direct.words_checked_ok, kReleaseWords);
  EXPECT_EQ(direct.resyncs, 0u);
  EXPECT_EQ(direct.verdicts_accepted, 1u);
  EXPECT_EQ(direct.verdicts_rejected, 0u);
  EXPECT_EQ(snapshot->counters.bytes_received, kHandshakeBytes + kReleaseWords * 6 + 1);
  EXPECT_EQ(MemoryMismatches(snapshot->memory), 0);

  // An odd number of words: the radio's checksum is the complemented pair.
  image::PairChecksum sums;
  for (const WalkWord& w : UploadWords()) sums.Add(w.word.b0, w.word.b1);
  ASSERT_EQ(UploadWords().size(), kReleaseWords);
  EXPECT_EQ(direct.last_checksum, sums.Value());
  EXPECT_EQ(sums.Value()[0], sums.even_xor ^ 0xFF);

  std::string xors = console::Hex(sums.even_xor);
  direct::ZoneStep(xors);
  xors += console::Hex(sums.odd_xor);
  direct::ZoneStep(xors);
  xors += console::Hex(sums.even_xor ^ 0xFFu);
  direct::ZoneStep(xors);
  xors += console::Hex(sums.odd_xor ^ 0xFFu);
  EXPECT_EQ(console_.RowTrimmed(19), xors);
  std::string got = console::Hex(direct.last_checksum[0]);
  direct::ZoneStep(got);
  EXPECT_EQ(console_.RowTrimmed(20), got + console::Hex(direct.last_checksum[1]));
  EXPECT_EQ(console_.RowTrimmed(21), "");

  EXPECT_EQ(console_.RowTrimmed(11), "Starting Download");
  EXPECT_EQ(console_.RowTrimmed(24), "If Programing Pauses, Press <Enter> for Retry");
  EXPECT_EQ(console_.RowTrimmed(25), " 4143   FFFE   2");  // every eighth record
  EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
  EXPECT_EQ(console_.RowTrimmed(30), "Hit any key to return to main menu");
  EXPECT_TRUE(console_.RowColours(30, 1, 34, console::kYellow, console::kBlue));
  EXPECT_EQ(console_.Screen().CurrentAttr(), console::MakeAttr(console::kBrightWhite, 0));
  EXPECT_EQ(console_.Beeps(), 0);
  EXPECT_EQ(priority_.raises, 1 + 4144);  // the line-rate switch, then every record
  EXPECT_EQ(ctx_->progress_counter, 0);
}

// Every prompt answered with a key other than Escape: the word is resent (or the data frame
// written again) and the upload completes with an accepted checksum.
TEST_F(DirectUploadTest, PromptsResendTheWordAndTheChecksumStillHolds) {
  sim::RadioConfig config = FastRadio();
  config.drop_echo_word = 5;     // a key is pressed while the echo is awaited
  config.bad_echo_word = 100;    // wrong echo
  config.drop_reply_word = 200;  // a key is pressed while the reply is awaited
  config.bad_reply_word = 300;   // wrong reply
  StartRadio(config);
  port_->FailDataFrameWrite(150);  // a data frame not written
  console_.Feed("N\rY\r\r");
  FeedWhen([](const sim::RadioCounters& r) { return Counted(r, 1); }, "\r");
  FeedWhen([](const sim::RadioCounters& r) { return Counted(r, 3); }, "\r");
  Answer("Waiting for Address Response", "Y");
  Answer(" Continue?(<esc>", "c");
  Answer("Error on Data Transmit", "\r");
  Answer("Waiting for Data  Response", "r");
  Answer("Bad Data!", "y");
  Run();

  const auto snapshot = radio_->Snapshot();
  const sim::DirectCounters& direct = snapshot->counters.direct;
  EXPECT_EQ(direct.word_attempts, kReleaseWords + 4);
  EXPECT_EQ(direct.resyncs, 4u);
  EXPECT_EQ(direct.check_byte_failures, 0u);
  EXPECT_EQ(direct.verdicts_accepted, 1u);
  EXPECT_EQ(MemoryMismatches(snapshot->memory), 0);
  // Attempt n is word n - 1 until the first resend, and one word earlier after each.
  const auto& words = UploadWords();
  // A word sent twice drops out of both sums; 33,101 attempts complement them.
  image::PairChecksum sums;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i != 5 - 1 && i != 100 - 2 && i != 200 - 3 && i != 300 - 4) {
      sums.Add(words[i].word.b0, words[i].word.b1);
    }
  }
  EXPECT_EQ(direct.last_checksum[0], sums.even_xor ^ 0xFF);
  EXPECT_EQ(direct.last_checksum[1], sums.odd_xor ^ 0xFF);

  const WalkWord& b = words[100 - 2];
  const WalkWord& d = words[200 - 3];
  const WalkWord& e = words[300 - 4];
  const direct::DataFrame e_frame = MakeDataFrame(e.word.address, e.word.b0, e.word.b1);
  const auto e_reply = static_cast<std::uint8_t>(~e_frame.expected_reply);
  const auto swapped = static_cast<std::uint16_t>((b.word.address << 8) | (b.word.address >> 8));
  ASSERT_EQ(prompts_.size(), 5u);
  EXPECT_EQ(prompts_[0].text, "Waiting for Address Response, Retry? (Y or <esc> to quit)");
  EXPECT_EQ(prompts_[1].text, Trimmed(direct::AddressEchoPrompt(b.word.address, swapped)));
  EXPECT_EQ(prompts_[2].text, "Error on Data Transmit Resend? (<esc> to quit)");
  EXPECT_EQ(prompts_[3].text, Trimmed(direct::DataWaitPrompt(d.word.address)));
  EXPECT_EQ(prompts_[4].text, Trimmed(direct::BadDataPrompt(e_frame.d1, e_reply, e.word.address)));
  for (const auto& prompt : prompts_) EXPECT_TRUE(prompt.yellow_on_blue) << prompt.text;
  EXPECT_EQ(console_.Beeps(), 3);  // wrong echo, unwritten frame, wrong reply; not the asked-for
  EXPECT_TRUE(console_.RowColours(31, 1, 80, console::kBrightWhite, console::kBlack));
  EXPECT_EQ(console_.RowTrimmed(31), "");
}

// Escape at each prompt ends the upload at once: the program time is shown and the radio hears
// nothing more, in particular no verdict.
TEST_F(DirectUploadTest, EscapeAtEachPromptAbortsTheUpload) {
  struct Case {
    const char* name;
    void (*configure)(sim::RadioConfig&);
    int fail_data_frame;    // the data frame write to fail
    const char* first_key;  // fed once the fault fired; nullptr: none
    const char* prompt;     // nullptr: no prompt is shown
    std::uint64_t bytes;    // heard by the radio
    int beeps;
  };
  // The fifth word is the one that fails: four complete exchanges before it.
  constexpr std::uint64_t kBefore = kHandshakeBytes + 4 * 6;
  const Case cases[] = {
      {"key while the echo is awaited: Escape", [](sim::RadioConfig& c) { c.drop_echo_word = 5; },
       0, "\x1b", nullptr, kBefore + 3, 0},
      {"key while the echo is awaited, then Escape",
       [](sim::RadioConfig& c) { c.drop_echo_word = 5; }, 0, "\r", "Waiting for Address Response",
       kBefore + 3, 0},
      {"wrong echo", [](sim::RadioConfig& c) { c.bad_echo_word = 5; }, 0, nullptr,
       " Continue?(<esc>", kBefore + 3, 1},
      {"data frame not written", [](sim::RadioConfig&) {}, 5, nullptr, "Error on Data Transmit",
       kBefore + 3, 1},
      {"Escape while the reply is awaited only opens the prompt",
       [](sim::RadioConfig& c) { c.drop_reply_word = 5; }, 0, "\x1b", "Waiting for Data  Response",
       kBefore + 6, 0},
      {"wrong reply", [](sim::RadioConfig& c) { c.bad_reply_word = 5; }, 0, nullptr, "Bad Data!",
       kBefore + 6, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::RadioConfig config = FastRadio();
    c.configure(config);
    StartRadio(config);
    port_->FailDataFrameWrite(c.fail_data_frame);
    prompts_.clear();
    const int beeps = console_.Beeps();
    console_.Feed("N\rY\r\r");
    if (c.first_key != nullptr) {
      FeedWhen([](const sim::RadioCounters& r) { return Counted(r, 1); }, c.first_key);
    }
    if (c.prompt != nullptr) Answer(c.prompt, "\x1b");
    Run();
    const sim::RadioCounters counters = SettledCounters();
    EXPECT_EQ(counters.bytes_received, c.bytes);
    EXPECT_EQ(counters.direct.word_attempts, 5u);
    EXPECT_EQ(counters.direct.checksums_sent, 0u);
    EXPECT_EQ(prompts_.size(), c.prompt != nullptr ? 1u : 0u);
    EXPECT_EQ(console_.Beeps() - beeps, c.beeps);
    EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
    EXPECT_EQ(console_.RowTrimmed(30), "Hit any key to return to main menu");
  }
}

// Keys between records: Escape gives up after the record, any other key is dropped. The
// program time is measured on the monotonic clock, so a transfer across midnight shows the
// time it took.
TEST_F(DirectUploadTest, EscapeBetweenRecordsAbortsAfterTheRecord) {
  StartRadio(FastRadio());
  // Set-up pauses take 1.375 s and the transfer starts after 1 s more: 86399.4 then.
  clock_.SetTimeOfDayAtStart(86400.0 - 3.0);
  console_.Feed("N\rY\r\r");
  bool fed_a = false;
  bool fed_escape = false;
  priority_.on_normal = [&](int raises) {
    if (raises == 4 && !fed_a) {  // three records done
      fed_a = true;
      console_.Feed("a");
    }
    if (raises == 11 && !fed_escape) {  // ten records done; five seconds pass, midnight too
      fed_escape = true;
      clock_.SleepMs(5000);
      console_.Feed("\x1b");
    }
  };
  Run();
  const sim::RadioCounters counters = SettledCounters();
  EXPECT_EQ(counters.direct.word_attempts, 80u);  // ten full records of eight words
  EXPECT_EQ(counters.bytes_received, kHandshakeBytes + 80 * 6);
  EXPECT_EQ(counters.direct.checksums_sent, 0u);
  EXPECT_EQ(console_.KeysTaken()[5], "a");
  EXPECT_EQ(console_.KeysTaken()[6], "\x1b");
  const double shown = ShownProgramTime(console_);
  EXPECT_GE(shown, 5.0) << console_.RowTrimmed(29);
  EXPECT_LT(shown, 5.2) << console_.RowTrimmed(29);
}

}  // namespace
}  // namespace tvx::testing
