// The upload log's file on its own: a record always on a line of its own, the reasons a log
// cannot be written told as they are, and a mismatch count past 32 bits written exactly.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "app/cli_platform.h"
#include "app/upload_log.h"
#include "rf/rf_fixture.h"

namespace tvx::testing {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Sets an environment variable (or removes it, for nullptr) for the scope, then puts it back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    had_ = std::getenv(name) != nullptr;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedVariable() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

app::LogEntry SomeEntry() {
  app::LogEntry entry;
  entry.job = "direct";
  entry.outcome = "complete";
  return entry;
}

// Every field of a line, in its order and form: the time in UTC to the second, the checksum as
// four hex digits, the seconds to the millisecond, the counts exactly.
TEST(UploadLogLineTest, EveryFieldIsWrittenInItsPlaceAndForm) {
  app::LogEntry entry;
  entry.job = "rf";
  entry.port = "Com2";
  entry.device = "/dev/ttyUSB0";
  entry.image = {4144, {0x0A, 0xF3}, std::string(64, 'e'), "fw/rev3.bin"};
  entry.outcome = "stopped";
  entry.reason = "radio_silent";
  entry.seconds = 12.34567;
  entry.echo_mismatches = 3;
  entry.passes = 1;
  entry.frames = 7;
  entry.record = 4142;
  using namespace std::chrono;
  const system_clock::time_point when =
      sys_days{year{2026} / 5 / 1} + hours{9} + minutes{4} + seconds{5} + milliseconds{999};
  EXPECT_EQ(app::FormatLogLine(entry, when),
            R"({"time":"2026-05-01T09:04:05Z","version":")" + std::string(app::ProgramVersion()) +
                R"(","job":"rf","port":"Com2","device":"/dev/ttyUSB0","serial_number":null,)"
                R"("image":{"records":4144,"checksum":"0AF3","sha256":")" +
                std::string(64, 'e') +
                R"(","source":"fw/rev3.bin"},"outcome":"stopped",)"
                R"("reason":"radio_silent","seconds":12.346,"echo_mismatches":3,"passes":1,)"
                R"("frames":7,"record":4142})"
                "\n");
}

// A log whose last line lost its end (a crash, an editor) gets the next record on a line of
// its own; a whole last line gets no empty line after it.
TEST(UploadLogFileTest, RecordAfterALineWithoutItsEndStartsALineOfItsOwn) {
  const fs::path path = fs::path(::testing::TempDir()) / "tvx_glue.jsonl";
  std::ofstream(path, std::ios::binary) << R"({"job":"rf"})";
  const std::string line = app::FormatLogLine(SomeEntry(), std::chrono::system_clock::now());
  ASSERT_EQ(app::AppendLine(path.string(), line, false), "");
  ASSERT_EQ(app::AppendLine(path.string(), line, false), "");
  EXPECT_EQ(Slurp(path), "{\"job\":\"rf\"}\n" + line + line);
  fs::remove(path);
}

// The folders of the default place cannot be made: the message says why, not what the open
// of the file in the missing folder then says.
TEST(UploadLogFileTest, UnwritableHomeIsReportedWithTheFoldersOwnError) {
  const char* home = "/sys/kernel";  // a folder in which nobody, root included, may make one
  struct stat info {};
  if (stat(home, &info) != 0 || !S_ISDIR(info.st_mode)) GTEST_SKIP() << "no " << home;
  errno = 0;
  const bool made = mkdir("/sys/kernel/.local", 0700) == 0;
  ASSERT_FALSE(made);
  const std::string why = std::strerror(errno);
  ASSERT_NE(why, std::strerror(ENOENT));

  const ScopedVariable xdg("XDG_STATE_HOME", nullptr);
  const ScopedVariable variable("TORVANDRIX_LOG", nullptr);
  const ScopedVariable home_variable("HOME", home);
  app::UploadLog log("");
  EXPECT_EQ(log.Append(SomeEntry()),
            "the upload log /sys/kernel/.local/state/torvandrix-upload/uploads.jsonl cannot be "
            "written: cannot make /sys/kernel/.local/state/torvandrix-upload: " +
                why);

  const ScopedVariable no_home("HOME", nullptr);
  app::UploadLog nowhere("");
  const std::string none =
      "no place is known for the upload log (set HOME or TORVANDRIX_LOG): not written";
  EXPECT_EQ(nowhere.Append(SomeEntry()), none);
  EXPECT_EQ(nowhere.Append(SomeEntry()), none) << "every line lost is told";
  EXPECT_EQ(nowhere.Failure(), none + " (2 lines lost)");
}

// A name from outside in the failure (the file named by --log, TORVANDRIX_LOG or the
// configuration file; a folder of the default place from HOME) reaches the terminal escaped.
TEST(UploadLogFileTest, ControlBytesInANameAreEscapedInTheFailure) {
  const ScopedVariable xdg("XDG_STATE_HOME", nullptr);
  const ScopedVariable variable("TORVANDRIX_LOG", nullptr);
  const ScopedVariable home("HOME", "/sys/kernel/\x1b[32m");  // a folder nobody may make
  const std::string named = app::UploadLog("/nonexistent/\x1b[32m").Append(SomeEntry());
  EXPECT_EQ(named, "the upload log /nonexistent/\\x1B[32m cannot be written: " +
                       std::string(std::strerror(ENOENT)));
  const std::string by_default = app::UploadLog("").Append(SomeEntry());
  EXPECT_TRUE(by_default.starts_with("the upload log /sys/kernel/\\x1B[32m/.local/state/"))
      << by_default;
  EXPECT_NE(by_default.find(": cannot make /sys/kernel/\\x1B[32m/.local/"), std::string::npos)
      << by_default;
  for (const std::string& text : {named, by_default}) {
    EXPECT_EQ(std::count_if(text.begin(), text.end(), [](char c) { return c >= 0 && c < 0x20; }),
              0);
  }
}

// Names are written as the messages show them (a byte that is not UTF-8 as \\xHH, a backslash
// doubled), never replaced: two devices keep two names, and each name reads back.
TEST(UploadLogLineTest, DeviceNamesStayApartAndReversible) {
  const struct {
    std::string device;
    std::string written;
  } cases[] = {
      {"/dev/x\xff", "/dev/x\\xFF"},
      {"/dev/x\xfe", "/dev/x\\xFE"},
      {"/dev/x\\xFF", "/dev/x\\\\xFF"},  // the text of an escape is not the byte
      {"\\\\.\\COM3", "\\\\\\\\.\\\\COM3"},
  };
  for (const auto& c : cases) {
    app::LogEntry entry = SomeEntry();
    entry.port = c.device;
    entry.device = c.device;
    const nlohmann::json line = nlohmann::json::parse(app::FormatLogLine(entry, {}));
    EXPECT_EQ(line["device"], c.written);
    EXPECT_EQ(line["port"], c.written);
  }
}

// The run-wide count of mismatched echo bytes goes past 2^31 in minutes of a flood: a count
// just below it goes on counting, and the job's log entry holds its own exact number.
TEST_F(RfUploadTest, MismatchCountPastThirtyTwoBitsCountsOnExactly) {
  ctx_->rf_mismatch_count = std::int64_t{INT32_MAX} - 1;
  sim::RadioConfig config = FastRadio();
  // Record 4142's first copy: its CRC, two bytes, changed.
  config.Add(sim::Fault::kRfCorruptEcho, 1, 11).Add(sim::Fault::kRfCorruptEcho, 1, 12);
  StartRadio(config);
  Run("y\r1\r4142\r1\r");
  EXPECT_EQ(ctx_->rf_mismatch_count, std::int64_t{INT32_MAX} + 1);
  EXPECT_EQ(console_.RowText(24).substr(0, 26), " 4143          2147483648 ");
  const nlohmann::json line = nlohmann::json::parse(
      app::FormatLogLine(app::RfLogEntry(outcome_), std::chrono::system_clock::now()));
  EXPECT_EQ(line["echo_mismatches"], 2);
  EXPECT_EQ(line["frames"], 2);
}

}  // namespace
}  // namespace tvx::testing
