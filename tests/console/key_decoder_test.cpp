#include "console/key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tvx::console {
namespace {

std::string Ext(int scan) {
  return std::string(1, '\0') + static_cast<char>(scan);
}

// Feeds all bytes at time `at`, then collects every key ready by `until`.
std::vector<std::string> Decode(KeyDecoder& decoder, std::string_view bytes, std::int64_t at = 0,
                                std::int64_t until = 1000) {
  for (char c : bytes) decoder.FeedByte(static_cast<std::uint8_t>(c), at);
  std::vector<std::string> keys;
  for (std::string key = decoder.Take(until); !key.empty(); key = decoder.Take(until)) {
    keys.push_back(key);
  }
  return keys;
}

std::vector<std::string> Decode(std::string_view bytes) {
  KeyDecoder decoder;
  return Decode(decoder, bytes);
}

using Keys = std::vector<std::string>;

TEST(KeyDecoderTest, OrdinaryBytes) {
  EXPECT_EQ(Decode("aQ1\r"), (Keys{"a", "Q", "1", "\r"}));
  EXPECT_EQ(Decode("\x03"), (Keys{"\x03"}));                     // Ctrl-C is a key
  EXPECT_EQ(Decode("\x7f\b"), (Keys{"\b", "\b"}));               // DEL and ^H are Backspace
  EXPECT_EQ(Decode(std::string_view("\0", 1)), (Keys{Ext(3)}));  // Ctrl-@
  EXPECT_EQ(Decode("\x82"), (Keys{"\x82"}));
}

TEST(KeyDecoderTest, FunctionAndCursorSequences) {
  EXPECT_EQ(Decode("\x1bOP\x1bOQ\x1bOR\x1bOS"), (Keys{Ext(59), Ext(60), Ext(61), Ext(62)}));
  EXPECT_EQ(Decode("\x1b[15~\x1b[21~\x1b[23~\x1b[24~"),
            (Keys{Ext(63), Ext(68), Ext(133), Ext(134)}));
  EXPECT_EQ(Decode("\x1b[A\x1b[B\x1b[C\x1b[D"), (Keys{Ext(72), Ext(80), Ext(77), Ext(75)}));
  EXPECT_EQ(Decode("\x1bOA\x1bOH\x1bOF"), (Keys{Ext(72), Ext(71), Ext(79)}));
  EXPECT_EQ(Decode("\x1b[1~\x1b[2~\x1b[3~\x1b[4~\x1b[5~\x1b[6~"),
            (Keys{Ext(71), Ext(82), Ext(83), Ext(79), Ext(73), Ext(81)}));
  EXPECT_EQ(Decode("\x1b[[A\x1b[[E"), (Keys{Ext(59), Ext(63)}));  // Linux console
  EXPECT_EQ(Decode("\x1b[1;2P\x1b[15;5~\x1b[1;5A"), (Keys{Ext(84), Ext(98), Ext(72)}));
  EXPECT_EQ(Decode("\x1bOM\x1bOq"), (Keys{"\r", "1"}));  // keypad Enter and 1
}

TEST(KeyDecoderTest, UnknownSequencesAreDropped) {
  EXPECT_EQ(Decode("\x1b[99~x"), (Keys{"x"}));
  EXPECT_EQ(Decode("\x1b[200~hi\x1b[201~"), (Keys{"h", "i"}));
  // A control byte inside a sequence ends it and counts on its own.
  EXPECT_EQ(Decode("\x1b[1\r"), (Keys{"\r"}));
}

TEST(KeyDecoderTest, AltWithLetterWithinTheDelay) {
  EXPECT_EQ(Decode("\x1b"
                   "a"),
            (Keys{Ext(30)}));
  EXPECT_EQ(Decode("\x1bQ"), (Keys{Ext(16)}));
  EXPECT_EQ(Decode("\x1bz\x1bm"), (Keys{Ext(44), Ext(50)}));
  EXPECT_EQ(Decode("\x1b"
                   "1\x1b"
                   "0"),
            (Keys{Ext(120), Ext(129)}));
  EXPECT_EQ(Decode("\x1b "), (Keys{" "}));  // Alt has no code of its own here

  // The letter handed over separately, but within the delay, still pairs with the Esc.
  KeyDecoder decoder(25);
  decoder.FeedByte(0x1b, 100);
  EXPECT_FALSE(decoder.HasKey(110));
  EXPECT_EQ(decoder.MsUntilTimeout(110), 15);
  decoder.FeedByte('a', 120);
  EXPECT_EQ(decoder.Take(200), Ext(30));
  EXPECT_EQ(decoder.MsUntilTimeout(200), -1);
}

TEST(KeyDecoderTest, LoneEscAfterTheDelay) {
  KeyDecoder decoder(25);
  decoder.FeedByte(0x1b, 100);
  EXPECT_EQ(decoder.Take(124), "");
  EXPECT_EQ(decoder.Take(125), "\x1b");

  // A letter arriving after the delay is a key of its own.
  decoder.FeedByte(0x1b, 200);
  decoder.FeedByte('q', 300);
  EXPECT_EQ(decoder.Take(300), "\x1b");
  EXPECT_EQ(decoder.Take(300), "q");

  // Two Esc bytes together: the first is the Esc key.
  EXPECT_EQ(Decode(decoder, "\x1b\x1b", 400, 400), (Keys{"\x1b"}));
  EXPECT_EQ(decoder.Take(425), "\x1b");

  // A cut-off "ESC [" is Alt+[; a longer cut-off sequence is nothing.
  EXPECT_EQ(Decode(decoder, "\x1b[", 500, 600), (Keys{Ext(26)}));
  EXPECT_EQ(Decode(decoder, "\x1b[1;", 700, 800), (Keys{}));
}

TEST(KeyDecoderTest, NamedKeys) {
  KeyDecoder decoder;
  decoder.FeedNamed(NamedKey::kF1, 0);
  decoder.FeedNamed(NamedKey::kF12, 0);
  decoder.FeedNamed(NamedKey::kPageDown, 0);
  decoder.FeedNamed(NamedKey::kBackspace, 0);
  decoder.FeedByte(0x1b, 0);
  decoder.FeedNamed(NamedKey::kUp, 1);  // Esc directly before a named key: Alt, dropped
  EXPECT_EQ(Decode(decoder, ""), (Keys{Ext(59), Ext(134), Ext(81), "\b", Ext(72)}));
  EXPECT_EQ(KeyText(NamedKey::kShiftF12), Ext(136));
  EXPECT_EQ(KeyText(NamedKey::kCtrlF1), Ext(94));
}

}  // namespace
}  // namespace tvx::console
