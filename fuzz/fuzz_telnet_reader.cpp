// The network port's reader of what a serial server sends, and the port names it is opened by.
//
// Input: a stream as a server might send it.
//
// Checked:
// - fed whole and fed in pieces cut where the input's first byte says, the reader gives the
//   same data, answers, line errors and negotiation;
// - data never holds more bytes than came in, and a stream that is the escaped form of some
//   bytes reads back as exactly those bytes;
// - every answer's value holds at most 4 bytes, and only known commands are answered;
// - negotiation answers are whole three-byte commands (IAC, WILL/WONT/DO/DONT, option);
// - the input read as a port name never crashes, and a name that is read gives a host and a
//   port from 1 to 65535, and is the same server port as itself.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "serial/network_port_name.h"
#include "serial/telnet_codec.h"

namespace {

using tvx::serial::telnet::Reader;
using tvx::serial::telnet::ReadEvents;

struct Outcome {
  std::vector<std::uint8_t> data;
  ReadEvents events;
};

Outcome ReadIn(std::span<const std::uint8_t> stream, std::size_t piece) {
  Reader reader;
  Outcome out;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    reader.Feed(stream.subspan(at, std::min(piece, stream.size() - at)), out.data, out.events);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> stream(bytes, size);
  const Outcome whole = ReadIn(stream, size);
  const Outcome cut = ReadIn(stream, 1 + bytes[0] % 7);
  TVX_FUZZ_CHECK(whole.data == cut.data);
  TVX_FUZZ_CHECK(whole.events.answers == cut.events.answers);
  TVX_FUZZ_CHECK(whole.events.line_errors == cut.events.line_errors);
  TVX_FUZZ_CHECK(whole.events.replies.size() == cut.events.replies.size());
  for (std::size_t i = 0; i < whole.events.replies.size(); ++i) {
    const auto& a = whole.events.replies[i];
    const auto& b = cut.events.replies[i];
    TVX_FUZZ_CHECK(a.command == b.command && a.Number() == b.Number() && a.size == b.size);
    TVX_FUZZ_CHECK(a.size <= 4);
    TVX_FUZZ_CHECK(static_cast<int>(a.command) >= 1 &&
                   static_cast<int>(a.command) < tvx::serial::telnet::kComCommandCount);
  }
  TVX_FUZZ_CHECK(whole.data.size() <= size);
  TVX_FUZZ_CHECK(whole.events.answers.size() % 3 == 0);
  for (std::size_t i = 0; i < whole.events.answers.size(); i += 3) {
    TVX_FUZZ_CHECK(whole.events.answers[i] == tvx::serial::telnet::kIac);
    TVX_FUZZ_CHECK(whole.events.answers[i + 1] >= tvx::serial::telnet::kWill);
  }

  std::vector<std::uint8_t> escaped;
  tvx::serial::telnet::AppendEscaped(stream, escaped);
  const Outcome back = ReadIn(escaped, 1 + bytes[0] % 5);
  TVX_FUZZ_CHECK(back.data == std::vector<std::uint8_t>(stream.begin(), stream.end()));
  TVX_FUZZ_CHECK(back.events.replies.empty() && back.events.answers.empty());

  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  std::string why;
  if (const auto address = tvx::serial::ParseNetworkPortName(text, why)) {
    TVX_FUZZ_CHECK(!address->host.empty() && address->port >= 1);
    TVX_FUZZ_CHECK(tvx::serial::SameNetworkPort(text, text));
  } else {
    TVX_FUZZ_CHECK(!why.empty());
  }
  return 0;
}
