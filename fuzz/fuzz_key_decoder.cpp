// The key decoder against any bytes a terminal could send, at any pace.
//
// Input: two bytes of delays (the Esc delay 0..63 ms, the gap inside a sequence 0..255 ms), then
// pairs of (pause, byte). The pause's low 7 bits are the milliseconds since the previous byte;
// its top bit takes every ready key before the byte is fed.
//
// Checked: every key is one non-NUL character or NUL and a scan code of the PC keyboard; no more
// keys come out than bytes went in; the time until an open Esc turns into a key stays within
// the Esc delay; after a pause longer than both delays, with the keys taken, a byte that starts
// no sequence is its own key (the decoder forgot what came before); a wheel turn takes a whole
// mouse report of at least six bytes; at the end, once both delays have run out, nothing is left
// open.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "console/key_decoder.h"
#include "fuzz_check.h"

namespace {

constexpr int kHighestScanCode = 88;  // F12

void CheckKey(const std::string& key) {
  if (key.size() == 1) {
    TVX_FUZZ_CHECK(key[0] != '\0');
  } else {
    TVX_FUZZ_CHECK(key.size() == 2 && key[0] == '\0');
    const int scan = static_cast<unsigned char>(key[1]);
    TVX_FUZZ_CHECK(scan >= 1 && scan <= kHighestScanCode);
  }
}

// Bytes that are a key of their own in any state the decoder can be in after a long pause: not
// Esc (which opens a sequence), NUL, backspace or DEL (which the decoder renames).
bool StandsForItself(std::uint8_t byte) {
  return byte != 0x1B && byte != 0 && byte != '\b' && byte != 0x7F;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int escape_delay = data[0] & 0x3F;
  const int sequence_gap = data[1];
  tvx::console::KeyDecoder decoder(escape_delay, sequence_gap);

  std::int64_t now = 0;
  std::size_t fed = 0;
  std::size_t taken = 0;
  std::size_t turns = 0;
  const auto take_all = [&] {
    turns += static_cast<std::size_t>(std::abs(decoder.TakeWheelTurns()));
    TVX_FUZZ_CHECK(turns * 6 <= fed);
    while (decoder.HasKey(now)) {
      CheckKey(decoder.Take(now));
      ++taken;
    }
    TVX_FUZZ_CHECK(decoder.Take(now).empty());
  };

  for (std::size_t i = 2; i + 1 < size; i += 2) {
    const int pause = data[i] & 0x7F;
    const bool take_first = (data[i] & 0x80) != 0;
    const std::uint8_t byte = data[i + 1];
    now += pause;
    if (take_first) take_all();
    const int left = decoder.MsUntilTimeout(now);
    TVX_FUZZ_CHECK(left >= -1 && left <= escape_delay);

    decoder.FeedByte(byte, now);
    ++fed;
    if (take_first && pause > escape_delay && pause > sequence_gap && StandsForItself(byte)) {
      TVX_FUZZ_CHECK(decoder.Take(now) == std::string(1, static_cast<char>(byte)));
      TVX_FUZZ_CHECK(!decoder.HasKey(now));
      ++taken;
    }
    TVX_FUZZ_CHECK(taken <= fed);
  }

  now += 64 + 256;
  take_all();
  TVX_FUZZ_CHECK(taken <= fed);
  TVX_FUZZ_CHECK(decoder.MsUntilTimeout(now) == -1);
  decoder.FeedByte('x', now);
  decoder.Clear();
  TVX_FUZZ_CHECK(!decoder.HasKey(now));
  return 0;
}
