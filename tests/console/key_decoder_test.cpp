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
  EXPECT_EQ(Decode("\x1b[15~\x1b[21~\x1b[23~\x1b[24~"), (Keys{Ext(63), Ext(68), Ext(87), Ext(88)}));
  EXPECT_EQ(Decode("\x1b[A\x1b[B\x1b[C\x1b[D"), (Keys{Ext(72), Ext(80), Ext(77), Ext(75)}));
  EXPECT_EQ(Decode("\x1bOA\x1bOH\x1bOF\x1b[E"), (Keys{Ext(72), Ext(71), Ext(79), Ext(76)}));
  EXPECT_EQ(Decode("\x1b[1~\x1b[2~\x1b[3~\x1b[4~\x1b[5~\x1b[6~\x1b[7~\x1b[8~"),
            (Keys{Ext(71), Ext(82), Ext(83), Ext(79), Ext(73), Ext(81), Ext(71), Ext(79)}));
  EXPECT_EQ(Decode("\x1b[[A\x1b[[E"), (Keys{Ext(59), Ext(63)}));     // Linux console
  EXPECT_EQ(Decode("\x1bOM\x1bOq\x1b[Z"), (Keys{"\r", "1", "\t"}));  // keypad, Shift+Tab
  EXPECT_EQ(Decode("\x1bOj\x1bOk\x1bOl\x1bOm\x1bOn\x1bOo\x1bOp\x1bOX\x1bOy"),
            (Keys{"*", "+", ",", "-", ".", "/", "0", "=", "9"}));  // the rest of the keypad
}

// Every modifier an xterm-like terminal reports (2 Shift .. 8 Ctrl+Alt+Shift) leaves the key's
// own code, in each of the forms the terminals use.
TEST(KeyDecoderTest, ModifiersDoNotChangeTheKey) {
  struct Form {
    std::string before;  // up to the modifier
    std::string after;   // from the final byte
    int scan;
  };
  const std::vector<Form> forms = {
      {"\x1b[1;", "A", 72},  {"\x1b[1;", "B", 80},  {"\x1b[1;", "C", 77},  {"\x1b[1;", "D", 75},
      {"\x1b[1;", "H", 71},  {"\x1b[1;", "F", 79},  {"\x1b[2;", "~", 82},  {"\x1b[3;", "~", 83},
      {"\x1b[5;", "~", 73},  {"\x1b[6;", "~", 81},  {"\x1b[1;", "P", 59},  {"\x1b[1;", "S", 62},
      {"\x1b[15;", "~", 63}, {"\x1b[17;", "~", 64}, {"\x1b[21;", "~", 68}, {"\x1b[23;", "~", 87},
      {"\x1b[24;", "~", 88}, {"\x1bO", "P", 59},  // "ESC O 5 P"
  };
  for (const Form& form : forms) {
    for (int modifier = 2; modifier <= 8; ++modifier) {
      const std::string sequence = form.before + std::to_string(modifier) + form.after;
      EXPECT_EQ(Decode(sequence), (Keys{Ext(form.scan)}))
          << "modifier " << modifier << " in " << sequence.substr(1);
    }
  }
  // Alt sent as an Esc before the whole sequence.
  EXPECT_EQ(Decode("\x1b\x1b[A\x1b\x1b[24~\x1b\x1bOP"), (Keys{Ext(72), Ext(88), Ext(59)}));
  // rxvt: Shift and Ctrl cursor keys, and Shift/Ctrl/Ctrl+Shift editing and function keys.
  EXPECT_EQ(Decode("\x1b[a\x1b[d\x1bOb\x1bOc"), (Keys{Ext(72), Ext(75), Ext(80), Ext(77)}));
  EXPECT_EQ(Decode("\x1b[2$\x1b[3^\x1b[5@\x1b[11^"), (Keys{Ext(82), Ext(83), Ext(73), Ext(59)}));
  // The Linux console's and rxvt's Shift+F3..F10.
  EXPECT_EQ(Decode("\x1b[25~\x1b[26~\x1b[28~\x1b[29~\x1b[31~\x1b[34~"),
            (Keys{Ext(61), Ext(62), Ext(63), Ext(64), Ext(65), Ext(68)}));
}

TEST(KeyDecoderTest, UnknownMalformedAndOverlongSequencesAreDroppedWhole) {
  EXPECT_EQ(Decode("\x1b[99~x"), (Keys{"x"}));
  EXPECT_EQ(Decode("\x1b[200~hi\x1b[201~"), (Keys{"h", "i"}));
  EXPECT_EQ(Decode("\x1b[?1;2c7"), (Keys{"7"}));   // a report, not a key
  EXPECT_EQ(Decode("\x1b[1:5A8"), (Keys{"8"}));    // parameters of a form no key has
  EXPECT_EQ(Decode("\x1b[1;2$5~9"), (Keys{"9"}));  // an intermediate before the parameters end
  EXPECT_EQ(Decode("\x1b[" + std::string(40, '1') + ";5~" + "7"), (Keys{"7"}));
  EXPECT_EQ(Decode("\x1b[1;" + std::string(30, ';') + "5A" + "7"), (Keys{"7"}));
  // A control byte inside a sequence ends it and counts on its own; an Esc starts a new one.
  EXPECT_EQ(Decode("\x1b[1\r"), (Keys{"\r"}));
  EXPECT_EQ(Decode("\x1b[12\x1b[A"), (Keys{Ext(72)}));
}

TEST(KeyDecoderTest, SequenceCutOffByAPause) {
  KeyDecoder decoder(25, 100);
  // The bytes of one sequence may lag behind each other for up to the gap...
  EXPECT_EQ(Decode(decoder, "\x1b[1;", 0, 0), (Keys{}));
  EXPECT_EQ(decoder.MsUntilTimeout(0), -1);  // nothing open would become a key
  EXPECT_EQ(Decode(decoder, "5A", 90, 90), (Keys{Ext(72)}));
  // ...and after a longer pause what is open is dropped, the next byte is a key of its own.
  EXPECT_EQ(Decode(decoder, "\x1b[1;", 200, 200), (Keys{}));
  EXPECT_EQ(Decode(decoder, "5", 300, 300), (Keys{"5"}));
}

TEST(KeyDecoderTest, AltWithACharacterKeyGivesTheKeysCode) {
  EXPECT_EQ(Decode("\x1b"
                   "a"),
            (Keys{Ext(30)}));
  EXPECT_EQ(Decode("\x1bQ\x1bz\x1bm"), (Keys{Ext(16), Ext(44), Ext(50)}));
  EXPECT_EQ(Decode("\x1b"
                   "1\x1b"
                   "0\x1b!\x1b-\x1b/\x1b "),
            (Keys{Ext(2), Ext(11), Ext(2), Ext(12), Ext(53), Ext(57)}));
  EXPECT_EQ(Decode("\x1b\r\x1b\x7f\x1b\t\x1b\x01"), (Keys{Ext(28), Ext(14), Ext(15), Ext(30)}));
  // Every letter, in either case and with Ctrl, is the key of its lower-case letter.
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    const Keys key = Decode(std::string{'\x1b', letter});
    ASSERT_EQ(key.size(), 1u) << letter;
    EXPECT_EQ(Decode(std::string{'\x1b', static_cast<char>(letter - 'a' + 'A')}), key) << letter;
    if (letter == 'h' || letter == 'i' || letter == 'm') continue;  // Backspace, Tab, Enter
    EXPECT_EQ(Decode(std::string{'\x1b', static_cast<char>(letter - 'a' + 1)}), key) << letter;
  }
  EXPECT_EQ(Decode("\x1b\x82"), (Keys{"\x82"}));  // Alt has no code of its own here
  EXPECT_EQ(Decode("\x1b\x1bx"), (Keys{"\x1b", Ext(45)}));
  EXPECT_EQ(Decode("\x1b\x1b\x1bx"), (Keys{"\x1b", "\x1b", Ext(45)}));

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

  // Two Esc bytes together, nothing after them: two Esc keys.
  EXPECT_EQ(Decode(decoder, "\x1b\x1b", 400, 424), (Keys{}));
  EXPECT_EQ(Decode(decoder, "", 425, 425), (Keys{"\x1b", "\x1b"}));

  // A cut-off "ESC [" is Alt+[; a longer cut-off sequence is nothing.
  EXPECT_EQ(Decode(decoder, "\x1b[", 500, 600), (Keys{Ext(26)}));
  EXPECT_EQ(Decode(decoder, "\x1b[1;", 700, 800), (Keys{}));
}

// Mouse reports in both forms are never keys, whatever bytes they carry; only the wheel's
// turns are counted, with Shift, Alt or Ctrl held too.
TEST(KeyDecoderTest, MouseReportsAreWheelTurnsNotKeys) {
  struct Case {
    std::string bytes;
    Keys keys;
    int turns;
  };
  const Case cases[] = {
      {"\x1b[<64;10;5M", {}, -1},
      {"\x1b[<65;80;24M\x1b[<65;1;1M", {}, 2},
      {"\x1b[<68;3;3Mq\x1b[<81;3;3M", {"q"}, 0},           // Shift+up, then Ctrl+down
      {"\x1b[<0;12;7M\x1b[<0;12;7m\x1b[<35;2;2M", {}, 0},  // a click, its release, a move
      {"\x1b[M`!!\x1b[Ma~~", {}, 0},                       // the old form: up, then down
      {"\x1b[M a!x\x1b[Ma5[1", {"x", "1"}, 1},  // a click ("a" and "!" are no keys), down
  };
  for (const Case& c : cases) {
    KeyDecoder decoder;
    EXPECT_EQ(Decode(decoder, c.bytes), c.keys) << c.bytes;
    EXPECT_EQ(decoder.TakeWheelTurns(), c.turns) << c.bytes;
    EXPECT_EQ(decoder.TakeWheelTurns(), 0);
  }
}

TEST(KeyDecoderTest, ClearForgetsReadyKeysAndOpenSequences) {
  KeyDecoder decoder;
  decoder.FeedByte('1', 0);
  decoder.FeedByte(0x1b, 0);
  decoder.FeedByte('[', 0);
  decoder.Clear();
  EXPECT_EQ(Decode(decoder, "A", 1, 1000), (Keys{"A"}));
}

}  // namespace
}  // namespace tvx::console
