// The checks of the fuzz targets: unlike assert() they stay on in optimised builds, and a failed
// one aborts, so that libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tvx::fuzz {

[[noreturn]] inline void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

}  // namespace tvx::fuzz

#define TVX_FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::tvx::fuzz::CheckFailed(#condition, __FILE__, __LINE__))
