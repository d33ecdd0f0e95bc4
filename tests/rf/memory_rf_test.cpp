// The RF upload as the menu runs it, against the simulated local radio behind a serial port in
// memory on a virtual time: one thread, no real pauses (the header's 100 ms, the echo windows
// and the network's countdown cost nothing). Runs on every platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/upload_log.h"
#include "memory_rf_fixture.h"

namespace tvx::testing {
namespace {

// The virtual time is exact; whole microseconds make a wrong pause plain in the message.
long long Us(double seconds) {
  return std::llround(seconds * 1e6);
}

// Three copies of every frame in one pass; the second copy of record 0 loses its echo, so that
// record goes out a fourth time after its echo window has passed.
TEST_F(MemoryRfTest, OnePassThreeCopiesOfEveryFrameOneEchoLost) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  config.Add(sim::Fault::kRfDropEcho, 2);
  StartRadio(config);
  Run("y\r3\r0\r1\r");  // diagnostic port, 3 copies, from record 0, one pass

  const auto snapshot = port_->SettledSnapshot();
  ASSERT_EQ(snapshot->rf_records.size(), kRecords);
  int wrong = 0;
  for (std::uint32_t r = 0; r < kRecords; ++r) {
    const sim::RecordFrameStats& stats = snapshot->rf_records[r];
    if (stats.good != (r == 0 ? 4u : 3u) || stats.bad != 0) {
      if (++wrong < 5) ADD_FAILURE() << "record " << r << ": " << stats.good << " good";
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(snapshot->counters.rf.header_frames_good, 3u);
  EXPECT_EQ(snapshot->counters.rf.header_frames_bad, 0u);
  EXPECT_EQ(snapshot->counters.rf.data_frames_received, 3 * kRecords + 1);
  EXPECT_EQ(snapshot->counters.rf.echoes_dropped, 1u);
  EXPECT_EQ(snapshot->counters.rf.malformed_frames, 0u);
  EXPECT_EQ(snapshot->counters.stray_bytes, 0u);  // nothing between the frames

  // The lost echo's window, the longest quiet on the wire: the second copy of record 0 goes
  // out, then the third only once half a second has passed.
  const auto& wire = port_->Wire();
  std::size_t after_gap = 1;
  for (std::size_t i = 1; i < wire.size(); ++i) {
    if (wire[i].written_at - wire[i - 1].written_at >
        wire[after_gap].written_at - wire[after_gap - 1].written_at) {
      after_gap = i;
    }
  }
  EXPECT_NEAR(wire[after_gap].written_at - wire[after_gap - 1].written_at, 0.5, 0.002);
  EXPECT_EQ(wire[after_gap].value, 0xE3);
  // Before it: three header copies of 8 bytes and two copies of record 0's data frame; after
  // it, the same frame once more.
  const std::size_t data_start = 3 * 8;
  ASSERT_GT(after_gap, data_start);
  ASSERT_EQ((after_gap - data_start) % 2, 0u);
  const std::size_t length = (after_gap - data_start) / 2;
  const std::vector<std::uint8_t> bytes = port_->WireBytes();
  ASSERT_GE(bytes.size(), data_start + 3 * length);
  const auto copy = [&](std::size_t n) {
    const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(data_start + n * length);
    return std::vector<std::uint8_t>(from, from + static_cast<std::ptrdiff_t>(length));
  };
  EXPECT_EQ(bytes[data_start], 0xE3);
  EXPECT_EQ(copy(1), copy(0));
  EXPECT_EQ(copy(2), copy(0));

  EXPECT_EQ(outcome_.passes, 1);
  EXPECT_EQ(outcome_.frames, kRecords);
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast complete: 1 pass, 4144 frames, 0 echo mismatches.");
  EXPECT_EQ(console_.RowTrimmed(30), "Hit any key to return to main menu");
  EXPECT_EQ(ctx_->rf_mismatch_count, 0);
}

// Two passes of three copies: the same header six times (the radio checks its count and
// checksum), one countdown between the passes and none after the last.
TEST_F(MemoryRfTest, TwoPassesThreeCopiesSameHeaderOneCountdown) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  StartRadio(config);
  Run("y\r3\r0\r2\r");

  const auto snapshot = port_->SettledSnapshot();
  int wrong = 0;
  for (std::uint32_t r = 0; r < kRecords; ++r) {
    if (snapshot->rf_records[r].good != 6u || snapshot->rf_records[r].bad != 0) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(snapshot->counters.rf.header_frames_good, 6u);
  EXPECT_EQ(snapshot->counters.rf.header_frames_bad, 0u);
  EXPECT_EQ(countdown_,
            (std::vector<std::string>{
                "Waiting to re-acuire radio network 5", "Waiting to re-acuire radio network 4",
                "Waiting to re-acuire radio network 3", "Waiting to re-acuire radio network 2",
                "Waiting to re-acuire radio network 1", "Waiting to re-acuire radio network 0"}));
  EXPECT_EQ(console_.RowTrimmed(35), "");
  for (int row = 21; row <= 23; ++row) {
    EXPECT_EQ(console_.RowTrimmed(row), "E2  93  36  10  30  6  42  38") << row;
  }
  EXPECT_EQ(console_.RowTrimmed(32),
            "Broadcast complete: 2 passes, 8288 frames, 0 echo mismatches.");
}

// A corrupt echo and a lost one: each repeats its frame; the corrupt byte shows as sent (row 24)
// and as received (row 28). A second RF upload of the run goes on counting mismatches from
// there, while its outcome counts its own.
TEST_F(MemoryRfTest, EchoFaultsRepeatTheFrameAndTheCountCarriesOver) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  config.Add(sim::Fault::kRfCorruptEcho, 1, 7);  // record 0: byte 7, the address high byte 0x80
  config.Add(sim::Fault::kRfDropEcho, 3);        // record 1, first copy
  StartRadio(config);
  Run("y\r1\r0\r1\r");

  const auto snapshot = port_->SettledSnapshot();
  EXPECT_EQ(snapshot->rf_records[0].good, 2u);
  EXPECT_EQ(snapshot->rf_records[1].good, 2u);
  EXPECT_EQ(snapshot->rf_records[2].good, 1u);
  EXPECT_EQ(snapshot->counters.rf.data_frames_received, kRecords + 2);
  EXPECT_EQ(snapshot->counters.rf.echoes_corrupted, 1u);
  EXPECT_EQ(snapshot->counters.rf.echoes_dropped, 1u);
  EXPECT_EQ(ctx_->rf_mismatch_count, 1);
  // Byte 8 of the frame: sent on row 24, received on row 28, column 3 * 8 - 2.
  EXPECT_EQ(console_.RowText(24).substr(21, 2), "80");
  EXPECT_EQ(console_.RowText(28).substr(21, 2), "7F");
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast complete: 1 pass, 4144 frames, 1 echo mismatch.");

  // Its one frame (13 bytes) first comes back with its last two bytes, the CRC, changed: two
  // mismatches.
  config = sim::RadioConfig{};
  config.mode = sim::RadioMode::kRf;
  config.Add(sim::Fault::kRfCorruptEcho, 1, 11).Add(sim::Fault::kRfCorruptEcho, 1, 12);
  const auto mismatches = ctx_->rf_mismatch_count;
  StartRadio(config);
  ctx_->rf_mismatch_count = mismatches;  // the run's count, kept across its jobs
  Run("y\r1\r4143\r1\r");
  EXPECT_EQ(console_.RowText(24).substr(0, 18), " 4143          1  ");
  EXPECT_EQ(port_->SettledSnapshot()->rf_records[4143].good, 2u);
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast complete: 1 pass, 1 frame, 2 echo mismatches.");
  EXPECT_EQ(ctx_->rf_mismatch_count, 3);
}

// A key typed as the 21st frame goes out stops the broadcast after that copy; with two passes
// asked one countdown follows, then the end prompt waits for a key of its own.
TEST_F(MemoryRfTest, KeyStopsTheBroadcastOneCountdownThenTheEndPrompt) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  StartRadio(config);
  KeyAtDataCopy(21, "s");
  Run("y\r1\r-3\r2\r");  // a negative start counts as record 0

  const auto snapshot = port_->SettledSnapshot();
  EXPECT_EQ(snapshot->counters.rf.header_frames_good, 1u);
  EXPECT_EQ(snapshot->counters.rf.data_frames_received, 21u);
  EXPECT_EQ(snapshot->rf_records[20].good, 1u);
  const std::vector<std::string> keys = console_.KeysTaken();
  ASSERT_GE(keys.size(), 2u);
  EXPECT_EQ(keys[keys.size() - 2], "s");
  EXPECT_EQ(keys.back(), "x");
  EXPECT_EQ(countdown_.size(), 6u);
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast stopped at record 20");
  // The key cut that record short: only the records before it count as sent.
  EXPECT_EQ(outcome_.frames, 20);
}

// The radio goes (an adapter pulled out) right after the 50th frame's echo: the dead line shows
// at the next frame, and the broadcast ends there, without a resend, reported once on the
// status line, and without the countdown although a second pass was asked for.
TEST_F(MemoryRfTest, RadioGoneMidPassEndsTheBroadcast) {
  sim::RadioConfig config = RfRadio();
  config.Add(sim::Fault::kRfHangUp, 50);
  StartRadio(config);
  int data_writes = 0;
  port_->on_write = [&](std::span<const std::uint8_t> bytes) {
    if (!bytes.empty() && bytes[0] == 0xE3) ++data_writes;
  };
  Run("y\r1\r0\r2\r");
  port_->on_write = nullptr;

  EXPECT_EQ(data_writes, 51);  // no resend on a dead line
  EXPECT_TRUE(countdown_.empty());
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast stopped at record 50");
  EXPECT_EQ(console_.RowText(51).substr(64, 12), "  1  59   0 ");
  EXPECT_EQ(ctx_->errors.code, 0);
}

// A stop request (what a signal makes of SIGTERM or SIGINT) as the second copy of record 9 goes
// out: that copy is not repeated, no other record follows, no countdown, no end prompt, and the
// outcome and its log line say where.
TEST_F(MemoryRfTest, StopRequestEndsThePassWithinTheFrameUnderWay) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  StartRadio(config);
  port_->on_write = [this, count = 0](std::span<const std::uint8_t> bytes) mutable {
    if (!bytes.empty() && bytes[0] == 0xE3 && ++count == 20) console_.RequestStop(SIGINT);
  };
  Run("y\r2\r0\r3\r");

  const auto snapshot = port_->SettledSnapshot();
  EXPECT_EQ(snapshot->counters.rf.data_frames_received, 20u);  // records 0..9, two copies each
  EXPECT_EQ(snapshot->rf_records[9].good, 2u);
  EXPECT_TRUE(countdown_.empty());
  EXPECT_TRUE(outcome_.interrupted);
  EXPECT_EQ(outcome_.stop_record, 9);
  EXPECT_EQ(outcome_.frames, 9);
  EXPECT_EQ(outcome_.passes, 0);
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast stopped at record 9");
  const std::vector<std::string> keys = console_.KeysTaken();
  EXPECT_TRUE(keys.empty() || keys.back() != "x") << "the end prompt waited for a key";

  const std::string line = app::FormatLogLine(app::RfLogEntry(outcome_), {});
  EXPECT_NE(line.find("\"outcome\":\"interrupted\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"record\":9"), std::string::npos) << line;
  EXPECT_NE(line.find("\"frames\":9"), std::string::npos) << line;
}

// The stop comes during the six seconds between two passes: the passes so far count as run, and
// with no record under way the line and the log say how many passes ran.
TEST_F(MemoryRfTest, StopRequestInTheCountdownEndsTheBroadcast) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  StartRadio(config);
  clock_.on_pause = [this](int ms) {
    if (ms != 1000) return;
    countdown_.push_back(console_.RowTrimmed(35));
    if (countdown_.size() == 2) console_.RequestStop(SIGTERM);
  };
  Run("y\r1\r4140\r3\r");

  EXPECT_EQ(port_->SettledSnapshot()->counters.rf.data_frames_received, 4u);  // 4140..4143
  EXPECT_TRUE(outcome_.interrupted);
  EXPECT_EQ(outcome_.passes, 1);
  EXPECT_EQ(outcome_.frames, 4);
  EXPECT_EQ(countdown_.size(), 2u);
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast stopped between passes: 1 of 3 passes complete.");
  const std::string line = app::FormatLogLine(app::RfLogEntry(outcome_), {});
  EXPECT_EQ(line.find("\"record\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"passes\":1,"), std::string::npos) << line;
  EXPECT_NE(line.find("\"reason\":\"signal\""), std::string::npos) << line;
}

// The largest repeat count still ends on a key: typed in the fourth pass, after the countdown
// of every pass so far and of the stopped one.
TEST_F(MemoryRfTest, LargestRepeatCountStillEndsOnAKey) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  StartRadio(config);
  KeyAtDataCopy(4, "s");
  Run("y\r1\r4143\r99999999999\r");  // beyond 32 bits: taken as 2147483647
  EXPECT_EQ(port_->SettledSnapshot()->rf_records[4143].good, 4u);
  EXPECT_EQ(countdown_.size(), 6u * 4);
  EXPECT_EQ(outcome_.passes, 3);
  EXPECT_EQ(console_.RowTrimmed(32), "Broadcast stopped at record 4143");
}

// The echo window, to the microsecond: an echo readable 10 us before the half second is over
// counts, one readable 10 us after it does not, and the copy goes out again right at 0.5 s.
TEST_F(MemoryRfTest, EchoWindowIsHalfASecondToTheMicrosecond) {
  for (const double past_window : {-10e-6, 10e-6}) {
    SCOPED_TRACE(past_window);
    sim::RadioConfig config;
    config.mode = sim::RadioMode::kRf;
    StartRadio(config);
    int copies = 0;
    port_->on_write = [&](std::span<const std::uint8_t> bytes) {
      if (bytes.empty() || bytes[0] != 0xE3) return;
      // The first copy's echo is held back by the latency: out and back take 20 bits a byte.
      const double there_and_back = 2.0 * static_cast<double>(bytes.size()) * 10.0 / 115200;
      port_->SetLatency(++copies == 1 ? 0.5 - there_and_back + past_window : 0.0);
    };
    Run("y\r1\r4143\r1\r");  // one copy of the last record only, no header
    const auto snapshot = port_->SettledSnapshot();
    const bool late = past_window > 0;
    EXPECT_EQ(snapshot->counters.rf.data_frames_received, late ? 2u : 1u);
    EXPECT_EQ(copies, late ? 2 : 1);
    if (late) {
      const auto& wire = port_->Wire();
      const double first = wire.front().written_at;
      EXPECT_EQ(Us(wire.back().written_at - first), 500000);
    }
  }
}

// Two passes of two copies: the header copies 100 ms apart and 100 ms before the first data
// frame, every data copy written the moment the echo before it is in, and the next pass's
// header six seconds after the last echo of the first; every byte at 115200 bit/s, 8N1, no flow
// control.
TEST_F(MemoryRfTest, HeaderPausesTurnaroundsAndCountdownAreExactOnAPlainLine) {
  sim::RadioConfig config;
  config.mode = sim::RadioMode::kRf;
  StartRadio(config);
  Run("y\r2\r0\r2\r");
  EXPECT_EQ(port_->SettledSnapshot()->counters.rf.data_frames_received, 2 * 2 * kRecords);

  // The writes: runs of bytes written at one time.
  struct Write {
    double at;
    std::uint8_t type;
  };
  std::vector<Write> writes;
  const auto& wire = port_->Wire();
  int wrong_line = 0;
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (i == 0 || wire[i].written_at != wire[i - 1].written_at) {
      writes.push_back({wire[i].written_at, wire[i].value});
    }
    const sim::LineState& line = wire[i].line;
    const bool right = line.rate == 115200 && line.data_bits == 8 && !line.parity &&
                       line.stop_bits == 1 && !line.rts_cts;
    if (!right && ++wrong_line <= 3) ADD_FAILURE() << "byte " << i << " not at 115200 8N1";
  }
  EXPECT_EQ(wrong_line, 0);
  ASSERT_EQ(writes.size(), 2 * (2 + 2 * kRecords));
  std::set<long long> readable;
  for (const auto& answer : port_->Answers()) readable.insert(Us(answer.ready_at));
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    const std::size_t first = pass * (2 + 2 * kRecords);
    ASSERT_EQ(writes[first].type, 0xE2);
    ASSERT_EQ(writes[first + 1].type, 0xE2);
    ASSERT_EQ(writes[first + 2].type, 0xE3);
    EXPECT_EQ(Us(writes[first + 1].at - writes[first].at), 100000);
    EXPECT_EQ(Us(writes[first + 2].at - writes[first + 1].at), 100000);
    if (pass == 1) {
      double last_echo = 0;  // of the first pass
      for (const auto& answer : port_->Answers()) {
        if (answer.ready_at < writes[first].at) last_echo = answer.ready_at;
      }
      EXPECT_EQ(Us(writes[first].at - last_echo), 6000000);
    }
    int late = 0;
    for (std::size_t w = first + 3; w < first + 2 + 2 * kRecords; ++w) {
      if (readable.count(Us(writes[w].at)) == 0 && ++late <= 3) {
        ADD_FAILURE() << "write " << w << " not at the time an echo came in";
      }
    }
    EXPECT_EQ(late, 0);
  }
}

// The random byte s as the radio heard it: the same in the copies of one frame, new in every
// frame and in every pass.
TEST_F(MemoryRfTest, EveryFrameAndPassBringsItsOwnRandomByte) {
  StartRadio(RfRadio());
  Run("y\r2\r0\r2\r");
  const auto snapshot = port_->SettledSnapshot();
  EXPECT_EQ(snapshot->counters.stray_bytes, 0u);
  std::array<bool, 256> seen{};
  int same_in_both_passes = 0;
  for (const sim::RecordFrameStats& r : snapshot->rf_records) {
    ASSERT_EQ(r.s.size(), 4u);
    EXPECT_EQ(r.s[0], r.s[1]);
    EXPECT_EQ(r.s[2], r.s[3]);
    seen[r.s[0]] = true;
    same_in_both_passes += r.s[0] == r.s[2];
  }
  EXPECT_GT(std::count(seen.begin(), seen.end(), true), 200);
  EXPECT_LT(same_in_both_passes, 60);  // 16 expected by chance in 4144
}

// An echo on its way for 490 ms still counts; one held 510 ms is past the window, and the frame
// goes out again.
TEST_F(MemoryRfTest, AnEchoPastTheWindowDoesNotCount) {
  for (const double hold_ms : {490.0, 510.0}) {
    SCOPED_TRACE(hold_ms);
    StartRadio(RfRadio().Add(sim::Fault::kRfHoldEcho, 1, hold_ms));
    Run("y\r1\r4143\r1\r");
    EXPECT_EQ(port_->SettledSnapshot()->counters.rf.data_frames_received, hold_ms < 500 ? 1u : 2u);
    EXPECT_EQ(outcome_.data_copies, hold_ms < 500 ? 1 : 2);
  }
}

// A header answered with one byte: the byte is neither shown nor read, so it is still waiting
// when the first data frame's echo comes; that copy fails and is sent again.
TEST_F(MemoryRfTest, AOneByteHeaderReplyStaysForTheFirstEcho) {
  StartRadio(RfRadio().Add(sim::Fault::kRfShortHeaderReply, 1));
  Run("y\r1\r0\r1\r");
  const auto snapshot = port_->SettledSnapshot();
  EXPECT_EQ(console_.RowTrimmed(21), "");
  EXPECT_EQ(snapshot->rf_records[0].good, 2u);
  EXPECT_EQ(snapshot->rf_records[1].good, 1u);
  EXPECT_EQ(snapshot->counters.rf.data_frames_received, kRecords + 1);
}

// Stray bytes after the first pass are thrown away when the second begins: its header's echo
// is shown as it came and nothing differs.
TEST_F(MemoryRfTest, StrayBytesAfterAPassAreDiscardedBeforeTheNext) {
  StartRadio(RfRadio().Add(sim::Fault::kRfStrayAfterPass, 1, 3));
  Run("y\r1\r0\r2\r");
  const auto snapshot = port_->SettledSnapshot();
  const auto fired = std::count_if(port_->Events().begin(), port_->Events().end(), [](auto& e) {
    return e.kind == sim::EventKind::kFaultFired &&
           e.value == static_cast<std::uint32_t>(sim::Fault::kRfStrayAfterPass);
  });
  EXPECT_EQ(fired, 1);
  // Every frame came back as it was heard, and three bytes more.
  EXPECT_EQ(snapshot->counters.bytes_sent, snapshot->counters.bytes_received + 3);
  EXPECT_EQ(console_.RowTrimmed(21), "E2  93  36  10  30  6  42  38");
  EXPECT_EQ(console_.RowTrimmed(22), "");
  EXPECT_EQ(snapshot->counters.rf.data_frames_received, 2 * kRecords);
  EXPECT_EQ(ctx_->rf_mismatch_count, 0);
}

}  // namespace
}  // namespace tvx::testing
