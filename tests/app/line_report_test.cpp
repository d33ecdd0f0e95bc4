// The line mode's output: what reaches standard output (the outcome, nothing else), what reaches
// standard error (notes, the bar), what --quiet and --json leave, and a bar that fits the width.
#include "app/line_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/captured_text.h"
#include "support/fake_clock.h"

namespace tvx::testing {
namespace {

class LineReportTest : public ::testing::Test {
 protected:
  app::LineOptions Options() {
    app::LineOptions options;
    options.out = out_;
    options.err = err_;
    options.columns = [this] { return columns_; };
    return options;
  }
  ~LineReportTest() override {
    std::fclose(out_);
    std::fclose(err_);
  }

  std::FILE* out_ = std::tmpfile();
  std::FILE* err_ = std::tmpfile();
  int columns_ = 80;
  FakeClock clock_;
};

TEST_F(LineReportTest, NotesGoToStandardErrorAndOnlyTheOutcomeToStandardOutput) {
  {
    app::LineReport report(Options(), clock_, "words");
    report.Phase("Waiting for Radio ID");
    report.Progress(5, 10);  // no terminal: no bar
    report.Note("Radio Serial Number is 9123456");
    report.Error("The line is dead.");
    report.Outcome("Upload complete.", "{\"outcome\":\"complete\"}\n");
  }
  EXPECT_EQ(Text(out_), "Upload complete.\n");
  EXPECT_EQ(Text(err_),
            "Waiting for Radio ID\nRadio Serial Number is 9123456\nThe line is dead.\n");
}

TEST_F(LineReportTest, QuietKeepsErrorsAndTheOutcomeAndJsonReplacesTheTextLine) {
  app::LineOptions options = Options();
  options.quiet = true;
  options.json = true;
  options.bar = true;
  {
    app::LineReport report(options, clock_, "words");
    report.Phase("Starting Download");
    report.Progress(10, 10);
    report.Note("a note");
    report.Error("Retries spent at word 12.");
    report.Outcome("Upload stopped.", "{\"outcome\":\"stopped\"}\n");
  }
  EXPECT_EQ(Text(out_), "{\"outcome\":\"stopped\"}\n");
  EXPECT_EQ(Text(err_), "Retries spent at word 12.\n");
}

TEST_F(LineReportTest, TheBarFitsTheTerminalAndFollowsAResize) {
  app::LineOptions options = Options();
  options.bar = true;
  {
    app::LineReport report(options, clock_, "words");
    columns_ = 40;
    report.Progress(1, 33097);
    clock_.SleepMs(200);
    columns_ = 120;
    report.Progress(16548, 33097);
    clock_.SleepMs(200);
    columns_ = 30;
    report.Progress(33097, 33097);
  }
  const std::string err = Text(err_);
  // Three draws, each starting with a carriage return, the last ended by a line end.
  ASSERT_EQ(err.front(), '\r');
  const std::size_t second = err.find('\r', 1);
  const std::size_t third = err.find('\r', second + 1);
  ASSERT_NE(third, std::string::npos);
  const std::string narrow = err.substr(1, second - 1);
  const std::string wide = err.substr(second + 1, third - second - 1);
  const std::string last = err.substr(third + 1);
  EXPECT_EQ(narrow.size(), 39u) << narrow;  // cut to the width, the last column free
  EXPECT_EQ(wide.rfind("[" + std::string(24, '#') + std::string(26, '-') + "]", 0), 0u) << wide;
  EXPECT_LE(wide.size(), 119u);
  EXPECT_GT(wide.size(), 80u) << "the bar did not grow with the terminal: " << wide;
  // Narrower than the bar before: blanks cover the rest of it, then the line ends.
  EXPECT_EQ(last.size(), wide.size() + 1) << last;
  EXPECT_EQ(last.rfind("[########]  33097/33097", 0), 0u) << last;
  EXPECT_EQ(last.back(), '\n');
}

// Redraws come at most ten a second, but the last one always: a phase that ends within the
// tenth still leaves its bar at the end.
TEST_F(LineReportTest, TheLastDrawOfAPhaseIsNeverSkipped) {
  app::LineOptions options = Options();
  options.bar = true;
  {
    app::LineReport report(options, clock_, "frames");
    report.Progress(1, 4);
    report.Progress(2, 4);  // within the tenth: skipped
    report.Progress(4, 4);
  }
  const std::string err = Text(err_);
  EXPECT_TRUE(err.starts_with("\r[######------------------]  1/4 frames  ")) << err;
  EXPECT_NE(err.find("\r[########################]  4/4 frames  "), std::string::npos) << err;
  EXPECT_EQ(err.back(), '\n');
}

TEST(ProgressBarTextTest, EightyColumnsShowRateAndTimeLeft) {
  EXPECT_EQ(app::ProgressBarText(16548, 33097, 13.2, "words"),
            "[###########-------------]  16548/33097 words  1254 words/s  0:13 left");
  EXPECT_EQ(app::ProgressBarText(5, 330, 1.0, "frames"),
            "[------------------------]  5/330 frames  5 frames/s  1:05 left");
  EXPECT_EQ(app::ProgressBarText(0, 100, 0.0, "frames"),
            "[------------------------]  0/100 frames");
}

}  // namespace
}  // namespace tvx::testing
