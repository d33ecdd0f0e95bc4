// The frames of the RF download file byte for byte, and the walk that makes the header.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/screen_model.h"
#include "image/firmware_image.h"
#include "job/clock.h"
#include "rf/download_file.h"
#include "rf/frames.h"
#include "rf/screen_rows.h"

namespace tvx::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

Bytes Taken(const rf::RfFrameBuffer& frame, std::size_t length) {
  return Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length));
}

// The made-up record of the worked example: length 20, type 0x0F, address 0x8010, data 0..15.
image::RecordBuffer ExampleRecord() {
  image::RecordBuffer record{};
  record[0] = 20;
  record[1] = 0x0F;
  record[2] = 0x80;
  record[3] = 0x10;
  for (int i = 0; i < 16; ++i)
    record[static_cast<std::size_t>(4 + i)] = static_cast<std::uint8_t>(i);
  return record;
}

TEST(RfFramesTest, WorkedExamplesByteForByte) {
  rf::RfFrameBuffer frame{};
  const std::size_t length = rf::RfDataFrame(frame, ExampleRecord(), 1, 0x5A);
  EXPECT_EQ(Taken(frame, length), (Bytes{0xE3, 0x13, 0x36, 0x00, 0x01, 0x5A, 0x0F, 0x80, 0x10,
                                         0x20, 0xB5, 0x43, 0x6B, 0x86, 0xD4, 0x03, 0xA5, 0x03,
                                         0x4D, 0x1C, 0x82, 0x21, 0x1E, 0x54, 0x28, 0xBF, 0x12}));

  console::ScreenModel screen;
  rf::ShowDataFrame(screen, std::span<const std::uint8_t>(frame.data(), length), 1, 7);
  EXPECT_EQ(screen.RowText(24).substr(0, 18), " 1             7  ");
  EXPECT_EQ(Trimmed(screen.RowText(25)),
            "   13 36 0  1  5A F  80 10 20 B5 43 6B 86 D4 3  A5 3  4D 1C 82 21 1E 54 28");
  EXPECT_EQ(screen.RowText(27).substr(0, 3), "E3 ");

  EXPECT_EQ(rf::RfHeaderFrame(frame, 0x1030, {0x12, 0x34}), 8u);
  EXPECT_EQ(Taken(frame, 8), (Bytes{0xE2, 0x12, 0x36, 0x10, 0x30, 0x34, 0xD1, 0xB8}));
  rf::ShowHeaderFrame(screen, std::span<const std::uint8_t>(frame.data(), 8));
  EXPECT_EQ(Trimmed(screen.RowText(19)), "12  36  10  30  34  D1  B8");
  EXPECT_EQ(screen.CursorRow(), 21);
  EXPECT_EQ(screen.CursorColumn(), 1);

  // Record index 0x0102 goes high byte first.
  rf::RfDataFrame(frame, ExampleRecord(), 0x0102, 0);
  EXPECT_EQ(frame[3], 0x01);
  EXPECT_EQ(frame[4], 0x02);
}

TEST(RfFramesTest, LengthsOfShortRecordsOfTheReleaseImage) {
  image::RecordBuffer record{};
  rf::RfFrameBuffer frame{};
  struct Case {
    std::int32_t index;
    std::uint8_t record_length;
    std::uint8_t m;
    std::size_t frame_length;
  };
  for (const Case c : {Case{772, 13, 13, 21}, Case{4136, 7, 7, 15}, Case{4143, 6, 5, 13}}) {
    image::FetchRecord(c.index, record);
    ASSERT_EQ(record[0], c.record_length) << c.index;
    EXPECT_EQ(rf::RfDataFrame(frame, record, c.index, 0x33), c.frame_length) << c.index;
    EXPECT_EQ(frame[1], c.m) << c.index;
  }
}

// A length byte beyond what a frame can carry is cut to the buffer: m = 25, 33 bytes.
TEST(RfFramesTest, OverlongRecordStaysWithinTheFrameBuffer) {
  image::RecordBuffer record = ExampleRecord();
  record[0] = 40;
  rf::RfFrameBuffer frame{};
  EXPECT_EQ(rf::RfDataFrame(frame, record, 0, 0x5A), rf::kFrameBufferSize);
  EXPECT_EQ(frame[1], 25);
}

TEST(RfFramesTest, ZeroMixWordLeavesTheDataAsTheyAre) {
  image::RecordBuffer record = ExampleRecord();
  record[3] = 0x00;  // address low byte 0, and s = 0
  rf::RfFrameBuffer frame{};
  rf::RfDataFrame(frame, record, 0, 0);
  for (std::size_t i = 4; i <= 19; ++i) EXPECT_EQ(frame[i + 5], record[i]) << i;
  rf::RfDataFrame(frame, record, 0, 1);
  EXPECT_NE(Bytes(frame.begin() + 9, frame.begin() + 25),
            Bytes(record.begin() + 4, record.begin() + 20));
}

// Reads 10.0 at the start of the walk and 12.5 after it.
class TwoReadingClock final : public job::Clock {
 public:
  double Seconds() override { return readings_++ == 0 ? 10.0 : 12.5; }
  double TimeOfDaySeconds() override { return 0.0; }
  void SleepMs(int) override {}

 private:
  int readings_ = 0;
};

TEST(RfDownloadFileTest, ReleaseImageGivesTheSameHeaderEveryPass) {
  console::ScreenModel screen;
  image::RecordBuffer buffer{};
  std::int32_t progress = 0;
  for (int pass = 0; pass < 2; ++pass) {
    TwoReadingClock clock;
    rf::ShowFileBegins(screen, pass);
    const rf::DownloadFile file = rf::WalkDownloadFile(
        clock, image::FirmwareImage(), buffer,
        [&](std::int32_t index) { rf::CountWalkedRecord(screen, progress, index); });
    rf::ShowDownloadFile(screen, file);
    EXPECT_EQ(file.record_count, 4144);
    // 33,097 words, an odd count: both XOR sums complemented.
    EXPECT_EQ(file.checksum, (std::array<std::uint8_t, 2>{0x93, 0x06}));
    rf::RfFrameBuffer frame{};
    rf::RfHeaderFrame(frame, file.record_count, file.checksum);
    EXPECT_EQ(Taken(frame, 8), (Bytes{0xE2, 0x93, 0x36, 0x10, 0x30, 0x06, 0x42, 0x38}));
    EXPECT_EQ(screen.RowText(15).substr(0, 14), " 4143   93 6  ");
    EXPECT_EQ(screen.RowText(17).substr(0, 24), "Create Time is  2.50 S  ");
  }
  EXPECT_EQ(screen.RowText(2).substr(0, 27), " Creating DownLoad File  1 ");
  EXPECT_EQ(screen.RowText(19).substr(0, 27), " Creating DownLoad File  2 ");
  // 8288 records walked; the counter restarted at 0 each time it passed 100 (8288 = 82 * 101 + 6).
  EXPECT_EQ(progress, 6);
}

}  // namespace
}  // namespace tvx::testing
