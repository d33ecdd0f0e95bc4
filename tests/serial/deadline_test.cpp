// The read time-outs every backend applies: which form a set of five values is, and when a read
// under it ends.
#include "serial/deadline.h"

#include <gtest/gtest.h>

namespace tvx::serial {
namespace {

constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

TEST(ReadTimerTest, EachFormEndsWhereItShould) {
  struct Case {
    const char* name;
    std::uint32_t interval, per_byte, constant;
    bool at_once, ends_with_bytes;
    int ms_left_at_most;  // before any byte; -1: no bound
  };
  const Case cases[] = {
      {"what is there", kInfinite, 0, 0, true, false, -1},
      {"the first byte within a minute", kInfinite, kInfinite, 60000, false, true, 60000},
      {"all bytes, no bound", 0, 0, 0, false, false, -1},
      {"total: 10 ms a byte for 4, and 50", 0, 10, 50, false, false, 90},
      {"interval only: unbounded until a byte came", 20, 0, 0, false, false, -1},
  };
  for (const Case& c : cases) {
    ReadTimer timer(c.interval, c.per_byte, c.constant, 4);
    EXPECT_EQ(timer.AtOnce(), c.at_once) << c.name;
    const int left = timer.MsLeft();
    if (c.ms_left_at_most < 0) {
      EXPECT_EQ(left, -1) << c.name;
    } else {
      EXPECT_GT(left, c.ms_left_at_most - 1000) << c.name;
      EXPECT_LE(left, c.ms_left_at_most) << c.name;
    }
    EXPECT_EQ(timer.EndsWithBytes(), c.ends_with_bytes) << c.name;
  }
  // The interval starts with the first byte and again with each one after it.
  ReadTimer interval(20, 0, 0, 4);
  interval.EndsWithBytes();
  EXPECT_GE(interval.MsLeft(), 0);
  EXPECT_LE(interval.MsLeft(), 20);
}

}  // namespace
}  // namespace tvx::serial
