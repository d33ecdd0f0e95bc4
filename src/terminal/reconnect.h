// Finding a terminal session's radio again after its line died (the adapter pulled, the radio
// switched off or restarted): once the session has stopped sending and closed its port, the same
// device is tried every kRecheckMs on the session's clock until it opens again. The session says
// what happens and keeps reading keys meanwhile, so that its quit key still leaves at once:
//
//   Reconnect replug(clock, stable_name);       // the name the device comes back under
//   ... the line is found dead: stop the writer, close the port, replug.Lose(); say it is gone
//   while (replug.Waiting()) {
//     if (replug.TryNow(open_again)) ...        // open_again(device) opened it: say so, go on
//     else wait for a key up to replug.MsToNextTry() ms (the quit key leaves)
//   }
//
// The Radio Setup Screen opens with TerminalReopen; a line-mode session with its own link
// passes its own open (same profile, same rate).
#pragma once

#include <functional>
#include <string>

#include "job/clock.h"

namespace tvx::terminal {

class Reconnect {
 public:
  /// How often a device that is gone is looked for.
  static constexpr int kRecheckMs = 300;
  /// Opens `device` again with the session's profile and starts its writer; true when it did.
  /// Must report nothing (a device not back yet is no error) and block only for the open.
  using OpenAgain = std::function<bool(const std::string& device)>;

  /// `device`: the name the same device comes back under: a stable one (such as its
  /// /dev/serial/by-id link), else the name first opened, whose symbolic links are followed
  /// again at every try. Empty: nothing to wait for (Lose does not wait). `clock` must outlive
  /// this object.
  Reconnect(job::Clock& clock, std::string device) : clock_(clock), device_(std::move(device)) {}

  /// The line died and the port is closed: waits (when there is a device), the first try
  /// kRecheckMs from now, once the system has let go of the old device.
  void Lose();
  bool Waiting() const { return waiting_; }
  /// While waiting and once the next try is due: `open_again(Device())`. True once it opened
  /// (waiting over); else the next try is kRecheckMs on. False at once when not due.
  bool TryNow(const OpenAgain& open_again);
  /// Milliseconds until the next try is due, from 1 to kRecheckMs: how long the caller may sleep.
  int MsToNextTry() const;
  const std::string& Device() const { return device_; }

 private:
  job::Clock& clock_;
  std::string device_;
  bool waiting_ = false;
  double next_try_ = 0.0;  ///< the clock's seconds
};

}  // namespace tvx::terminal
