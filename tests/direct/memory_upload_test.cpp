// The whole direct upload on the memory radio: a complete upload, the word transfer's prompts
// and resyncs, a stopped uploader.
#include <gtest/gtest.h>

#include <csignal>
#include <span>
#include <string>
#include <vector>

#include "app/upload_log.h"
#include "memory_upload_fixture.h"

namespace tvx::testing {
namespace {

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
  EXPECT_EQ(direct.stray_bytes + snapshot->counters.stray_bytes, 0u);
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
  // The erase command reaches the radio, its erase (0.25 s) ends, the erase-done byte comes
  // back, then the radio gets a whole second before the first address frame.
  EXPECT_NEAR(wire[kHandshakeBytes].written_at - wire[kHandshakeBytes - 1].written_at,
              10.0 / 19200 + 0.25 + 10.0 / 19200 + 1.0, 1e-9);
  // The last word's data frame, then the verdict.
  EXPECT_EQ(wire.back().value, direct::kChecksumAccepted);

  EXPECT_EQ(console_.RowTrimmed(11), "Starting Download");
  // Nine characters a word on the line at 19200 bit/s (address frame out, echo back, data frame
  // out, reply back) and not a moment more: 33097 * 4.6875 ms.
  EXPECT_EQ(console_.RowTrimmed(29), "Program Time is 155.14 S");
  EXPECT_EQ(console_.RowTrimmed(25), " 4143   FFFE   2");
  EXPECT_EQ(console_.RowTrimmed(32), "Upload complete: the radio accepted the checksum.");
  EXPECT_TRUE(console_.RowColours(32, 1, 49, console::kLightGreen, console::kBlack));
  EXPECT_EQ(console_.RowTrimmed(30), "Hit any key to return to main menu");
  EXPECT_TRUE(console_.RowColours(30, 1, 34, console::kYellow, console::kBlue));
  EXPECT_EQ(console_.Screen().CurrentAttr(), console::MakeAttr(console::kBrightWhite, 0));
  EXPECT_EQ(console_.Beeps(), 0);

  // An odd number of words: the radio's checksum is the complemented pair, shown with the sums.
  image::PairChecksum sums;
  image::RecordBuffer buffer{};
  image::ImageWalk walk(image::FirmwareImage(), buffer);
  while (walk.NextRecord()) {
    for (image::Word w; walk.NextWord(w);) sums.Add(w.b0, w.b1);
  }
  EXPECT_EQ(direct.last_checksum, sums.Value());
  EXPECT_EQ(console_.RowTrimmed(19), "6C            F9            93            6");
  EXPECT_EQ(console_.RowTrimmed(20), "93            6");
  EXPECT_EQ(console_.RowTrimmed(21), "");
  EXPECT_EQ(priority_.raises, 1 + 4144);  // the line-rate switch, then every record
  EXPECT_EQ(ctx_->progress_counter, 0);
}

// A stop request (what a signal makes of SIGTERM) as the 50th word's data frame goes out: that
// frame is the last thing the radio hears (no resync, no 51st address frame, no verdict); the
// job waits for that frame's reply (so the count is what the radio stored), closes the port and
// says how far it got, on row 32 and in the log, without waiting for the closing key.
TEST_F(MemoryUploadTest, StopRequestEndsTheTransferAfterTheFrameOnTheWire) {
  StartRadio(Radio());
  port_->on_write = [this, frames = 0](std::span<const std::uint8_t> bytes) mutable {
    if (bytes.size() == 3 && ++frames == 50) console_.RequestStop(SIGTERM);
  };
  Run();

  const auto snapshot = port_->SettledSnapshot();
  const sim::DirectCounters& direct = snapshot->counters.direct;
  EXPECT_EQ(direct.word_attempts, 50u);
  EXPECT_EQ(direct.words_checked_ok, 50u);
  EXPECT_EQ(direct.resyncs, 0u);
  EXPECT_EQ(direct.verdicts_accepted + direct.verdicts_rejected, 0u);
  EXPECT_EQ(snapshot->counters.bytes_received, kHandshakeBytes + 50 * 6);

  EXPECT_EQ(result_.outcome, direct::Outcome::kInterrupted);
  EXPECT_EQ(result_.words_done, 50);  // the word on the wire is counted once its reply is in
  EXPECT_EQ(console_.RowTrimmed(32), kStopped);
  EXPECT_EQ(console_.KeysTaken().back(), "\r");  // the program is ending: no closing key
  const std::string line = app::FormatLogLine(app::DirectLogEntry(result_), {});
  EXPECT_NE(line.find("\"outcome\":\"interrupted\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"word\":50"), std::string::npos) << line;
}

// The fifth word's echo never comes: the operator presses Enter while the job waits, says yes
// at the prompt, and the word is resent after a resync; the radio ends up with every word.
TEST_F(MemoryUploadTest, ADroppedEchoIsRetriedAfterAResync) {
  StoredImageBuilder builder;
  builder.Record(20, 15, 0x8000, 0x10).RunToTop(0xFF00);
  const std::vector<std::uint8_t> image = builder.Bytes();
  constexpr std::uint64_t kWords = 8 + 16 * 8;
  sim::RadioConfig config = Radio();
  config.Add(sim::Fault::kDropEcho, 5);
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

// The first byte of the fifth word's address frame is refused by the port: the radio never got
// that frame whole, so it is no attempt of the word; the word sent again after the prompt is its
// first, and the radio's checksum still vouches for every word.
TEST_F(MemoryUploadTest, AnAddressFrameCutShortIsNoAttempt) {
  StoredImageBuilder builder;
  builder.Record(20, 15, 0x8000, 0x10).RunToTop(0xFF00);
  const std::vector<std::uint8_t> image = builder.Bytes();
  StartRadio(Radio());
  ctx_->image = image;
  port_->RefuseWrite(1, static_cast<int>(kHandshakeBytes + 4 * 3 + 1));
  int presses = 0;
  on_quiet_ = [&] {
    if (presses++ == 0) console_.Feed("\r");
  };
  Answer("Waiting for Address Response", "Y");
  Run();
  EXPECT_EQ(presses, 1);
  EXPECT_EQ(result_.outcome, direct::Outcome::kComplete);
  EXPECT_EQ(result_.resent_words, 0);
  EXPECT_EQ(port_->SettledSnapshot()->counters.direct.verdicts_accepted, 1u);
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
      {"key while the echo is awaited: Escape",
       [](sim::RadioConfig& c) { c.Add(sim::Fault::kDropEcho, 5); }, 0, 0, "\x1b", nullptr,
       kBefore + 3, 0},
      {"key while the echo is awaited, then Escape",
       [](sim::RadioConfig& c) { c.Add(sim::Fault::kDropEcho, 5); }, 0, 0, "\r",
       "Waiting for Address Response", kBefore + 3, 0},
      {"wrong echo", [](sim::RadioConfig& c) { c.Add(sim::Fault::kBadEcho, 5); }, 0, 0, nullptr,
       " Continue?(<esc>", kBefore + 3, 1},
      {"wrong low byte of the echo", [](sim::RadioConfig& c) { c.Add(sim::Fault::kBadEchoLow, 5); },
       0, 0, nullptr, "I Sent 8008   I Got 8009", kBefore + 3, 1},
      {"data frame not written", [](sim::RadioConfig&) {}, 5, 0, nullptr, "Error on Data Transmit",
       kBefore + 3, 1},
      {"data frame cut short", [](sim::RadioConfig&) {}, 5, 2, nullptr, "Error on Data Transmit",
       kBefore + 3 + 2, 1},
      {"Escape while the reply is awaited only opens the prompt",
       [](sim::RadioConfig& c) { c.Add(sim::Fault::kDropReply, 5); }, 0, 0, "\x1b",
       "Waiting for Data  Response", kBefore + 6, 0},
      {"wrong reply", [](sim::RadioConfig& c) { c.Add(sim::Fault::kBadReply, 5); }, 0, 0, nullptr,
       "Bad Data!", kBefore + 6, 1},
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
