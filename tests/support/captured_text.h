// What the in-process tests of the sub-commands read back: a temporary file's whole text, how
// often a part occurs in it, and the running test's name (for paths of its own, since ctest runs
// the tests of one file side by side).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <string>

namespace tvx::testing {

inline const char* CurrentTestName() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

/// Everything written to `file` so far (flushed and read from the start).
inline std::string Text(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

/// How often `part` occurs in `text`, overlaps counted.
inline std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

}  // namespace tvx::testing
