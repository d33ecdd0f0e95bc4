// A monitor that asks a scripted console for a stop, as a signal would, the moment the job
// reports a chosen count of units (words, frames) done.
#pragma once

#include <cstdint>

#include "job/monitor.h"
#include "support/scripted_console.h"

namespace tvx::testing {

class StopAtProgress final : public job::Monitor {
 public:
  StopAtProgress(ScriptedConsole& console, std::int64_t at, int signal_number)
      : console_(console), at_(at), signal_(signal_number) {}
  void Progress(std::int64_t done, std::int64_t) override {
    if (done == at_) console_.RequestStop(signal_);
  }

 private:
  ScriptedConsole& console_;
  std::int64_t at_;
  int signal_;
};

}  // namespace tvx::testing
