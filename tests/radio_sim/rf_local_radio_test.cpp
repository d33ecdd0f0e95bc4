// The simulated local radio of an RF upload: frame checks against the image, echoes, faults.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "image/checks.h"
#include "radio_sim/pc_side.h"

namespace tvx::testing {
namespace {

using sim::RadioConfig;
using sim::RfFrameCheck;

/// Stored form of records given in fetched order (each 4-byte group reversed).
std::vector<std::uint8_t> StoredImage(const std::vector<std::array<std::uint8_t, 20>>& records) {
  std::vector<std::uint8_t> stored;
  for (const auto& r : records) {
    for (int g = 0; g < 20; g += 4) {
      for (int i = 3; i >= 0; --i) stored.push_back(r[static_cast<std::size_t>(g + i)]);
    }
  }
  return stored;
}

std::array<std::uint8_t, 20> Record(std::uint8_t length, std::uint8_t type, std::uint16_t address) {
  std::array<std::uint8_t, 20> r{length, type, static_cast<std::uint8_t>(address >> 8),
                                 static_cast<std::uint8_t>(address)};
  for (int i = 0; i < 16; ++i) r[static_cast<std::size_t>(4 + i)] = static_cast<std::uint8_t>(i);
  return r;
}

void AppendCrc(Bytes& frame) {
  image::Crc16Register reg;
  for (std::size_t i = 1; i < frame.size(); ++i) image::Crc16Update(reg, frame[i]);
  frame.push_back(reg.high);
  frame.push_back(reg.low);
}

/// The data frame of record `index` with random byte `s`, built the way the uploader does.
Bytes DataFrame(std::span<const std::uint8_t> image, int index, std::uint8_t s) {
  image::RecordBuffer r{};
  image::FetchRecord(image, index, r);
  int m = r[0] - 1;
  if (m % 2 == 0) ++m;
  Bytes f{0xE3,
          static_cast<std::uint8_t>(m),
          0x36,
          static_cast<std::uint8_t>(index >> 8),
          static_cast<std::uint8_t>(index),
          s,
          r[1],
          r[2],
          r[3]};
  auto mix = static_cast<std::uint16_t>(r[3] << 8 | s);
  for (int i = 4; i <= m; i += 2) {
    image::BitMix(mix);
    f.push_back(static_cast<std::uint8_t>(r[static_cast<std::size_t>(i)] ^ (mix >> 8)));
    f.push_back(static_cast<std::uint8_t>(r[static_cast<std::size_t>(i + 1)] ^ (mix & 0xFF)));
  }
  f.resize(static_cast<std::size_t>(m) + 6);  // m = 1: the frame ends with the type byte
  AppendCrc(f);
  return f;
}

Bytes HeaderFrame(std::uint8_t even, std::uint16_t count, std::uint8_t odd) {
  Bytes f{0xE2, even, 0x36, static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count),
          odd};
  AppendCrc(f);
  return f;
}

/// A small image: the worked example's record (0x8010, data 0..15) as record 1, ending at
/// 0xFFFF with record 2.
class SmallImage : public ::testing::Test {
 protected:
  SmallImage()
      : stored_(
            StoredImage({Record(20, 15, 0x7000), Record(20, 15, 0x8010), Record(6, 15, 0xFFFE)})),
        wire_(Config()) {}

  RadioConfig Config() {
    RadioConfig c;
    c.mode = sim::RadioMode::kRf;
    c.image = stored_;
    return c;
  }
  const sim::RfCounters& Counters() { return wire_.radio.Rf().Counters(); }
  RfFrameCheck Check(const Bytes& frame) { return wire_.radio.Rf().Check(frame, nullptr); }

  std::vector<std::uint8_t> stored_;
  Wire wire_;
};

TEST_F(SmallImage, FramesOfTheWorkedExampleAreGoodAndEchoed) {
  const Bytes data = DataFrame(stored_, 1, 0x5A);
  EXPECT_EQ(data, (Bytes{0xE3, 0x13, 0x36, 0x00, 0x01, 0x5A, 0x0F, 0x80, 0x10,
                         0x20, 0xB5, 0x43, 0x6B, 0x86, 0xD4, 0x03, 0xA5, 0x03,
                         0x4D, 0x1C, 0x82, 0x21, 0x1E, 0x54, 0x28, 0xBF, 0x12}));
  EXPECT_EQ(wire_.Send(data), data);
  EXPECT_EQ(Counters().data_frames_good, 1u);
  EXPECT_EQ(wire_.radio.Rf().RecordStats()[1].good, 1u);

  EXPECT_EQ(HeaderFrame(0x12, 0x1030, 0x34),
            (Bytes{0xE2, 0x12, 0x36, 0x10, 0x30, 0x34, 0xD1, 0xB8}));
  const auto sum = wire_.radio.Rf().ExpectedChecksum();
  const Bytes header = HeaderFrame(sum[0], 3, sum[1]);
  EXPECT_EQ(wire_.Send(header), header);
  EXPECT_EQ(Counters().header_frames_good, 1u);
}

TEST_F(SmallImage, EveryWrongFieldIsCaughtButStillEchoed) {
  const Bytes good = DataFrame(stored_, 1, 0x5A);
  auto with = [&](std::size_t pos, std::uint8_t value) {
    Bytes f(good.begin(), good.end() - 2);
    f[pos] = value;
    AppendCrc(f);
    return f;
  };
  Bytes bad_crc = good;
  bad_crc.back() ^= 0x01;
  EXPECT_EQ(Check(bad_crc), RfFrameCheck::kBadCrc);
  EXPECT_EQ(Check(with(2, 0x37)), RfFrameCheck::kBadMarker);
  EXPECT_EQ(Check(with(4, 0x07)), RfFrameCheck::kBadIndex);
  EXPECT_EQ(Check(with(4, 0x00)), RfFrameCheck::kBadTypeOrAddress);  // record 0 is at 0x7000
  EXPECT_EQ(Check(with(6, 0x0E)), RfFrameCheck::kBadTypeOrAddress);
  EXPECT_EQ(Check(with(12, 0x00)), RfFrameCheck::kBadData);
  EXPECT_EQ(Check(with(5, 0x5B)), RfFrameCheck::kBadData);  // s does not match the scrambling
  Bytes short_m = DataFrame(stored_, 2, 0);                 // record 2: m = 5
  short_m.erase(short_m.end() - 4, short_m.end());
  short_m[1] = 3;
  AppendCrc(short_m);
  EXPECT_EQ(Check(short_m), RfFrameCheck::kBadLength);
  EXPECT_EQ(Check(HeaderFrame(0, 3, 0)), RfFrameCheck::kBadChecksum);
  const auto sum = wire_.radio.Rf().ExpectedChecksum();
  EXPECT_EQ(Check(HeaderFrame(sum[0], 4, sum[1])), RfFrameCheck::kBadRecordCount);

  EXPECT_EQ(wire_.Send(bad_crc), bad_crc);
  EXPECT_EQ(Counters().data_frames_bad, 1u);
  EXPECT_EQ(Counters().last_bad_check, RfFrameCheck::kBadCrc);
  EXPECT_EQ(wire_.radio.Rf().RecordStats()[1].bad, 1u);
}

TEST_F(SmallImage, UnframeableBytesAreDroppedUntilTheLineIsQuiet) {
  Bytes malformed = DataFrame(stored_, 1, 0);
  malformed[1] = 0x14;  // even: the frame's end cannot be found
  EXPECT_TRUE(wire_.Send(malformed).empty());
  EXPECT_EQ(Counters().malformed_frames, 1u);
  const Bytes good = DataFrame(stored_, 1, 7);
  EXPECT_TRUE(wire_.Send(good).empty());  // still within the same burst
  wire_.Wait(0.5);
  EXPECT_EQ(wire_.Send(good), good);

  // Half a frame, then nothing: dropped after the time-out, the next frame is fine.
  EXPECT_TRUE(wire_.Send(std::span(good).first(10)).empty());
  wire_.Wait(1.0);
  EXPECT_EQ(Counters().last_bad_check, RfFrameCheck::kIncomplete);
  EXPECT_EQ(wire_.Send(good), good);
}

// Records of one or two bytes have m = 1: a 9-byte frame whose last field is the type.
TEST(RfLocalRadioTest, RecordsOfOneOrTwoBytesHaveMOne) {
  RadioConfig c;
  c.mode = sim::RadioMode::kRf;
  const std::vector<std::uint8_t> stored =
      StoredImage({Record(2, 15, 0x1234), Record(1, 14, 0x4000), Record(6, 15, 0xFFFE)});
  c.image = stored;
  Wire wire(c);
  for (int r = 0; r < 2; ++r) {
    const Bytes frame = DataFrame(stored, r, 0x33);
    ASSERT_EQ(frame.size(), 9u);
    EXPECT_EQ(frame[1], 1);
    EXPECT_EQ(wire.Send(frame), frame);
    EXPECT_EQ(wire.radio.Rf().RecordStats()[static_cast<std::size_t>(r)].good, 1u);
  }
  Bytes wrong_type = DataFrame(stored, 0, 0x33);
  wrong_type.resize(6);
  wrong_type.push_back(14);
  AppendCrc(wrong_type);
  EXPECT_EQ(wire.radio.Rf().Check(wrong_type, nullptr), RfFrameCheck::kBadTypeOrAddress);
}

TEST(RfLocalRadioTest, EchoFaultsDropOrChangeOneByte) {
  RadioConfig c;
  c.mode = sim::RadioMode::kRf;
  c.Add(sim::Fault::kRfDrop, 0, 1.0);
  Wire dropping(c);
  const Bytes frame = DataFrame(image::FirmwareImage(), 0, 0x11);
  EXPECT_TRUE(dropping.Send(frame).empty());
  EXPECT_EQ(dropping.radio.Rf().Counters().data_frames_good, 1u);

  c.faults = {{sim::Fault::kRfCorrupt, 0, 0.5}};
  Wire corrupting(c);
  int corrupted = 0;
  for (int i = 0; i < 200; ++i) {
    const Bytes echo = corrupting.Send(frame);
    ASSERT_EQ(echo.size(), frame.size());
    int differing = 0;
    for (std::size_t k = 0; k < frame.size(); ++k) differing += echo[k] != frame[k];
    EXPECT_LE(differing, 1);
    corrupted += differing;
  }
  EXPECT_GT(corrupted, 60);
  EXPECT_LT(corrupted, 140);
  EXPECT_EQ(corrupting.radio.Rf().Counters().echoes_corrupted, static_cast<unsigned>(corrupted));
}

TEST(RfLocalRadioTest, EchoFaultsOnChosenFramesCountEveryCopy) {
  RadioConfig c;
  c.mode = sim::RadioMode::kRf;
  c.Add(sim::Fault::kRfDropEcho, 2);
  c.Add(sim::Fault::kRfCorruptEcho, 3, 7);
  Wire wire(c);
  const Bytes frame = DataFrame(image::FirmwareImage(), 0, 0x11);
  EXPECT_EQ(wire.Send(frame), frame);
  EXPECT_TRUE(wire.Send(frame).empty());
  Bytes changed = frame;
  changed[7] = static_cast<std::uint8_t>(~changed[7]);
  EXPECT_EQ(wire.Send(frame), changed);
  EXPECT_EQ(wire.Send(frame), frame);
  const sim::RfCounters& counters = wire.radio.Rf().Counters();
  EXPECT_EQ(counters.data_frames_received, 4u);
  EXPECT_EQ(counters.echoes_dropped, 1u);
  EXPECT_EQ(counters.echoes_corrupted, 1u);
  EXPECT_EQ(wire.radio.Rf().RecordStats()[0].good, 4u);
}

TEST(RfLocalRadioTest, WholeReleaseImagePassIsGood) {
  RadioConfig c;
  c.mode = sim::RadioMode::kRf;
  Wire wire(c);
  const auto sum = wire.radio.Rf().ExpectedChecksum();
  EXPECT_EQ(wire.radio.Rf().ExpectedRecordCount(), 4144);
  wire.Send(HeaderFrame(sum[0], 4144, sum[1]));
  for (int r = 0; r < 4144; ++r) {
    const Bytes frame = DataFrame(image::FirmwareImage(), r, static_cast<std::uint8_t>(r * 7));
    ASSERT_EQ(wire.Send(frame), frame) << "record " << r;
  }
  EXPECT_EQ(wire.radio.Rf().Counters().header_frames_good, 1u);
  EXPECT_EQ(wire.radio.Rf().Counters().records_complete, 4144u);
  EXPECT_EQ(wire.radio.Rf().Counters().data_frames_bad, 0u);
}

TEST(RfLocalRadioTest, WrongLineRateIsNotHeard) {
  RadioConfig c;
  c.mode = sim::RadioMode::kRf;
  Wire wire(c);
  wire.line = sim::LineState{.known = true, .rate = 19200};
  EXPECT_TRUE(wire.Send(DataFrame(image::FirmwareImage(), 0, 0)).empty());
  EXPECT_EQ(wire.radio.Rf().Counters().line_rate_faults, 1u);
}

}  // namespace
}  // namespace tvx::testing
