// The main menu, its key dispatch, the settings screen and the error report, driven through the
// scripted console.
#include "app/front_end.h"

#include <gtest/gtest.h>

#include <string>

#include "image/firmware_image.h"
#include "image/sha256.h"
#include "job/error_state.h"
#include "job/run_context.h"
#include "support/fake_clock.h"
#include "support/scripted_console.h"

namespace tvx::testing {
namespace {

using console::kBlack;
using console::kBlue;
using console::kBrightWhite;
using console::kYellow;

// The front end never touches the port; a port that is never open is enough.
class ClosedPort final : public serial::SerialPort {
 public:
  serial::ErrorNumber Open(std::string_view) override { return serial::kErrNoSuchPort; }
  bool IsOpen() const override { return false; }
  serial::ErrorNumber Close() override { return 0; }
  serial::ErrorNumber Apply(serial::LineSetting, std::uint32_t) override { return 52; }
  serial::ErrorNumber GetTimeouts(serial::Timeouts&) override { return 52; }
  serial::ErrorNumber SetTimeouts(const serial::Timeouts&) override { return 52; }
  serial::ErrorNumber GetControlState(serial::ControlState&) override { return 52; }
  serial::ErrorNumber SetControlState(const serial::ControlState&) override { return 52; }
  serial::WaitingCount BytesWaiting() override { return {0, 52}; }
  std::size_t Read(std::span<std::uint8_t>) override { return 0; }
  std::size_t Write(std::span<const std::uint8_t>) override { return 0; }
  void AwaitActivity(console::NativeWaitHandle, int) override {}
};

class FrontEndTest : public ::testing::Test {
 protected:
  ScriptedConsole console;
  ClosedPort port;
  serial::NoPriority priority;
  FakeClock clock;
  job::RunContext ctx{console, port, priority, clock};
  int direct_runs = 0, setup_runs = 0, rf_runs = 0;

  app::MenuJobs CountingJobs() {
    app::MenuJobs jobs;
    jobs.direct_upload = [this](job::RunContext&) { ++direct_runs; };
    jobs.radio_setup = [this](job::RunContext&) { ++setup_runs; };
    jobs.rf_upload = [this](job::RunContext&) { ++rf_runs; };
    return jobs;
  }
};

TEST_F(FrontEndTest, MenuIsDrawnWithTitleEntriesAndStatusLine) {
  console.Feed("\x1b");
  app::RunProgram(ctx, CountingJobs());

  EXPECT_EQ(console.RowTrimmed(1),
            "            UpLoad Torvandrix Rev 2.54 for 900MHz (12-05-2005)");
  EXPECT_EQ(console.RowTrimmed(5), "1        UpLoad Torvandrix Firmware Through Direct Connection");
  EXPECT_EQ(console.RowTrimmed(7), "2        Radio Setup");
  EXPECT_EQ(console.RowTrimmed(9), "3        Set Com Port for Terminal Emulator and Download");
  EXPECT_EQ(console.RowTrimmed(11), "4        UpLoad Torvandrix Firmware Over RF");
  EXPECT_EQ(console.RowTrimmed(14), "<esc>    End program");
  for (int row : {2, 3, 4, 6, 8, 10, 12, 13, 15, 50}) EXPECT_EQ(console.RowTrimmed(row), "") << row;

  // Two blanks, Com1, blanks to column 15, "Baudrate = ", a blank, 19200 and a blank.
  EXPECT_EQ(console.RowText(51).substr(0, 32), "  Com1        Baudrate =  19200 ");
  EXPECT_EQ(console.RowText(51).find("Baudrate"), 14u);
  EXPECT_TRUE(console.RowColours(51, 1, 80, kYellow, kBlue));
  EXPECT_TRUE(console.RowColours(50, 1, 80, kBrightWhite, kBlack));
  EXPECT_TRUE(console.RowColours(1, 1, 80, kBrightWhite, kBlack));

  EXPECT_EQ(console.Screen().CursorRow(), 1);
  EXPECT_EQ(console.Screen().CursorColumn(), 1);
  EXPECT_EQ(console.Screen().CurrentAttr(), console::MakeAttr(kBrightWhite, kBlack));
  EXPECT_EQ(console.Beeps(), 0);
}

TEST_F(FrontEndTest, KeysDispatchToJobsAndOthersBeep) {
  const std::string f1("\0;", 2), up("\0H", 2);
  console.FeedKeys({"1", "2", "4", "0", "x", "\r", f1, up, "5", "\x1b"});
  app::RunProgram(ctx, CountingJobs());
  EXPECT_EQ(direct_runs, 1);
  EXPECT_EQ(setup_runs, 1);
  EXPECT_EQ(rf_runs, 1);
  // "0" redraws silently; x, Enter, F1, Up and 5 each beep once.
  EXPECT_EQ(console.Beeps(), 5);
  EXPECT_EQ(console.KeysLeft(), 0u);
  EXPECT_FALSE(console.Starved());
}

TEST_F(FrontEndTest, JobsThatDoNotExistYetReturnToTheMenu) {
  console.FeedKeys({"2", "4", "\x1b"});
  app::MenuJobs none;
  app::RunProgram(ctx, none);
  EXPECT_EQ(console.RowTrimmed(14), "<esc>    End program");
  EXPECT_EQ(console.Beeps(), 0);
}

// A code a job leaves latched is reported before the menu returns: the next job starts clean.
TEST_F(FrontEndTest, CodeAJobLeftIsReportedBeforeTheMenu) {
  int runs = 0;
  int code_at_second_run = -1;
  app::MenuJobs jobs;
  jobs.rf_upload = [&](job::RunContext& c) {
    if (runs++ == 0) {
      c.errors.Latch(serial::kErrLineError);
    } else {
      code_at_second_run = c.errors.code;
    }
  };
  console.FeedKeys({"4", "4", "\x1b"});
  app::RunProgram(ctx, jobs);
  EXPECT_EQ(code_at_second_run, 0);
  EXPECT_EQ(ctx.errors.count, 1);
  EXPECT_EQ(console.Beeps(), 1);
}

TEST_F(FrontEndTest, SettingsOutOfRangePortBeepsAndClearsTheScreen) {
  console.Feed("12\r-1\r7\r0\r");
  app::RunSettingsScreen(ctx);
  EXPECT_EQ(console.Beeps(), 2);
  // The screen was cleared before the last port question, so "7" stands on row 1.
  EXPECT_EQ(console.RowTrimmed(1), "Com Port Number 7");
  EXPECT_EQ(console.RowTrimmed(2), "Setup Baud Rate 0");
  EXPECT_EQ(ctx.link.port_name, "Com7");
  EXPECT_EQ(ctx.link.baud_rate, 19200);
}

TEST_F(FrontEndTest, SettingsZeroOrTextKeepsThePortAndBadRatesAskAgainOnTheNextRow) {
  ctx.link.port_name = "Com3";
  console.Feed("abc\r2400\r115201\r115200\r");
  app::RunSettingsScreen(ctx);
  EXPECT_EQ(ctx.link.port_name, "Com3");
  EXPECT_EQ(ctx.link.baud_rate, 115200);
  EXPECT_EQ(console.Beeps(), 2);
  EXPECT_EQ(console.RowTrimmed(1), "Com Port Number abc");
  EXPECT_EQ(console.RowTrimmed(2), "Setup Baud Rate 2400");
  EXPECT_EQ(console.RowTrimmed(3), "Setup Baud Rate 115201");
  EXPECT_EQ(console.RowTrimmed(4), "Setup Baud Rate 115200");

  console.Feed("0\r0\r");
  app::RunSettingsScreen(ctx);
  EXPECT_EQ(ctx.link.port_name, "Com3");
  EXPECT_EQ(ctx.link.baud_rate, 115200);
}

TEST_F(FrontEndTest, EveryListedRateIsAcceptedAndShownOnTheStatusLine) {
  for (int rate : {4800, 9600, 19200, 38400, 57600, 115200}) {
    console.Feed("9\r" + std::to_string(rate) + "\r");
    app::RunSettingsScreen(ctx);
    EXPECT_EQ(ctx.link.baud_rate, rate);
  }
  EXPECT_EQ(console.Beeps(), 0);
  // RunProgram starts from the default settings; draw the menu directly to see the changed ones.
  app::DrawMainMenu(ctx);
  EXPECT_EQ(console.RowText(51).substr(0, 33), "  Com9        Baudrate =  115200 ");
}

// An image from a file is named on row 16 with its record count and digest, a long name cut
// from the left to keep the row within 80 columns; the built-in image leaves the row empty.
TEST_F(FrontEndTest, AnImageFromAFileIsNamedBelowTheItems) {
  app::ChosenImage image;
  image.path = std::string(60, 'd') + "/rev3\x1b.bin";
  const auto bytes = image::FirmwareImage();
  image.bytes.assign(bytes.begin(), bytes.end());
  app::DrawMainMenu(ctx, app::MenuImageRow(image));
  const std::string tail = "  " + std::to_string(image::WalkRecordCount(bytes)) +
                           " records  SHA-256 " +
                           image::HexDigest(image::Sha256Of(bytes)).substr(0, 16);
  const std::string name = std::string(24, 'd') + "/rev3\\x1B.bin";
  EXPECT_EQ(console.RowText(16),
            "Image ..." + name.substr(name.size() - (80 - 6 - tail.size() - 3)) + tail);
  EXPECT_EQ(console.RowTrimmed(1), std::string(12, ' ') + std::string(app::kTitle));
  EXPECT_EQ(app::MenuImageRow(app::BuiltInImage()), "");
}

TEST_F(FrontEndTest, ErrorReportShowsCountCodeAndPositionThenRestoresCursorAndColours) {
  auto& screen = console.Screen();
  screen.Clear();
  screen.Locate(10, 7);
  ctx.errors.Latch(70);
  ctx.errors.Latch(0);   // a success keeps the earlier code
  ctx.errors.Latch(53);  // a later failure overwrites it
  job::ErrorReport(ctx.errors, console);

  EXPECT_EQ(console.RowText(51).substr(64, 12), "  1  53   0 ");
  EXPECT_EQ(ctx.errors.code, 0);
  EXPECT_EQ(ctx.errors.count, 1);
  EXPECT_EQ(console.Beeps(), 1);
  // Only the report's 12 cells are painted on a row nobody painted.
  EXPECT_TRUE(console.RowColours(51, 65, 76, kYellow, kBlue));
  EXPECT_TRUE(console.RowColours(51, 1, 64, kBrightWhite, kBlack));
  EXPECT_TRUE(console.RowColours(51, 77, 80, kBrightWhite, kBlack));
  EXPECT_EQ(screen.CursorRow(), 10);
  EXPECT_EQ(screen.CursorColumn(), 7);
  screen.PrintText("x");
  EXPECT_EQ(console.Foreground(10, 7), kBrightWhite);
  EXPECT_EQ(console.Background(10, 7), kBlack);
}

TEST_F(FrontEndTest, ErrorReportCountWidensFromTheThousandthReport) {
  ctx.errors.count = 999;
  ctx.errors.Latch(57);
  job::ErrorReport(ctx.errors, console);
  EXPECT_EQ(console.RowText(51).substr(64, 13), "1000  57   0 ");
}

TEST_F(FrontEndTest, ErrorReportLeavesTheLeftOfTheStatusLineAlone) {
  app::DrawStatusLine(ctx, "  Q or q to quit");
  const std::string left = console.RowText(51).substr(0, 64);
  ctx.errors.Latch(52);
  job::ErrorReport(ctx.errors, console);
  EXPECT_EQ(console.RowText(51).substr(0, 64), left);
  EXPECT_NE(left.find("  Q or q to quit"), std::string::npos);
  EXPECT_TRUE(console.RowColours(51, 1, 80, kYellow, kBlue));
}

}  // namespace
}  // namespace tvx::testing
