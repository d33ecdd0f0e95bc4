// Finding a terminal session's radio again after its line died (the adapter pulled, the radio
// switched off or restarted): the session stops sending, closes the port and tries the same
// device every kRecheckMs on the run's clock until it opens again with the terminal profile.
// The session says what happens and keeps reading keys meanwhile, so that its quit key still
// leaves at once:
//
//   Reconnect replug(stable_name);              // the name the device comes back under
//   ... the line is found dead:  replug.Lose(ctx, link);   say the radio is gone
//   while (replug.Waiting()) {
//     if (replug.TryNow(ctx, link)) ...         // it is back, the writer runs: say so, go on
//     else wait for a key up to replug.MsToNextTry(ctx.clock) ms (the quit key leaves)
//   }
#pragma once

#include <string>

#include "job/clock.h"
#include "job/run_context.h"
#include "terminal/terminal_link.h"

namespace tvx::terminal {

class Reconnect {
 public:
  /// How often a device that is gone is looked for.
  static constexpr int kRecheckMs = 300;

  /// `device`: the name the same device comes back under: a stable one (such as its
  /// /dev/serial/by-id link), else the name first opened, whose symbolic links are followed
  /// again at every try. Empty: nothing to wait for (Lose only closes the port).
  explicit Reconnect(std::string device) : device_(std::move(device)) {}

  /// The line died: stops the writer (unsent bytes dropped) and closes the port (its code is
  /// not kept: the close of a dead port says nothing new), then waits; the first try comes
  /// kRecheckMs later, once the system has let go of the old device. Main thread.
  void Lose(job::RunContext& ctx, TerminalLink& link);
  bool Waiting() const { return waiting_; }
  /// While waiting and once the time of the next try has come: opens the device again
  /// (TerminalReopen). True once it is back (writer running, waiting over); else the next try is
  /// kRecheckMs on. Reports nothing. Blocks only for the open.
  bool TryNow(job::RunContext& ctx, TerminalLink& link);
  /// Milliseconds until the next try is due, at least 1: how long the caller may sleep.
  int MsToNextTry(job::Clock& clock) const;
  const std::string& Device() const { return device_; }

 private:
  std::string device_;
  bool waiting_ = false;
  double next_try_ = 0.0;  ///< the run's clock, seconds
};

}  // namespace tvx::terminal
