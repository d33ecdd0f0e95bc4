// The whole radio: telling who talks, the set-up menu, and the program's options.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "radio_sim/options.h"
#include "radio_sim/pc_side.h"

namespace tvx::testing {
namespace {

using sim::RadioMode;

std::string Text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

Bytes Typed(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

TEST(SetupInterfaceTest, EchoesTypingAndAnswersLinesWithCrLf) {
  Wire wire(sim::RadioConfig{});
  EXPECT_EQ(Text(wire.Send(Typed("3x"))), "3x");
  EXPECT_EQ(Text(wire.Send({8})), "\b \b");  // backspace takes the x back
  EXPECT_EQ(Text(wire.Send({13})), "\r\nFirmware Rev 2.54\r\nChoice> ");
  EXPECT_EQ(wire.radio.ActiveMode(), RadioMode::kSetup);
  EXPECT_TRUE(wire.radio.PacedOutput());

  const std::string menu = Text(wire.Send({255}));  // F1
  EXPECT_NE(menu.find("Serial Number 9123456\r\n"), std::string::npos);
  EXPECT_EQ(menu.find('\n', 0), menu.find("\r\n") + 1);  // every line feed follows a CR
  EXPECT_EQ(Text(wire.Send({0, 60})), "");               // F2: a two-byte key, ignored
  EXPECT_NE(Text(wire.Send(Typed("zz\r"))).find("Unknown command zz"), std::string::npos);
  EXPECT_EQ(wire.radio.Setup().Counters().lines, 2u);
}

// Settings a script changes and reads back under "1"; a value out of range is refused and kept.
TEST(SetupInterfaceTest, SettingsChangeAndReadBack) {
  sim::RadioConfig config;
  config.fast_setup = true;
  Wire wire(config);
  const struct {
    const char* typed;
    const char* answer;
  } cases[] = {
      {"NETID 12\r", "\r\nNetwork ID set to 12\r\n"},
      {"net id 256\r", "\r\nNetwork ID must be 0 to 255\r\n"},
      {"HOP63\r", "\r\nHop pattern set to 63\r\n"},
      {"HOP 64\r", "\r\nHop pattern must be 0 to 63\r\n"},
      {"power 19\r", "\r\nTransmit power must be 20 to 30\r\n"},
      {"POWER 24\r", "\r\nTransmit power set to 24\r\n"},
      {"RADIOID 0\r", "\r\nRadio ID must be 1 to 254\r\n"},
      {"NETID\r", "\r\nUnknown command NETID\r\n"},
      {"NETID 1x\r", "\r\nUnknown command NETID 1x\r\n"},
      {"NETID 99999999\r", "\r\nUnknown command NETID 99999999\r\n"},
  };
  for (const auto& c : cases) {
    const std::string typed = c.typed;
    const std::string said = Text(wire.Send(Typed(typed)));
    // The echo, then the answer and the prompt.
    EXPECT_EQ(said, typed.substr(0, typed.size() - 1) + c.answer + "Choice> ") << c.typed;
  }
  const std::string shown = Text(wire.Send(Typed("1\r")));
  EXPECT_NE(shown.find("Radio ID            1\r\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Network ID          12\r\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Hop pattern         63\r\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Transmit power      24 dBm\r\n"), std::string::npos) << shown;
  EXPECT_EQ(wire.radio.Setup().Settings().network_id, 12u);
}

// The revision under "3" from the command line, the slow answers and the hang-up after a key.
TEST(SetupInterfaceTest, RevisionAndFaultsFromTheCommandLine) {
  sim::SimOptions options;
  const std::string_view args[] = {
      "--fast",  "--firmware-rev",     "3.1b", "--fault", "setup-slow=1500",
      "--fault", "setup-hang-up@4=0.5"};
  ASSERT_EQ(sim::ParseOptions(args, options), "");
  Wire wire(options.config);
  EXPECT_EQ(wire.radio.AnswerDelay(), 0.0);  // no face talks yet
  EXPECT_EQ(Text(wire.Send(Typed("3\r"))), "3\r\nFirmware Rev 3.1b\r\nChoice> ");
  EXPECT_DOUBLE_EQ(wire.radio.AnswerDelay(), 1.5);
  EXPECT_FALSE(wire.out.HangUpRequested());
  // Key 4 (the "y") is answered, then the line goes; what came with it in the batch is not.
  EXPECT_EQ(Text(wire.Send(Typed("xyz"))), "xy");
  EXPECT_TRUE(wire.out.HangUpRequested());

  sim::SimOptions bad;
  const std::string_view bad_rev[] = {"--firmware-rev", "2.54\x1b[2J"};
  EXPECT_NE(sim::ParseOptions(bad_rev, bad), "");
}

TEST(SetupInterfaceTest, CommandsForTryingATerminal) {
  sim::RadioConfig config;
  config.fast_setup = true;
  Wire wire(config);
  const std::string table = Text(wire.Send(Typed("chars\r")));
  EXPECT_FALSE(wire.radio.PacedOutput());
  const std::size_t start = table.find("Character table\r\n");
  ASSERT_NE(start, std::string::npos);
  std::string all_bytes;
  for (int b = 0; b < 256; ++b) {
    all_bytes.push_back(static_cast<char>(b));
    if (b % 32 == 31) all_bytes += "\r\n";
  }
  EXPECT_EQ(table.substr(start + 17, all_bytes.size()), all_bytes);
  EXPECT_NE(table.find("\x1b]2;Radio title\x1b\\"), std::string::npos);
  EXPECT_NE(table.find("End of table\r\nChoice> "), std::string::npos);

  const std::string text = Text(wire.Send(Typed("TEXT 12\r")));
  EXPECT_NE(text.find("\r\nLine 000001 the quick brown fox"), std::string::npos);
  const std::size_t last = text.find("Line 000012 ");
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(text.substr(last + 78, 2 + 13), "\r\nEnd of text\r\n");
  EXPECT_EQ(text.find("Line 000013"), std::string::npos);
}

TEST(RadioTest, TellsTheThreeProtocolsApartByTheirFirstBytes) {
  Wire wire(sim::RadioConfig{});
  wire.Send(Typed("1\r"));
  EXPECT_EQ(wire.radio.ActiveMode(), RadioMode::kSetup);

  // "U" then "4" at an empty line: the programming handshake.
  wire.Send({direct::kDiagPortWake});
  EXPECT_EQ(wire.radio.ActiveMode(), RadioMode::kDirect);
  DirectPc pc(wire);
  EXPECT_EQ(pc.Handshake().size(), 4u);
  EXPECT_EQ(wire.radio.Direct().Counters().diag_wakes, 1u);
  wire.Send({direct::kRefuseRadio});

  // An RF frame after the session: the local radio answers.
  const Bytes frame = {0xE2, 0, 0x36, 0, 0, 0, 0, 0};
  EXPECT_EQ(wire.Send(frame), frame);
  EXPECT_EQ(wire.radio.ActiveMode(), RadioMode::kRf);
  EXPECT_EQ(wire.radio.Rf().Counters().header_frames_bad, 1u);

  // Typing again.
  EXPECT_EQ(Text(wire.Send(Typed("?"))), "?");
  EXPECT_EQ(wire.radio.ActiveMode(), RadioMode::kSetup);
  EXPECT_EQ(wire.radio.Counters().mode_changes, 4u);
}

TEST(RadioTest, FixedModeCountsForeignBytesAsStray) {
  sim::RadioConfig c;
  c.mode = RadioMode::kRf;
  Wire wire(c);
  EXPECT_TRUE(wire.Send(Typed("4U?")).empty());
  EXPECT_EQ(wire.radio.Counters().stray_bytes, 3u);
  EXPECT_EQ(wire.radio.ActiveMode(), RadioMode::kRf);
}

// A runner sleeps until the radio's next deadline and then advances it to that moment: the radio
// must then be done with what it waited for, or the runner wakes again at once and spins. Runs
// the radio's timers out that way; false when a deadline does not lie ahead.
bool RunOutDeadlines(Wire& wire) {
  for (int i = 0; i < 10000; ++i) {
    const std::optional<double> deadline = wire.radio.NextDeadline(wire.now);
    if (!deadline) return true;
    if (*deadline <= wire.now) return false;
    wire.now = *deadline;
    wire.Wait(0.0);
  }
  return false;
}

// Times far from 0 hold no exact sum of a moment and a time-out: the radio's deadline and its
// own check of it must round alike.
TEST(RadioTest, WhatWaitsOnTimeIsOverAtTheDeadlineTheRadioNames) {
  sim::RadioConfig config;
  config.refusal_quiet = 0.3;
  config.handshake_timeout = 0.3;
  const Bytes cut_frame{0xE3, 0x13, 0x36, 0x00};
  const Bytes unframeable{0xE3, 0x14, 0x36, 0x00};  // m even: no end to be found
  Bytes frame(27, 0x00);                            // m = 19: 27 bytes
  frame[0] = 0xE3;
  frame[1] = 19;
  for (const double start : {2.0, 100.3, 1234.567}) {
    SCOPED_TRACE(start);
    for (const Bytes& rf : {cut_frame, unframeable}) {
      Wire wire(config);
      wire.now = start;
      wire.Send(rf);
      ASSERT_TRUE(RunOutDeadlines(wire));
      EXPECT_EQ(wire.Send(frame), frame);  // heard as a frame of its own, and echoed
    }
    Wire given_up(config);  // "4" and nothing more
    given_up.now = start;
    given_up.Send({direct::kProgramCommand});
    ASSERT_TRUE(RunOutDeadlines(given_up));
    EXPECT_EQ(given_up.radio.Direct().Phase(), sim::DirectPhase::kIdle);

    Wire refused(config);  // the first byte of the access code before its pause
    refused.now = start;
    refused.Send({direct::kProgramCommand});
    refused.now += 0.01;
    refused.Send({direct::kAccessCode[0]});
    ASSERT_TRUE(RunOutDeadlines(refused));
    EXPECT_EQ(refused.radio.Direct().Phase(), sim::DirectPhase::kIdle);
    EXPECT_EQ(refused.radio.Direct().Counters().handshakes_refused, 1u);
  }
}

TEST(SimOptionsTest, ParsesFlagsAndFaults) {
  sim::SimOptions o;
  const std::vector<std::string_view> args = {
      "--mode=direct", "--serial",        "9110000",        "--erase-ms", "40",
      "--fault",       "drop-echo@5",     "--fault=silent", "--fault",    "rf-drop=0.25",
      "--fault",       "corrupt-store@3", "--link",         "/tmp/x",     "--until-eof"};
  ASSERT_EQ(sim::ParseOptions(args, o), "");
  EXPECT_EQ(o.config.mode, RadioMode::kDirect);
  EXPECT_EQ(o.config.serial, 9110000u);
  EXPECT_DOUBLE_EQ(o.config.erase_seconds, 0.04);
  // In the order given, with the defaults of the table where no X is given.
  ASSERT_EQ(o.config.faults.size(), 4u);
  EXPECT_EQ(o.config.faults[0].fault, sim::Fault::kDropEcho);
  EXPECT_EQ(o.config.faults[0].at, 5u);
  EXPECT_EQ(o.config.faults[1].fault, sim::Fault::kSilent);
  EXPECT_DOUBLE_EQ(sim::ValueOf(o.config.faults[2]), 0.25);
  EXPECT_DOUBLE_EQ(sim::ValueOf(o.config.faults[3]), 1.0);
  EXPECT_EQ(o.link, "/tmp/x");
  EXPECT_TRUE(o.until_eof);
  EXPECT_TRUE(o.config.line_time);  // the program answers at line time by default
  EXPECT_EQ(o.config.access_code, direct::kAccessCode);  // the uploader's, as built

  sim::SimOptions timing;
  const std::vector<std::string_view> more = {"--fast", "--latency-ms", "16", "--access-code",
                                              "0x12,0x3,0xaB,0xFF"};
  ASSERT_EQ(sim::ParseOptions(more, timing), "");
  EXPECT_FALSE(timing.config.line_time);
  EXPECT_DOUBLE_EQ(timing.config.latency, 0.016);
  EXPECT_EQ(timing.config.access_code, (std::array<std::uint8_t, 4>{0x12, 0x03, 0xAB, 0xFF}));
}

TEST(SimOptionsTest, RejectsWhatItCannotUse) {
  const std::vector<std::vector<std::string_view>> cases = {
      {"--mode", "modem"},
      {"--fault", "drop-echo@0"},
      {"--fault", "drop-echo"},
      {"--fault", "silent@2"},
      {"--fault", "silent=1"},
      {"--fault", "rf-corrupt=1.5"},
      {"--fault", "rf-corrupt"},
      {"--fault", "garbage=-3"},
      {"--fault", "corrupt-store@2=2"},
      {"--fault", "hold-everything"},
      {"--drop-echo", "5"},
      {"--serial"},
      {"--frobnicate"},
      {"--access-code", "0x12,0x34,0x56"},
      {"--access-code", "0x12,0x34,0x56,0x78,0x9A"},
      {"--access-code", "12,34,56,78"},
      {"--access-code", "0x12,0x34,0x56,0x100"},
      {"--access-code", "0x12,,0x56,0x78"},
      {"--latency-ms", "x"},
      {"--image", "/"},
      {"--image", "/dev/null"}};
  for (const auto& args : cases) {
    sim::SimOptions o;
    EXPECT_NE(sim::ParseOptions(args, o), "") << args[0];
  }
}

}  // namespace
}  // namespace tvx::testing
