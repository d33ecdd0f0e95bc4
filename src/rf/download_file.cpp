#include "rf/download_file.h"

#include <string>

#include "console/format.h"

namespace tvx::rf {

namespace {

constexpr int kProgressRow = 15;
constexpr int kCreateTimeRow = 17;
constexpr int kHeaderRow = 19;
constexpr int kRepliesRow = 21;
constexpr int kIndexRow = 24;
constexpr int kFrameRow = 25;
constexpr std::string_view kIndexPicture = "#####   ";

}  // namespace

DownloadFile CreateDownloadFile(console::ScreenModel& screen, job::Clock& clock,
                                std::span<const std::uint8_t> image, image::RecordBuffer& buffer,
                                std::int32_t& progress_counter, std::int64_t pass) {
  const double start = clock.Seconds();
  screen.NewLine();
  screen.PrintText(" Creating DownLoad File ");
  screen.PrintNumber(pass + 1);
  screen.NewLine();

  image::PairChecksum sum;
  image::ImageWalk walk(image, buffer);
  while (walk.NextRecord()) {
    if (++progress_counter > kProgressLimit) {
      progress_counter = 0;
      screen.Locate(kProgressRow, 1);
      screen.PrintText(console::FormatPicture(kIndexPicture, walk.RecordIndex()));
    }
    for (image::Word w; walk.NextWord(w);) sum.Add(w.b0, w.b1);
  }

  DownloadFile file;
  const std::int32_t last = walk.RecordIndex();
  file.record_count = last + 1;
  file.checksum = sum.Value();

  std::string line = console::FormatPicture(kIndexPicture, last);
  line += console::Hex(file.checksum[0]);
  line += ' ';
  line += console::Hex(file.checksum[1]);
  screen.Locate(kProgressRow, 1);
  screen.PrintText(line);
  file.create_seconds = clock.Seconds() - start;
  screen.Locate(kCreateTimeRow, 1);
  screen.PrintText(console::FormatPicture("Create Time is ##.## S", file.create_seconds));
  screen.NewLine();
  return file;
}

void ShowHeaderFrame(console::ScreenModel& screen, const RfFrameBuffer& frame) {
  std::string line;
  for (std::size_t i = 1; i < kHeaderFrameSize; ++i) {
    line += console::Hex(frame[i]);
    line += "  ";
  }
  screen.Locate(kHeaderRow, 1);
  screen.PrintText(line);
  screen.NewLine();
  screen.Locate(kRepliesRow, 1);
}

void ShowDataFrame(console::ScreenModel& screen, const RfFrameBuffer& frame, std::size_t length,
                   std::int32_t index, std::int64_t mismatch_count) {
  screen.Locate(kIndexRow, 1);
  screen.PrintNumber(index);
  screen.NextPrintZone();
  screen.PrintNumber(mismatch_count);
  screen.NewLine();
  screen.Locate(kFrameRow, 1);
  screen.PrintText(std::string(console::kColumns, ' '));
  screen.NewLine();
  // The type byte lands where the blank row left the cursor; the rest stand in columns of three.
  screen.PrintText(console::Hex(frame[0]));
  for (std::size_t i = 1; i + 2 < length; ++i) {
    screen.Locate(kFrameRow, static_cast<int>(3 * i + 1));
    screen.PrintText(console::Hex(frame[i]));
  }
}

}  // namespace tvx::rf
