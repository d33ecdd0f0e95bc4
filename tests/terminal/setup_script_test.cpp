// Set-up scripts: the escapes of a send, the steps of a file and of the command line, and the
// errors that name their place without a secret's text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "terminal/setup_script.h"

namespace tvx::testing {
namespace {

using terminal::AddOptionStep;
using terminal::ParseScript;
using terminal::ResolveEscapes;
using terminal::Step;
using terminal::StepKind;
using terminal::StepLabel;

struct EscapeCase {
  const char* text;
  std::string bytes;  ///< expected; empty: an error
  const char* error = "";
};

TEST(SetupScript, Escapes) {
  const EscapeCase cases[] = {
      {"1\\r", "1\r"},
      {"a\\nb\\tc", "a\nb\tc"},
      {"\\\\r", "\\r"},
      {"\\x00\\xff\\xA5", std::string("\0\xFF\xA5", 3)},
      {"plain text", "plain text"},
      {"\\q", "", "unknown escape \\q"},
      {"ab\\", "", "a backslash ends the text"},
      {"\\x4", "", "\\x needs two hexadecimal digits"},
      {"\\xg0", "", "\\x needs two hexadecimal digits"},
      {"\\R", "", "unknown escape \\R"},
  };
  for (const EscapeCase& c : cases) {
    std::string bytes = "unchanged";
    const std::string error = ResolveEscapes(c.text, bytes);
    if (c.bytes.empty()) {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
      EXPECT_EQ(bytes, "unchanged") << c.text;
    } else {
      EXPECT_EQ(error, "") << c.text;
      EXPECT_EQ(bytes, c.bytes) << c.text;
    }
  }
}

TEST(SetupScript, FileStepsInOrder) {
  const std::string file =
      "# read the serial number, then set the network ID\r\n"
      "\n"
      "send \\xff\r\n"
      "  expect Serial Number (?<serial>\\d+)\n"
      "send  NETID 12\\r\n"
      "send-secret pass\\r\n"
      "wait 250\n"
      "expect\t# not a comment: a pattern\n";
  std::vector<Step> steps;
  ASSERT_EQ(ParseScript("rig.txt", file, steps), "");
  ASSERT_EQ(steps.size(), 6u);
  EXPECT_EQ(steps[0].text, "\xFF");
  EXPECT_EQ(steps[0].place, "rig.txt line 3");
  EXPECT_EQ(steps[1].kind, StepKind::kExpect);
  EXPECT_EQ(steps[1].text, "Serial Number (?<serial>\\d+)");  // taken as written
  EXPECT_EQ(steps[2].text, " NETID 12\r");                    // one blank parts word and text
  EXPECT_EQ(steps[3].kind, StepKind::kSendSecret);
  EXPECT_EQ(steps[3].text, "pass\r");
  EXPECT_EQ(steps[4].wait_ms, 250u);
  EXPECT_EQ(steps[5].text, "# not a comment: a pattern");
  EXPECT_EQ(StepLabel(steps[3]), "send-secret <secret>");
  EXPECT_EQ(StepLabel(steps[2]), "send \" NETID 12\\x0D\"");
  EXPECT_EQ(StepLabel(steps[1]), "expect \"Serial Number (?<serial>\\d+)\"");
}

TEST(SetupScript, FileErrorsNameTheLine) {
  const struct {
    const char* file;
    const char* error;
  } cases[] = {
      {"send 1\\r\nsned 2\n", "rig.txt line 2: unknown step \"sned\""},
      {"send\n", "rig.txt line 1: send needs a text"},
      {"expect \n", "rig.txt line 1: expect needs a pattern"},
      {"wait -1\n", "rig.txt line 1: wait needs milliseconds from 0 to 3600000"},
      {"wait 3600001\n", "rig.txt line 1: wait needs"},
      {"wait 10ms\n", "rig.txt line 1: wait needs"},
      {"\n\nsend a\\qb\n", "rig.txt line 3: unknown escape \\q"},
      {"# only a comment\n\n", "rig.txt: no steps"},
      {"", "rig.txt: no steps"},
  };
  for (const auto& c : cases) {
    std::vector<Step> steps;
    const std::string error = ParseScript("rig.txt", c.file, steps);
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.file << " gave: " << error;
    EXPECT_TRUE(steps.empty()) << c.file;
  }
}

TEST(SetupScript, OptionStepsAndTheirErrors) {
  std::vector<Step> steps;
  ASSERT_EQ(AddOptionStep(StepKind::kSend, "3\\r", steps), "");
  ASSERT_EQ(AddOptionStep(StepKind::kExpect, "Rev (?<rev>\\S+)", steps), "");
  EXPECT_EQ(AddOptionStep(StepKind::kSend, "\\z", steps).rfind("--send (step 3): unknown", 0), 0u);
  EXPECT_EQ(AddOptionStep(StepKind::kExpect, "", steps),
            "--expect (step 3): expect needs a pattern");
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].text, "3\r");
  EXPECT_EQ(steps[1].place, "--expect");
}

TEST(SetupScript, ABadSecretIsNotShownInItsError) {
  std::vector<Step> steps;
  for (const char* secret : {"hunter2\\q", "hunter2\\x4"}) {
    const std::string error = AddOptionStep(StepKind::kSendSecret, secret, steps);
    EXPECT_NE(error, "");
    EXPECT_EQ(error.find("hunter"), std::string::npos) << error;
    EXPECT_EQ(error.find("\\q"), std::string::npos) << error;
  }
  const std::string file_error = ParseScript("s", "send-secret pw\\Z\n", steps);
  EXPECT_EQ(file_error.find("pw"), std::string::npos) << file_error;
  EXPECT_EQ(file_error.find("Z"), std::string::npos) << file_error;
}

}  // namespace
}  // namespace tvx::testing
