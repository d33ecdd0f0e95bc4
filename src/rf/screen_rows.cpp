#include "rf/screen_rows.h"

#include <string>
#include <string_view>

#include "console/format.h"

namespace tvx::rf {

namespace {

constexpr int kProgressRow = 15;
constexpr int kCreateTimeRow = 17;
constexpr int kHeaderRow = 19;
constexpr int kRepliesRow = 21;
constexpr int kIndexRow = 24;
constexpr int kFrameRow = 25;
constexpr int kEchoRow = 27;
constexpr int kDifferRow = 28;
constexpr int kPromptRow = 30;
constexpr int kOutcomeRow = 32;
constexpr int kCountdownRow = 35;
constexpr std::string_view kIndexPicture = "#####   ";

int Column(std::size_t k) {
  return static_cast<int>(3 * k - 2);
}

}  // namespace

void ShowFileBegins(console::ScreenModel& screen, std::int64_t pass) {
  screen.NewLine();
  screen.PrintText(" Creating DownLoad File ");
  screen.PrintNumber(pass + 1);
  screen.NewLine();
}

void CountWalkedRecord(console::ScreenModel& screen, std::int32_t& progress_counter,
                       std::int32_t index) {
  if (++progress_counter <= kProgressLimit) return;
  progress_counter = 0;
  screen.Locate(kProgressRow, 1);
  screen.PrintText(console::FormatPicture(kIndexPicture, index));
}

void ShowDownloadFile(console::ScreenModel& screen, const DownloadFile& file) {
  std::string line = console::FormatPicture(kIndexPicture, file.record_count - 1);
  line += console::Hex(file.checksum[0]);
  line += ' ';
  line += console::Hex(file.checksum[1]);
  screen.Locate(kProgressRow, 1);
  screen.PrintText(line);
  screen.Locate(kCreateTimeRow, 1);
  screen.PrintText(console::FormatPicture("Create Time is ##.## S", file.create_seconds));
  screen.NewLine();
}

void ShowHeaderFrame(console::ScreenModel& screen, std::span<const std::uint8_t> frame) {
  std::string line;
  for (std::size_t i = 1; i < frame.size(); ++i) {
    line += console::Hex(frame[i]);
    line += "  ";
  }
  screen.Locate(kHeaderRow, 1);
  screen.PrintText(line);
  screen.NewLine();
  screen.Locate(kRepliesRow, 1);
}

void ShowHeaderReply(console::ScreenModel& screen, std::span<const std::uint8_t> bytes) {
  for (const std::uint8_t b : bytes) {
    screen.PrintText(console::Hex(b));
    screen.PrintText("  ");
  }
  screen.NewLine();
}

void ShowDataFrame(console::ScreenModel& screen, std::span<const std::uint8_t> frame,
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
  for (std::size_t i = 1; i + 2 < frame.size(); ++i) {
    screen.Locate(kFrameRow, static_cast<int>(3 * i + 1));
    screen.PrintText(console::Hex(frame[i]));
  }
}

bool ShowEcho(console::ScreenModel& screen, std::span<const std::uint8_t> frame,
              std::span<const std::uint8_t> echo, std::int64_t& mismatch_count) {
  screen.Locate(kEchoRow, 2);
  screen.PrintText(std::string(console::kColumns, ' '));
  screen.NewLine();
  bool intact = true;
  for (std::size_t k = 1; k <= frame.size(); ++k) {
    const std::uint8_t sent = frame[k - 1];
    const std::uint8_t got = echo[k - 1];
    if (got != sent) {
      ++mismatch_count;
      screen.Locate(kIndexRow, Column(k));
      screen.PrintText(console::Hex(sent));
      screen.Locate(kDifferRow, Column(k));
      screen.PrintText(console::Hex(got));
      intact = false;
    }
    screen.Locate(kEchoRow, Column(k));
    screen.PrintText(console::Hex(got));
  }
  return intact;
}

void ShowCountdown(console::ScreenModel& screen, int seconds_left) {
  screen.Locate(kCountdownRow, 1);
  screen.PrintText("Waiting to re-acuire radio network");
  screen.PrintNumber(seconds_left);
  screen.NewLine();
}

void ClearCountdown(console::ScreenModel& screen) {
  screen.Locate(kCountdownRow, 1);
  screen.PrintText(std::string(49, ' '));
  screen.NewLine();
}

void ShowEnd(console::ScreenModel& screen, const Outcome& outcome) {
  screen.Locate(kOutcomeRow, 1);
  screen.PrintText(OutcomeLine(outcome));
  screen.Locate(kPromptRow, 1);
  screen.SetColours(console::kYellow, console::kBlue, 0);
  screen.PrintText("Hit any key to return to main menu");
  screen.NewLine();
}

}  // namespace tvx::rf
