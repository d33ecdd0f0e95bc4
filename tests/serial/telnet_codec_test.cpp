// The telnet reader and writer of the network port: escaping both ways, the server's answers
// read the same however the stream is cut, negotiation answered once and only where needed.
#include "serial/telnet_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tvx::serial::telnet {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Read {
  Bytes data;
  std::vector<std::pair<int, std::uint32_t>> replies;  // command, value
  std::uint8_t line_errors = 0;
  Bytes answers;
};

// Feeds `stream` in pieces of `piece` bytes (0: whole) to a fresh reader.
Read FeedInPieces(const Bytes& stream, std::size_t piece) {
  Reader reader;
  Read read;
  ReadEvents events;
  if (piece == 0) piece = stream.size() + 1;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    const std::size_t n = std::min(piece, stream.size() - at);
    reader.Feed(std::span(stream).subspan(at, n), read.data, events);
  }
  for (const ComReply& r : events.replies) {
    read.replies.emplace_back(static_cast<int>(r.command), r.Number());
  }
  read.line_errors = events.line_errors;
  read.answers = events.answers;
  return read;
}

TEST(TelnetCodecTest, EveryByteValuePassesEscapedAndReadBack) {
  Bytes all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
  all.insert(all.end(), {0xFF, 0xFF, 0xFF});
  Bytes wire;
  AppendEscaped(all, wire);
  EXPECT_EQ(wire.size(), all.size() + 4);  // four 0xFF, each doubled
  // Any cut, the IAC IAC pair split across two reads included, gives the data back.
  for (const std::size_t piece : {0u, 1u, 2u, 255u, 256u, 257u}) {
    const Read read = FeedInPieces(wire, piece);
    EXPECT_EQ(read.data, all) << "pieces of " << piece;
    EXPECT_TRUE(read.replies.empty());
    EXPECT_TRUE(read.answers.empty());
  }
}

TEST(TelnetCodecTest, RequestsAreFramedAndTheirValuesEscaped) {
  EXPECT_EQ(SetBaudRate(115200), (Bytes{kIac, kSb, 44, 1, 0x00, 0x01, 0xC2, 0x00, kIac, kSe}));
  // A rate whose bytes hold 0xFF: doubled inside the sub-negotiation.
  EXPECT_EQ(SetBaudRate(0x0000FFFF),
            (Bytes{kIac, kSb, 44, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, kIac, kSe}));
  EXPECT_EQ(ComRequestByte(ComCommand::kSetControl, kControlDtrOn),
            (Bytes{kIac, kSb, 44, 5, 8, kIac, kSe}));
  EXPECT_EQ(OpeningNegotiation(),
            (Bytes{kIac, kWill, 0, kIac, kDo, 0, kIac, kWill, 3, kIac, kDo, 3, kIac, kWill, 44}));
}

TEST(TelnetCodecTest, ServerAnswersAndNoticesReadTheSameHoweverCut) {
  const Bytes stream = {
      'a',  kIac, kSb, 44,  101,  0x00, 0x01, 0xC2, 0x00, kIac, kSe,  // rate 115200 in force
      'b',  kIac, kSb, 44,  106,  0x0A, kIac, kSe,                    // overrun + framing
      kIac, kSb,  44,  106, 0x14, kIac, kSe,                          // parity + break: no error
      kIac, kSb,  44,  107, 0x30, kIac, kSe,                          // modem state: ignored
      kIac, kSb,  24,  1,   kIac, kSe,                                // another option: dropped
      kIac, 241,                                                      // NOP
      kIac, kSb,  44,  112, 1,    kIac, kSe,                          // purge done
      kIac, kSb,  44,  101, 0,    0,    0xFF, 0xFF, 0xFF, 0xFF, kIac, kSe, 'c',
  };
  const Read whole = FeedInPieces(stream, 0);
  EXPECT_EQ(whole.data, (Bytes{'a', 'b', 'c'}));
  const std::vector<std::pair<int, std::uint32_t>> replies = {{1, 115200}, {12, 1}, {1, 0xFFFF}};
  EXPECT_EQ(whole.replies, replies);
  EXPECT_EQ(whole.line_errors, 0x0A);
  for (std::size_t piece = 1; piece < stream.size(); ++piece) {
    const Read cut = FeedInPieces(stream, piece);
    EXPECT_EQ(cut.data, whole.data) << piece;
    EXPECT_EQ(cut.replies, whole.replies) << piece;
    EXPECT_EQ(cut.line_errors, whole.line_errors) << piece;
  }
}

TEST(TelnetCodecTest, BrokenAndOverlongSubNegotiationsAreDroppedAndDataGoesOn) {
  Bytes stream = {kIac, kSb, 44, 101, 0, kIac, kWill, 1};  // cut short by a command
  stream.insert(stream.end(), {'x', kIac, kSb, 44, 101});
  stream.insert(stream.end(), 200, 7);  // far longer than any answer
  stream.insert(stream.end(), {kIac, kSe, 'y'});
  const Read read = FeedInPieces(stream, 0);
  EXPECT_EQ(read.data, (Bytes{'x', 'y'}));
  EXPECT_TRUE(read.replies.empty());
  EXPECT_EQ(read.answers, (Bytes{kIac, kDont, 1}));  // the WILL inside was still read
}

struct NegotiationCase {
  const char* name;
  Bytes from_server;
  Bytes answers;
  bool com_port_enabled;
  bool com_port_refused;
};

class TelnetNegotiationTest : public ::testing::TestWithParam<NegotiationCase> {};

TEST_P(TelnetNegotiationTest, AnswersOnlyWhatNeedsAnAnswer) {
  const NegotiationCase& c = GetParam();
  Reader reader;
  Bytes data;
  ReadEvents events;
  reader.Feed(c.from_server, data, events);
  EXPECT_EQ(events.answers, c.answers);
  EXPECT_EQ(reader.ComPort().enabled, c.com_port_enabled);
  EXPECT_EQ(reader.ComPort().refused, c.com_port_refused);
  EXPECT_TRUE(data.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TelnetNegotiationTest,
    ::testing::Values(
        // Our own requests agreed to: nothing to say back.
        NegotiationCase{"agreed",
                        {kIac, kDo, 0, kIac, kWill, 0, kIac, kDo, 3, kIac, kWill, 3, kIac, kDo, 44},
                        {},
                        true,
                        false},
        NegotiationCase{"comport_refused", {kIac, kDont, 44}, {}, false, true},
        // Options we do not speak: refused, each once however often asked.
        NegotiationCase{"unknown_asked_twice",
                        {kIac, kDo, 24, kIac, kWill, 1, kIac, kDo, 24, kIac, kWill, 1},
                        {kIac, kWont, 24, kIac, kDont, 1},
                        false,
                        false},
        // The server offering the serial-port option itself (a client's role): refused.
        NegotiationCase{"server_will_comport", {kIac, kWill, 44}, {kIac, kDont, 44}, false, false},
        // Agreed, then withdrawn by the server: we confirm; agreed again: we confirm again.
        NegotiationCase{
            "withdrawn_and_back",
            {kIac, kDo, 0, kIac, kDont, 0, kIac, kDo, 0, kIac, kWill, 3, kIac, kWont, 3},
            {kIac, kWont, 0, kIac, kWill, 0, kIac, kDont, 3},
            false,
            false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tvx::serial::telnet
