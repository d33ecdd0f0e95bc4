// Expectations on the radio's text as it arrives: matches across chunks, captures, a match that
// waits to be sure of its end, a pattern that does not compile, and a bounded buffer on a long
// stream without a match.
#include <gtest/gtest.h>

#include <string>

#include "terminal/text_matcher.h"

namespace tvx::testing {
namespace {

using terminal::Pattern;
using terminal::TextMatcher;

TEST(TextMatcher, MatchAcrossChunksWithNamedCaptures) {
  const Pattern p("^Network ID\\s+(?<id>\\d+)\\s*\\n(?:x)?Hop pattern\\s+(?<hop>\\d+)$");
  ASSERT_TRUE(p.Ok()) << p.Error();
  TextMatcher m;
  EXPECT_FALSE(m.Expect(p));
  EXPECT_FALSE(m.Feed("Radio ID 1\nNetwork I", 1.0));
  EXPECT_FALSE(m.Feed("D          1", 2.0));
  // "1" could still become "12": the match waits for the number's end.
  EXPECT_FALSE(m.Feed("2\nHop pattern 3", 3.0));
  const auto match = m.Feed("4\nTransmit power", 4.0);
  ASSERT_TRUE(match);
  EXPECT_EQ(match->seconds, 4.0);
  ASSERT_EQ(match->captures.size(), 2u);
  EXPECT_EQ(match->captures[0].name, "id");
  EXPECT_EQ(match->captures[0].value, "12");
  EXPECT_EQ(match->captures[1].name, "hop");
  EXPECT_EQ(match->captures[1].value, "34");
  EXPECT_FALSE(m.Waiting());
}

TEST(TextMatcher, EachExpectationSeesOnlyTheTextAfterThePreviousMatch) {
  const Pattern choice("Choice> ");
  const Pattern rev("Rev (?<rev>\\S+)\\n");
  const Pattern unset("(?<a>A)|(?<b>B)");
  TextMatcher m;
  // Text that came before any expectation waits for it; a second prompt comes in one chunk.
  EXPECT_FALSE(m.Feed("Choice> 3\nFirmware Rev 2.54\nChoice> ", 1.0));
  ASSERT_TRUE(m.Expect(choice));
  const auto r = m.Expect(rev);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->captures[0].value, "2.54");
  EXPECT_EQ(r->seconds, 1.0);
  ASSERT_TRUE(m.Expect(choice));
  // Nothing is left: the same prompt again waits for new text.
  EXPECT_FALSE(m.Expect(choice));
  m.Cancel();
  const auto b = [&] {
    m.Expect(unset);
    return m.Feed("xB", 2.0);
  }();
  ASSERT_TRUE(b);
  EXPECT_FALSE(b->captures[0].set);
  EXPECT_TRUE(b->captures[1].set);
  EXPECT_EQ(b->captures[1].value, "B");
}

TEST(TextMatcher, SettleTakesAMatchThatWaitedForItsEnd) {
  const Pattern p("OK\\s*");
  TextMatcher m;
  m.Expect(p);
  EXPECT_FALSE(m.Feed("O", 1.0));
  EXPECT_FALSE(m.Feed("K", 2.0));  // more blanks could follow
  const auto match = m.Settle();
  ASSERT_TRUE(match);
  EXPECT_EQ(match->text, "OK");
  EXPECT_EQ(match->seconds, 2.0);
}

TEST(TextMatcher, GlyphsAreCharacters) {
  const Pattern p("a.b");  // one glyph between, however many bytes of UTF-8 it takes
  TextMatcher m;
  m.Expect(p);
  const auto match = m.Feed("a\u2593b", 1.0);
  ASSERT_TRUE(match);
  EXPECT_EQ(match->text, "a\u2593b");
}

TEST(TextMatcher, BadPatternsSayWhatAndWhere) {
  const struct {
    const char* pattern;
    std::size_t offset;
    const char* words;
  } cases[] = {
      {"ID (\\d+", 7, "missing closing parenthesis"},
      {"a{2,1}", 5, "out of order"},
      {"(?<n>a)(?<n>b)", 12, "same name"},
      {"\xFF", 0, "UTF-8"},
  };
  for (const auto& c : cases) {
    const Pattern p(c.pattern);
    EXPECT_FALSE(p.Ok()) << c.pattern;
    EXPECT_EQ(p.ErrorOffset(), c.offset) << c.pattern << ": " << p.Error();
    EXPECT_NE(p.Error().find(c.words), std::string::npos) << p.Error();
    EXPECT_NE(p.Error().find("at offset " + std::to_string(c.offset)), std::string::npos);
  }
}

TEST(TextMatcher, LongStreamWithoutAMatchHoldsBoundedMemory) {
  // This keeps a partial match open from the first "a" for as long as no "b" comes.
  const Pattern open_partial("a[^b]*b");
  const Pattern never("never said");
  for (const Pattern* p : {&open_partial, &never}) {
    TextMatcher m;
    m.Expect(*p);
    const std::string chunk(1000, 'a');
    std::size_t most = 0;
    for (int i = 0; i < 300; ++i) {
      ASSERT_FALSE(m.Feed(chunk, i));
      most = std::max(most, m.BufferedBytes());
    }
    // A partial match holds at most the window; text that cannot start one is let go.
    EXPECT_LE(most, p == &never ? 8 * 1024 : TextMatcher::kMaxWindow + 8 * 1024);
    // Still searching: a match within the window is found.
    EXPECT_TRUE(p == &never ? m.Feed("never said", 1.0) : m.Feed("b", 1.0));
  }
}

TEST(TextMatcher, TextWaitingWithoutAnExpectationIsBoundedToo) {
  TextMatcher m;
  for (int i = 0; i < 200; ++i) m.Feed(std::string(1000, 'x'), i);
  EXPECT_LE(m.BufferedBytes(), TextMatcher::kMaxWindow + 8 * 1024);
  const Pattern p("\\Ax");  // the window starts within the text: \A finds no start
  EXPECT_FALSE(m.Expect(p));
}

}  // namespace
}  // namespace tvx::testing
