#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "console/console.h"
#include "support/scripted_console.h"
#include "support/wait_signal.h"

namespace tvx::console {
namespace {

using testing::ScriptedConsole;

bool Readable(NativeWaitHandle handle) {
  return testing::WaitReady(handle, 0);
}

TEST(ReadLineTest, EchoesAndEndsOnEnter) {
  ScriptedConsole console;
  console.Screen().Locate(5, 1);
  console.Screen().PrintText("Com Port Number ");
  console.Feed("12x\r");
  EXPECT_EQ(ReadLine(console), "12x");
  EXPECT_EQ(console.RowTrimmed(5), "Com Port Number 12x");
  EXPECT_EQ(console.Screen().CursorRow(), 6);
  EXPECT_EQ(console.Screen().CursorColumn(), 1);
}

TEST(ReadLineTest, BackspaceBlanksAndControlKeysAreIgnored) {
  ScriptedConsole console;
  console.Feed("ab\b\bc\t\x1b");
  console.FeedKeys({std::string("\0;", 2), std::string("\0H", 2), "\b", "\b"});
  console.Feed("d\r");
  EXPECT_EQ(ReadLine(console), "d");
  EXPECT_EQ(console.RowTrimmed(1), "d");
  EXPECT_EQ(console.Beeps(), 0);
}

TEST(ReadLineTest, AtMost128CharactersAndBackspaceAcrossRows) {
  ScriptedConsole console;
  console.Screen().Locate(10, 71);
  console.Feed(std::string(130, '7'));
  console.Feed("\b\b\r");
  EXPECT_EQ(ReadLine(console), std::string(126, '7'));
  // 10 on row 10, 80 on row 11, 38 on row 12; two erased from the end of row 12.
  EXPECT_EQ(console.RowTrimmed(11), std::string(80, '7'));
  EXPECT_EQ(console.RowTrimmed(12), std::string(36, '7'));
  EXPECT_EQ(console.Screen().CursorRow(), 13);

  console.Screen().Locate(20, 80);
  console.Feed("ab\b\b\bc\r");
  EXPECT_EQ(ReadLine(console), "c");
  EXPECT_EQ(console.RowTrimmed(20).back(), 'c');
  EXPECT_EQ(console.RowTrimmed(21), "");
}

TEST(ReadLineTest, BackspaceAfterTheLastCellOfTheScreen) {
  ScriptedConsole console;
  console.Screen().Locate(51, 79);
  console.Feed("xy\b\r");  // 'y' fills the last cell; erasing it must not scroll
  EXPECT_EQ(ReadLine(console), "x");
  EXPECT_EQ(console.RowText(50).substr(78), "x ");
  EXPECT_EQ(console.RowTrimmed(51), "");
}

TEST(ScriptedConsoleTest, WaitHandleIsReadableWhileKeysAreQueued) {
  ScriptedConsole console;
  const NativeWaitHandle fd = console.KeyWaitHandle();
  EXPECT_FALSE(Readable(fd));
  console.Feed("ab");
  EXPECT_TRUE(Readable(fd));
  EXPECT_EQ(console.ReadKey(), "a");
  EXPECT_TRUE(Readable(fd));
  EXPECT_EQ(console.ReadKey(), "b");
  EXPECT_FALSE(Readable(fd));
  EXPECT_EQ(console.ReadKey(), "");
}

TEST(ScriptedConsoleTest, KeyFedFromAnotherThreadWakesTheWait) {
  ScriptedConsole console;
  std::thread feeder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    console.Feed("5");
  });
  EXPECT_EQ(WaitForKey(console), "5");
  feeder.join();
  EXPECT_FALSE(console.Starved());
}

TEST(ScriptedConsoleTest, StarvingWaitGetsAnEsc) {
  ScriptedConsole console;
  console.SetStarveLimitMs(30);
  EXPECT_EQ(WaitForKey(console), "\x1b");
  EXPECT_TRUE(console.Starved());
  EXPECT_THROW(WaitForKey(console), std::runtime_error);  // a loop that ignores Esc fails

  ScriptedConsole hooked;
  hooked.OnKeyWanted([](ScriptedConsole& c) { c.Feed("\r"); });
  EXPECT_EQ(ReadLine(hooked), "");
  EXPECT_FALSE(hooked.Starved());
}

}  // namespace
}  // namespace tvx::console
