// The simulated radio's programming mode, driven in-process by test code playing the PC.
#include <gtest/gtest.h>

#include "radio_sim/pc_side.h"

namespace tvx::testing {
namespace {

using sim::RadioConfig;
using Outcome = DirectPc::Outcome;

RadioConfig Direct() {
  RadioConfig c;
  c.mode = sim::RadioMode::kDirect;
  return c;
}

/// A radio past the handshake and erase, ready for words.
struct ReadyRadio {
  explicit ReadyRadio(const RadioConfig& c = Direct()) : wire(c), pc(wire) {
    pc.Handshake();
    EXPECT_TRUE(pc.Erase());
  }
  Wire wire;
  DirectPc pc;
  const sim::DirectCounters& Counters() const { return wire.radio.Direct().Counters(); }
  const sim::RadioMemory& Memory() const { return wire.radio.Direct().Memory(); }
};

TEST(DirectRadioTest, IdentityMasksTheSerialNumberWithTheChallenge) {
  Wire wire(Direct());
  DirectPc pc(wire);
  // The worked example: challenge 0x1234, serial 9123456.
  EXPECT_EQ(pc.Handshake(direct::kHighSpeedDivisor, 0x1234), (Bytes{0xFF, 0x12, 0xE8, 0xC3}));

  RadioConfig bad = Direct();
  bad.serial = 9109999;
  bad.Add(sim::Fault::kBadIdentity);
  Wire wire2(bad);
  const Bytes id = DirectPc(wire2).Handshake(direct::kNormalDivisor, 0xBEEF);
  ASSERT_EQ(id.size(), 4u);
  EXPECT_EQ(id[0], 0xFE);
  EXPECT_EQ(direct::DecodeSerial(0xBEEF, id[1], id[2], id[3]), 9109999u);
}

/// One byte of the handshake as the radio's runner reports it: the pause the PC makes after it,
/// the line rate read with it, the rate at the runner's previous look and how long before.
struct HandshakeByte {
  std::uint8_t byte;
  double pause_after;
  std::uint32_t rate = 19200;
  std::uint32_t previous_rate = 19200;
  double since_look = 0.001;  // the runner looks every millisecond during a handshake
};

/// "4", the access code, the divisor for 115200 bit/s and the challenge 0x1234, with the
/// uploader's pauses.
std::vector<HandshakeByte> GoodHandshake() {
  std::vector<HandshakeByte> steps = {{direct::kProgramCommand, 0.3}};
  for (std::uint8_t b : direct::kAccessCode) steps.push_back({b, 0.01});
  steps.push_back({direct::kHighSpeedDivisor, 0.01});
  steps.push_back({0x12, 0.01});
  steps.push_back({0x34, 0.005});
  return steps;
}

/// Plays the steps and then switches the line to 115200; returns everything the radio said
/// after the pause that follows "4".
Bytes Play(Wire& wire, const std::vector<HandshakeByte>& steps) {
  Bytes got;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const HandshakeByte& s = steps[i];
    wire.line = sim::LineState{.known = true, .rate = s.rate};
    wire.line.previous_rate = s.previous_rate;
    wire.line.since_previous_look = s.since_look;
    const Bytes said = wire.Send({s.byte});
    const Bytes later = wire.Wait(s.pause_after);
    if (i == 0) continue;
    got.insert(got.end(), said.begin(), said.end());
    got.insert(got.end(), later.begin(), later.end());
  }
  wire.line.rate = 115200;
  wire.line.previous_rate = 115200;
  const Bytes after_switch = wire.Wait(0.01);
  got.insert(got.end(), after_switch.begin(), after_switch.end());
  return got;
}

// What a real radio refuses, it refuses by silence: a handshake byte at another rate, a pause
// cut short, a wrong access code or divisor. Bytes that keep coming are ignored; once the line
// has been quiet for a second the radio listens again. Where the radio was held up between two
// looks at the line it cannot tell, and lets the byte pass.
TEST(DirectRadioTest, HandshakeFaultsLeaveTheRadioSilentUntilTheLineIsQuiet) {
  using Fault = sim::HandshakeFault;
  struct Case {
    const char* name;
    void (*change)(std::vector<HandshakeByte>&);
    bool refused;
    Fault why;
  };
  const Case cases[] = {
      {"sent at 115200",
       [](std::vector<HandshakeByte>& s) {
         for (auto& b : s) b.rate = b.previous_rate = 115200;
       },
       true, Fault::kLineRate},
      {"switched before the challenge",
       [](std::vector<HandshakeByte>& s) {
         s[6].rate = 115200;
         s[7].rate = s[7].previous_rate = 115200;
       },
       true, Fault::kLineRate},
      {"switch seen late: the radio was held up after the last byte",
       [](std::vector<HandshakeByte>& s) {
         s[7].rate = 115200;
         s[7].since_look = 0.006;
       },
       false, Fault::kLineRate},
      {"no pause after 4", [](std::vector<HandshakeByte>& s) { s[0].pause_after = 0.0; }, true,
       Fault::kPause},
      {"250 ms after 4", [](std::vector<HandshakeByte>& s) { s[0].pause_after = 0.25; }, true,
       Fault::kPause},
      {"5 ms after the second access-code byte",
       [](std::vector<HandshakeByte>& s) { s[2].pause_after = 0.005; }, true, Fault::kPause},
      {"no pause after the last access-code byte",
       [](std::vector<HandshakeByte>& s) { s[4].pause_after = 0.0; }, true, Fault::kPause},
      {"no pause, but the radio read the byte before it late",
       [](std::vector<HandshakeByte>& s) {
         s[2].pause_after = 0.0;
         s[2].since_look = 0.02;
       },
       false, Fault::kPause},
      {"another access code", [](std::vector<HandshakeByte>& s) { s[3].byte ^= 0x01; }, true,
       Fault::kAccessCode},
      {"bad divisor", [](std::vector<HandshakeByte>& s) { s[5].byte = 0x08; }, true,
       Fault::kDivisor},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Wire wire(Direct());
    std::vector<HandshakeByte> steps = GoodHandshake();
    c.change(steps);
    const Bytes said = Play(wire, steps);
    const sim::DirectCounters& counters = wire.radio.Direct().Counters();
    if (!c.refused) {
      EXPECT_EQ(said, (Bytes{0xFF, 0x12, 0xE8, 0xC3}));
      EXPECT_EQ(counters.handshakes_refused, 0u);
      continue;
    }
    EXPECT_TRUE(said.empty());
    EXPECT_EQ(counters.handshakes_refused, 1u);
    EXPECT_EQ(counters.identities_sent, 0u);
    EXPECT_EQ(wire.radio.Direct().Phase(), sim::DirectPhase::kRefused);
    bool noted = false;
    for (const sim::RadioEvent& e : wire.out.Events()) {
      noted = noted || e.kind == sim::EventKind::kHandshakeRefused;
    }
    EXPECT_EQ(counters.pause_faults, c.why == Fault::kPause ? 1u : 0u);
    EXPECT_EQ(counters.access_code_faults, c.why == Fault::kAccessCode ? 1u : 0u);
    EXPECT_EQ(counters.divisor_faults, c.why == Fault::kDivisor ? 1u : 0u);
    EXPECT_EQ(counters.line_rate_faults, c.why == Fault::kLineRate ? 1u : 0u);

    // Still deaf within the quiet second, listening after it.
    wire.Wait(0.9);
    EXPECT_TRUE(Play(wire, GoodHandshake()).empty());
    wire.Wait(1.0);
    EXPECT_EQ(wire.radio.Direct().Phase(), sim::DirectPhase::kIdle);
    EXPECT_EQ(Play(wire, GoodHandshake()), (Bytes{0xFF, 0x12, 0xE8, 0xC3}));
  }

  // "!" after the identity: the PC refuses the radio, which goes back to idle at once.
  Wire wire(Direct());
  DirectPc(wire).Handshake();
  EXPECT_TRUE(wire.Send({direct::kRefuseRadio}).empty());
  EXPECT_EQ(wire.radio.Direct().Counters().refusals, 1u);
  EXPECT_EQ(wire.radio.Direct().Phase(), sim::DirectPhase::kIdle);
}

// What the radio tells of a wrong access code (the simulator's -v prints it) says that it was
// wrong, never which byte or what came: that would give the code away byte by byte.
TEST(DirectRadioTest, AWrongAccessCodeIsToldWithoutTheCode) {
  Wire wire(Direct());
  wire.Send({direct::kProgramCommand});
  wire.Wait(0.3);
  wire.Send({direct::kAccessCode[0]});
  wire.Wait(0.01);
  wire.Send({static_cast<std::uint8_t>(direct::kAccessCode[1] ^ 0x5A)});
  bool told = false;
  for (const sim::RadioEvent& e : wire.out.Events()) {
    const std::string text = sim::Describe(e);
    told = told || e.kind == sim::EventKind::kAccessCodeFault;
    EXPECT_EQ(text.find_first_of("0123456789"), std::string::npos) << text;
  }
  EXPECT_TRUE(told);
}

TEST(DirectRadioTest, RadioWithAnotherAccessCodeAnswersOnlyItsOwn) {
  RadioConfig c = Direct();
  c.access_code = {0x12, 0x34, 0x56, 0x78};
  Wire wire(c);
  EXPECT_TRUE(DirectPc(wire).Handshake().empty());
  EXPECT_EQ(wire.radio.Direct().Counters().access_code_faults, 1u);

  wire.Wait(1.0);
  std::vector<HandshakeByte> steps = GoodHandshake();
  for (std::size_t i = 0; i < 4; ++i) steps[i + 1].byte = c.access_code[i];
  EXPECT_EQ(Play(wire, steps), (Bytes{0xFF, 0x12, 0xE8, 0xC3}));
}

TEST(DirectRadioTest, EraseTakesItsTimeAndGarbageNeverLooksLikeItsEnd) {
  RadioConfig c = Direct();
  c.erase_seconds = 2.0;
  c.Add(sim::Fault::kGarbage, 0, 50);
  Wire wire(c);
  DirectPc pc(wire);
  wire.Send({direct::kProgramCommand});  // noise after "4", thrown away by the PC
  EXPECT_EQ(wire.out.Bytes().size(), 50u);
  wire.Wait(0.3);
  for (std::uint8_t b : direct::kAccessCode) {
    wire.Send({b});
    wire.Wait(0.01);
  }
  wire.Send({direct::kHighSpeedDivisor, 0x12});
  EXPECT_EQ(wire.Send({0x34}).size(), 4u);

  const Bytes noise = wire.Send({direct::kStartErase});
  EXPECT_EQ(noise.size(), 50u);
  for (std::uint8_t b : noise) EXPECT_NE(b, direct::kEraseDone);
  EXPECT_TRUE(wire.Wait(1.9).empty());
  EXPECT_EQ(wire.Wait(0.2), Bytes{direct::kEraseDone});
}

// After prompt C the operator takes his time before the data frame is written again. The frame
// time-out runs from a frame's first byte, so the late frame is taken, whatever its first byte
// (0 and 1 are also space bytes); a frame whose own bytes are spread out is still dropped.
TEST(DirectRadioTest, DataFrameResentLongAfterTheEchoIsTaken) {
  constexpr std::uint16_t kAddress = 0x8010;
  std::uint16_t mix = kAddress;
  image::BitMix(mix);
  for (const std::uint8_t d0 : {0x00, 0x01, 0x80}) {
    SCOPED_TRACE(static_cast<int>(d0));
    ReadyRadio r;
    const auto b0 = static_cast<std::uint8_t>(direct::HighByte(mix) ^ d0);
    const direct::DataFrame f = direct::MakeDataFrame(kAddress, b0, 0x34);
    ASSERT_EQ(f.d0, d0);
    EXPECT_EQ(r.wire.Send({0x01, 0x80, 0x10}), (Bytes{0x80, 0x10}));
    EXPECT_TRUE(r.wire.Wait(3.0).empty());
    EXPECT_EQ(r.wire.Send({f.d0, f.d1, f.check}), Bytes{f.expected_reply});
    EXPECT_EQ(r.Memory().space[1][kAddress], b0);
    EXPECT_EQ(r.Counters().stale_frames, 0u);
    EXPECT_EQ(r.Counters().stray_bytes, 0u);
  }

  // A data frame, though, is written in one go: one whose bytes straggle in is dropped.
  ReadyRadio r;
  const direct::DataFrame f = direct::MakeDataFrame(kAddress, 0x12, 0x34);
  EXPECT_EQ(r.wire.Send({0x01, 0x80, 0x10}), (Bytes{0x80, 0x10}));
  EXPECT_TRUE(r.wire.Send({f.d0}).empty());
  r.wire.Wait(0.3);
  EXPECT_TRUE(r.wire.Send({f.d1, f.check}).empty());
  EXPECT_EQ(r.Counters().stale_frames, 1u);
  EXPECT_EQ(r.Memory().space[1][kAddress], 0xFF);
}

TEST(DirectRadioTest, WordExchangeMatchesTheWorkedExample) {
  ReadyRadio r;
  // Type-15 word at 0x8010, bytes 0x12 0x34.
  EXPECT_EQ(r.wire.Send({0x01, 0x80, 0x10}), (Bytes{0x80, 0x10}));
  EXPECT_EQ(r.wire.Send({0x12, 0x14, 0xCF}), Bytes{0x94});
  EXPECT_EQ(r.Memory().space[1][0x8010], 0x12);
  EXPECT_EQ(r.Memory().space[1][0x8011], 0x34);
  EXPECT_EQ(r.Memory().space[0][0x8010], 0xFF);  // the other space stays erased
}

TEST(DirectRadioTest, BadCheckByteStoresNothingAndAnswersWrongly) {
  ReadyRadio r;
  r.wire.Send({0x01, 0x80, 0x10});
  EXPECT_EQ(r.wire.Send({0x12, 0x14, 0xCE}), Bytes{0x94 ^ 0xFF});
  EXPECT_EQ(r.Counters().check_byte_failures, 1u);
  EXPECT_EQ(r.Counters().words_checked_ok, 0u);
  EXPECT_EQ(r.Memory().space[1][0x8010], 0xFF);
  // The PC resyncs and resends; the word goes in.
  r.pc.Resync();
  EXPECT_EQ(r.pc.Attempt(1, 0x8010, 0x12, 0x34), Outcome::kOk);
  EXPECT_EQ(r.Memory().space[1][0x8011], 0x34);
}

// A PC stopped and continued between the bytes of an address frame: the frame is completed,
// echoed and counted however late its last byte comes, as the PC counts it once it is whole.
TEST(DirectRadioTest, AddressFrameSplitByAPauseStillCountsOnce) {
  RadioConfig c = Direct();
  c.frame_timeout = 0.05;
  ReadyRadio r(c);
  EXPECT_TRUE(r.wire.Send({0x01, 0x80}).empty());
  r.wire.Wait(5.0);
  EXPECT_EQ(r.wire.Send({0x10}), (Bytes{0x80, 0x10}));
  EXPECT_EQ(r.wire.Send({0x12, 0x14, 0xCF}), Bytes{0x94});
  EXPECT_EQ(r.Counters().word_attempts, 1u);
  EXPECT_EQ(r.Counters().stray_bytes, 0u);
  EXPECT_EQ(r.wire.radio.Direct().CurrentChecksum(),
            (std::array<std::uint8_t, 2>{0x12 ^ 0xFF, 0x34 ^ 0xFF}));
}

TEST(DirectRadioTest, ResyncWhileTheDataFrameIsAwaitedRestartsTheWord) {
  ReadyRadio r;
  EXPECT_EQ(r.wire.Send({0x00, 0x12, 0x34}).size(), 2u);
  r.pc.Resync();  // 0xFF 0xFF 0xFF would pass as a data frame; the fourth makes it a resync
  EXPECT_EQ(r.Counters().resyncs, 1u);
  EXPECT_EQ(r.Counters().words_received, 0u);
  EXPECT_EQ(r.pc.Attempt(0, 0x1234, 0xAB, 0xCD), Outcome::kOk);
}

TEST(DirectRadioTest, AllOnesDataFrameIsTakenOnceNoFourthByteFollows) {
  ReadyRadio r;
  std::uint16_t mix = 0x4000;
  image::BitMix(mix);  // plain bytes that mask to 0xFF 0xFF
  const auto b0 = static_cast<std::uint8_t>(~(mix >> 8));
  const auto b1 = static_cast<std::uint8_t>(~mix);
  r.wire.Send({0x01, 0x40, 0x00});
  EXPECT_TRUE(r.wire.Send({0xFF, 0xFF, 0xFF}).empty());  // held: could be a resync
  EXPECT_EQ(r.wire.Wait(0.1), Bytes{0x40 ^ 0xFF});
  EXPECT_EQ(r.Memory().space[1][0x4000], b0);
  EXPECT_EQ(r.Memory().space[1][0x4001], b1);
  EXPECT_EQ(r.Counters().resyncs, 0u);
}

TEST(DirectRadioTest, NewSessionAfterAnAbandonedWordIsRecognised) {
  ReadyRadio r;
  r.wire.Send({0x01, 0x80, 0x00});  // echo sent; the PC gives up before the data frame
  r.wire.Wait(0.01);
  const Bytes id = r.pc.Handshake(direct::kNormalDivisor, 0x0101);
  ASSERT_EQ(id.size(), 4u);
  EXPECT_EQ(id[0], 0xFF);
  EXPECT_EQ(r.Counters().program_commands, 2u);
}

TEST(DirectRadioTest, ReleaseImageUploadAgreesWithThePcChecksum) {
  ReadyRadio r;
  const Bytes checksum = r.pc.Upload(image::FirmwareImage());
  EXPECT_EQ(r.pc.attempts, 33097u);  // odd: both bytes complemented
  EXPECT_EQ(r.pc.sum.words % 2, 1u);
  ASSERT_EQ(checksum.size(), 2u);
  EXPECT_EQ(checksum[0], r.pc.sum.Value()[0]);
  EXPECT_EQ(checksum[1], r.pc.sum.Value()[1]);
  EXPECT_NE(checksum[0], r.pc.sum.even_xor);

  // Every word is where the image puts it.
  image::RecordBuffer buffer{};
  image::ImageWalk walk(image::FirmwareImage(), buffer);
  int wrong = 0;
  while (walk.NextRecord()) {
    const auto& space = r.Memory().space[walk.SpaceByte()];
    for (image::Word w; walk.NextWord(w);) {
      wrong += space[w.address] != w.b0 || space[static_cast<std::uint16_t>(w.address + 1)] != w.b1;
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(r.wire.Send({direct::kChecksumAccepted}).empty());
  EXPECT_EQ(r.Counters().verdicts_accepted, 1u);
  EXPECT_EQ(r.wire.radio.Direct().Phase(), sim::DirectPhase::kIdle);
}

// Each word fault at word 3 of a small image: what the PC sees at that attempt, and that the
// upload still completes with agreeing checksums after the retry.
struct WordFaultCase {
  const char* name;
  sim::Fault fault;
  Outcome seen;
  bool checksum_agrees;
};

class WordFaultTest : public ::testing::TestWithParam<WordFaultCase> {};

TEST_P(WordFaultTest, FiresOnceAtItsWord) {
  RadioConfig c = Direct();
  c.Add(GetParam().fault, 3);
  ReadyRadio r(c);
  EXPECT_EQ(r.pc.Attempt(1, 0xFFF8, 1, 2), Outcome::kOk);
  EXPECT_EQ(r.pc.Attempt(1, 0xFFFA, 3, 4), Outcome::kOk);
  EXPECT_EQ(r.pc.Attempt(1, 0xFFFC, 5, 6), GetParam().seen);
  r.pc.Resync();
  EXPECT_EQ(r.pc.Attempt(1, 0xFFFC, 5, 6), Outcome::kOk);
  Bytes checksum;
  EXPECT_EQ(r.pc.Attempt(1, 0xFFFE, 7, 8, &checksum), Outcome::kOk);
  ASSERT_EQ(checksum.size(), 2u);
  const bool agrees = checksum[0] == r.pc.sum.Value()[0] && checksum[1] == r.pc.sum.Value()[1];
  EXPECT_EQ(agrees, GetParam().checksum_agrees);
  EXPECT_EQ(r.Counters().faults_fired, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WordFaultTest,
    ::testing::Values(WordFaultCase{"DropEcho", sim::Fault::kDropEcho, Outcome::kNoEcho, true},
                      WordFaultCase{"BadEcho", sim::Fault::kBadEcho, Outcome::kBadEcho, true},
                      WordFaultCase{"DropReply", sim::Fault::kDropReply, Outcome::kNoReply, true},
                      WordFaultCase{"BadReply", sim::Fault::kBadReply, Outcome::kBadReply, true},
                      // Stored with a flipped bit, then stored again right by the resent word.
                      WordFaultCase{"CorruptStore", sim::Fault::kCorruptStore, Outcome::kOk, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DirectRadioTest, BadEchoSwapsTheAddressBytes) {
  RadioConfig c = Direct();
  c.Add(sim::Fault::kBadEcho, 1);
  ReadyRadio r(c);
  EXPECT_EQ(r.wire.Send({0x01, 0x80, 0x10}), (Bytes{0x10, 0x80}));
}

TEST(DirectRadioTest, CorruptStoreFailsTheChecksumAndShowsInTheReadBack) {
  RadioConfig c = Direct();
  c.Add(sim::Fault::kCorruptStore, 2);
  ReadyRadio r(c);
  r.pc.Attempt(0, 0xFFFA, 0x11, 0x22);
  r.pc.Attempt(0, 0xFFFC, 0x33, 0x44);
  Bytes checksum;
  r.pc.Attempt(0, 0xFFFE, 0x55, 0x66, &checksum);
  ASSERT_EQ(checksum.size(), 2u);
  EXPECT_EQ(checksum[0], r.pc.sum.Value()[0]);
  EXPECT_EQ(checksum[1], r.pc.sum.Value()[1] ^ 0x01);

  EXPECT_TRUE(r.wire.Send({direct::kChecksumRejected}).empty());
  EXPECT_EQ(r.wire.Send({0x00, 0xFF, 0xFA}), (Bytes{0x11, 0x22}));
  EXPECT_EQ(r.wire.Send({0x00, 0xFF, 0xFC}), (Bytes{0x33, 0x45}));
  EXPECT_EQ(r.wire.Send({0x00, 0xFF, 0xFE}), (Bytes{0x55, 0x66}));
  EXPECT_EQ(r.Counters().readbacks_completed, 1u);
  EXPECT_EQ(r.wire.radio.Direct().Phase(), sim::DirectPhase::kIdle);
}

TEST(DirectRadioTest, BadChecksumIsOffByOneBit) {
  RadioConfig c = Direct();
  c.Add(sim::Fault::kBadChecksum);
  ReadyRadio r(c);
  Bytes checksum;
  r.pc.Attempt(1, 0xFFFE, 0x12, 0x34, &checksum);
  ASSERT_EQ(checksum.size(), 2u);
  EXPECT_EQ(checksum[0], r.pc.sum.Value()[0] ^ 0x01);
  EXPECT_EQ(checksum[1], r.pc.sum.Value()[1]);
}

TEST(DirectRadioTest, ResentLastWordReopensTheTransfer) {
  RadioConfig c = Direct();
  c.Add(sim::Fault::kBadReply, 1);
  ReadyRadio r(c);
  Bytes checksum;
  EXPECT_EQ(r.pc.Attempt(1, 0xFFFE, 0x12, 0x34, &checksum), Outcome::kBadReply);
  EXPECT_EQ(checksum.size(), 2u);  // sent at once; the PC throws it away with the resync
  r.pc.Resync();
  EXPECT_EQ(r.pc.Attempt(1, 0xFFFE, 0x12, 0x34, &checksum), Outcome::kOk);
  ASSERT_EQ(checksum.size(), 2u);
  // Two attempts of one word: it cancels out and the count is even.
  EXPECT_EQ(checksum, (Bytes{0x00, 0x00}));
  EXPECT_EQ(r.pc.sum.Value(), (std::array<std::uint8_t, 2>{0x00, 0x00}));
}

TEST(DirectRadioTest, HangUpFollowsTheAnswerOfItsWord) {
  RadioConfig c = Direct();
  c.Add(sim::Fault::kHangUp, 2);
  ReadyRadio r(c);
  r.pc.Attempt(1, 0x8000, 1, 2);
  EXPECT_FALSE(r.wire.out.HangUpRequested());
  EXPECT_EQ(r.pc.Attempt(1, 0x8002, 3, 4), Outcome::kOk);
  EXPECT_TRUE(r.wire.out.HangUpRequested());
}

TEST(DirectRadioTest, SilentRadioHearsButSaysNothing) {
  RadioConfig c = Direct();
  c.Add(sim::Fault::kSilent);
  Wire wire(c);
  EXPECT_TRUE(DirectPc(wire).Handshake().empty());
  EXPECT_EQ(wire.radio.Direct().Counters().identities_sent, 1u);
  EXPECT_EQ(wire.radio.Counters().bytes_sent, 0u);
}

TEST(DirectRadioTest, IdentityWaitsForThePcToSwitchItsRate) {
  RadioConfig c = Direct();
  Wire wire(c);
  wire.line = sim::LineState{.known = true, .rate = 19200};
  DirectPc pc(wire);
  EXPECT_TRUE(pc.Handshake(direct::kHighSpeedDivisor).empty());
  wire.line.rate = 115200;
  EXPECT_EQ(wire.Wait(0.005).size(), 4u);
  EXPECT_EQ(wire.radio.Direct().Counters().line_rate_faults, 0u);

  // A PC that stays at 19200 reads garbage, and what it sends is not heard.
  Wire slow(c);
  slow.line = sim::LineState{.known = true, .rate = 19200};
  DirectPc(slow).Handshake(direct::kHighSpeedDivisor);
  EXPECT_EQ(slow.Wait(1.0), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(slow.radio.Direct().Counters().line_rate_faults, 1u);
  EXPECT_TRUE(slow.Send({direct::kStartErase}).empty());
  EXPECT_EQ(slow.radio.Direct().Counters().erases, 0u);
}

}  // namespace
}  // namespace tvx::testing
