// Verification and completion through the real serial backend: the ways out of the checksum and
// read-back waits, and a line that dies in them. (The verdict, the read-back and the outcome
// lines run on the memory port: memory_completion_test.cpp.)
#include <string>

#include "console/format.h"
#include "direct/protocol.h"
#include "upload_fixture.h"

namespace tvx::testing {
namespace {

constexpr const char* kChecksumError =
    "Upload failed: checksum error. Upload again before using the radio.";
constexpr const char* kStopped =
    "Upload stopped before the end: the radio's firmware is incomplete.";

void ExpectOutcome(const ScriptedConsole& console, const char* text) {
  EXPECT_EQ(console.RowTrimmed(32), text);
  EXPECT_TRUE(console.RowColours(32, 1, static_cast<int>(std::string(text).size()),
                                 console::kYellow, console::kRed));
}

// Only Escape leaves the checksum wait and the read-back wait; another key is dropped and the
// wait goes on (the Escape is fed only once that key has been taken).
TEST_F(DirectUploadTest, OnlyEscapeLeavesTheChecksumAndReadBackWaits) {
  {
    SCOPED_TRACE("checksum wait");
    StartRadio(FastRadio());
    port_->GoDeafAfterDataFrame(static_cast<int>(kSmallImageWords));  // no checksum arrives
    console_.Feed("N\rY\r\r");
    FeedInTurn([](const sim::RadioCounters& r) { return r.direct.checksums_sent > 0; }, "a",
               "\x1b");
    Run();
    const sim::RadioCounters counters = SettledCounters();
    EXPECT_EQ(counters.direct.verdicts_accepted + counters.direct.verdicts_rejected, 0u);
    EXPECT_EQ(counters.bytes_received, kHandshakeBytes + kSmallImageWords * 6);
    EXPECT_EQ(console_.RowTrimmed(19), "");
    const auto keys = console_.KeysTaken();
    ASSERT_GE(keys.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(keys.end() - 3, keys.end()),
              (std::vector<std::string>{"a", "\x1b", "x"}));
    EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
    ExpectOutcome(console_, kStopped);
  }
  {
    SCOPED_TRACE("read-back wait");
    sim::RadioConfig config = FastRadio();
    config.Add(sim::Fault::kBadChecksum);  // every word is stored right; only the checksum is off
    StartRadio(config);
    int read_back_bytes = -1;  // counted from the verdict on
    port_->on_write = [&](std::span<const std::uint8_t> bytes) {
      if (bytes.size() == 1 && bytes[0] == direct::kChecksumRejected) read_back_bytes = 0;
      if (read_back_bytes >= 0 && ++read_back_bytes == 1 + 3 * 20) port_->GoDeafNow();
    };
    console_.Feed("N\rY\r\r");
    FeedInTurn([](const sim::RadioCounters& r) { return r.direct.readback_words >= 20; }, "a",
               "\x1b");
    Run();
    port_->on_write = nullptr;
    const sim::RadioCounters counters = SettledCounters();
    EXPECT_EQ(counters.direct.verdicts_rejected, 1u);
    EXPECT_EQ(counters.direct.readback_words, 20u);
    const auto keys = console_.KeysTaken();
    ASSERT_GE(keys.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(keys.end() - 3, keys.end()),
              (std::vector<std::string>{"a", "\x1b", "x"}));
    EXPECT_TRUE(prompts_.empty());
    EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
    ExpectOutcome(console_, kChecksumError);
  }
}

// A line that dies while the checksum or a read-back answer is awaited ends the wait at once
// with the report (59), without a key, and the job goes to its end.
TEST_F(DirectUploadTest, DeadLineInTheChecksumAndReadBackWaits) {
  {
    SCOPED_TRACE("checksum wait");
    StartRadio(FastRadio());
    port_->GoDeafAfterDataFrame(static_cast<int>(kSmallImageWords));  // no checksum arrives
    console_.Feed("N\rY\r\r");
    KillRadioWhen([](const sim::RadioCounters& r) { return r.direct.checksums_sent > 0; });
    Run();
    EXPECT_EQ(ReportsWhenDeadLineLeft(), 1);  // reported by the wait that saw it
    EXPECT_EQ(ctx_->errors.count, 1);
    EXPECT_EQ(console_.RowText(51).substr(64, 12), "  1  59   0 ");
    EXPECT_EQ(console_.RowTrimmed(19), "");
    EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
    ExpectOutcome(console_, kStopped);
    EXPECT_EQ(console_.KeysTaken().back(), "x");  // the closing key was the first one asked for
  }
  {
    SCOPED_TRACE("read-back wait");
    sim::RadioConfig config = FastRadio();
    config.Add(sim::Fault::kBadChecksum);
    config.Add(sim::Fault::kHangUpReadBack, 20);
    StartRadio(config);
    const std::size_t keys_before = console_.KeysTaken().size();
    console_.Feed("N\rY\r\r");
    Run();
    EXPECT_EQ(ReportsWhenDeadLineLeft(), 2);
    EXPECT_EQ(ctx_->errors.count, 2);
    EXPECT_EQ(console_.RowText(51).substr(64, 12), "  2  59   0 ");
    EXPECT_EQ(console_.RowTrimmed(21), "CHECK SUM ERROR!!!");
    EXPECT_GE(ShownProgramTime(console_), 0.0) << console_.RowTrimmed(29);
    ExpectOutcome(console_, kChecksumError);
    EXPECT_EQ(console_.KeysTaken().size(), keys_before + 6);  // the answers and the closing key
  }
}

}  // namespace
}  // namespace tvx::testing
