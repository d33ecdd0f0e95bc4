// The record of a set-up session: its lines and time stamps, where a line ends, and a secret
// that appears nowhere, not even in the radio's echo of it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "terminal/session_log.h"

namespace tvx::testing {
namespace {

using terminal::SessionLog;
using namespace std::chrono_literals;

std::span<const std::uint8_t> B(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// 2024-05-01T12:34:56Z
const SessionLog::Time kStart = SessionLog::Time(std::chrono::seconds(1714566896));

TEST(SessionLog, LinesBothWaysWithTimeAndDirection) {
  std::vector<std::string> lines;
  SessionLog log([&](std::string_view line) { lines.emplace_back(line); });
  log.Sent(B("1\r"), kStart + 7ms);
  log.Received(B("1\r"), kStart + 19ms);
  log.Received(B("\nRadio ID 1\r\nNet\x1B"), kStart + 1001ms);  // a line split over chunks
  log.Received(B("work ID 7\r"), kStart + 1250ms);
  log.Received(B("Bare CR\r"), kStart + 1300ms);  // a carriage return no line feed follows
  log.Received(B("Choice> "), kStart + 1400ms);
  log.Sent(B("\\"), kStart + 2000ms);  // a key typed at the prompt ends the radio's line
  log.Flush();
  log.Flush();  // nothing open: nothing written
  const std::vector<std::string> expected = {
      "2024-05-01T12:34:56.007Z > 1\\x0D\n",
      "2024-05-01T12:34:56.019Z < 1\\x0D\\x0A\n",
      "2024-05-01T12:34:57.001Z < Radio ID 1\\x0D\\x0A\n",
      "2024-05-01T12:34:57.001Z < Net\\x1Bwork ID 7\\x0D\n",
      "2024-05-01T12:34:57.300Z < Bare CR\\x0D\n",
      "2024-05-01T12:34:57.400Z < Choice> \n",
      "2024-05-01T12:34:58.000Z > \\\\\n",
  };
  EXPECT_EQ(lines, expected);
}

TEST(SessionLog, LongLineIsCut) {
  std::vector<std::string> lines;
  SessionLog log([&](std::string_view line) { lines.emplace_back(line); });
  log.Received(B(std::string(SessionLog::kMaxLineBytes + 10, 'x')), kStart);
  log.Flush();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "2024-05-01T12:34:56.000Z < " + std::string(10, 'x') + "\n");
}

TEST(SessionLog, SecretAppearsNowhere) {
  std::vector<std::string> lines;
  SessionLog log([&](std::string_view line) { lines.emplace_back(line); });
  log.Received(B("Password: "), kStart);
  log.SentSecret("s3cr\\et!\r", kStart + 5ms);
  // The radio echoes what it was typed, within a line and across two chunks.
  log.Received(B("s3cr\\"), kStart + 9ms);
  log.Received(B("et!\r\nWelcome s3cr\\et!s3cr\\et!\r\n"), kStart + 12ms);
  log.Sent(B("3\r"), kStart + 20ms);
  const std::vector<std::string> expected = {
      "2024-05-01T12:34:56.000Z < Password: \n",
      "2024-05-01T12:34:56.005Z > <secret>\n",
      "2024-05-01T12:34:56.009Z < <secret>\\x0D\\x0A\n",
      "2024-05-01T12:34:56.012Z < Welcome <secret><secret>\\x0D\\x0A\n",
  };
  log.Flush();
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4), expected);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("s3cr"), std::string::npos) << line;
    EXPECT_EQ(line.find("et!"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace tvx::testing
