// A console for the serial tests: no keys, counts beeps and presents.
#pragma once

#include <string>

#include "console/console.h"

namespace tvx::testing {

class TestConsole final : public console::Console {
 public:
  std::string ReadKey() override { return ""; }
  bool KeyWaiting() override { return false; }
  void Beep() override { ++beeps; }
  bool Present(bool force) override {
    ++presents;
    return force || shows_everything;
  }
  void AwaitKey(int) override {}
  console::NativeWaitHandle KeyWaitHandle() const override { return key_handle; }

  int beeps = 0;
  int presents = 0;
  bool shows_everything = true;  ///< what Present(false) answers
  console::NativeWaitHandle key_handle = console::kNoWaitHandle;
};

}  // namespace tvx::testing
