// The echo of a secret kept out of the radio's text as it is shown, however the text is cut
// into pieces.
#include "terminal/secret_mask.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tvx::terminal {
namespace {

TEST(SecretMaskTest, AnEchoShowsAsSecretWhereverThePiecesAreCut) {
  struct Case {
    std::vector<std::string> pieces;
    std::string shown;
  };
  const Case cases[] = {
      {{"> hunter2\n"}, "> <secret>\n"},
      {{"> hun", "ter2\n"}, "> <secret>\n"},
      {{"> h", "u", "n", "t", "e", "r", "2", "\n"}, "> <secret>\n"},
      {{"hunter", "3 hunter2"}, "hunter3 <secret>"},  // a start that was not one goes out
      {{"> hunt"}, "> hunt"},                         // held until the end, then shown
      {{"no secret here\n"}, "no secret here\n"},
  };
  for (const Case& c : cases) {
    SecretMask mask;
    mask.Add("hunter2\r");  // the carriage return is no part of the echo
    std::string shown;
    for (const std::string& piece : c.pieces) {
      const std::string out = mask.Push(piece);
      EXPECT_EQ(out.find("hunter2"), std::string::npos);
      shown += out;
    }
    shown += mask.Flush();
    EXPECT_EQ(shown, c.shown) << c.pieces.front();
  }
}

TEST(SecretMaskTest, NothingIsHeldWithoutASecret) {
  SecretMask mask;
  EXPECT_EQ(mask.Push("h"), "h");
  mask.Add("\r\n");  // nothing printable: nothing to hide
  EXPECT_EQ(mask.Push("\r\n"), "\r\n");
  EXPECT_EQ(mask.Masked("a hunter2"), "a hunter2");
}

}  // namespace
}  // namespace tvx::terminal
