// A console for tests: keys are fed in (also from another thread while a job runs) and taken in
// order; the screen is read back from the model. Its key wait handle is a WaitSignal that is
// ready exactly while keys are queued, so waits that poll the serial port and the keyboard
// together wake when a test feeds a key.
//
// Type-ahead: every key fed so far counts as typed already, so DiscardTypeAhead drops all the
// queued keys (a script that feeds "q1" at once loses the "1"); keys fed after it are kept. A
// script that means a key to be pressed later feeds it later (from OnKeyWanted or a thread).
//
// A job that waits for a key nobody feeds does not hang the test: once it has spent the starve
// limit (10 s by default) blocked with an empty queue, the console hands it an Esc and records
// that it starved; should it starve a second time, AwaitKey throws std::runtime_error so that
// the test fails instead of looping.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "console/stop_request.h"
#include "support/wait_signal.h"

namespace tvx::testing {

class ScriptedConsole final : public console::Console {
 public:
  ScriptedConsole();
  ~ScriptedConsole() override;
  ScriptedConsole(const ScriptedConsole&) = delete;
  ScriptedConsole& operator=(const ScriptedConsole&) = delete;

  /// Queues every byte of `chars` as one ordinary key ("12\r" is three keys).
  void Feed(std::string_view chars);
  /// Queues whole key texts, e.g. {"\r", std::string("\0;", 2)} for Enter then F1.
  void FeedKeys(std::initializer_list<std::string> keys);
  void FeedKeys(const std::vector<std::string>& keys);
  void FeedKey(std::string key);

  /// Called (on the job's thread, without locks held) whenever the job is about to block for a
  /// key with an empty queue: lets a test answer a prompt once it sees it on the screen.
  void OnKeyWanted(std::function<void(ScriptedConsole&)> hook);
  /// Total blocked time with an empty queue after which an Esc is handed out.
  void SetStarveLimitMs(int ms);

  std::string ReadKey() override;
  bool KeyWaiting() override;
  void Beep() override;
  bool Present(bool force) override;
  void AwaitKey(int timeout_ms) override;
  console::NativeWaitHandle KeyWaitHandle() const override;
  /// This console's own stop request (the process's is left alone), set by RequestStop.
  bool StopRequested() const override { return stop_.Requested(); }
  /// A stop request for `signal_number`, as a signal would make one; ends a key wait at once.
  /// Any thread.
  void RequestStop(int signal_number);
  /// Drops every queued key (see above).
  void DiscardTypeAhead() override;

  int Beeps() const;
  int Presents() const;
  std::size_t KeysLeft() const;
  /// Every key handed to the program so far, in order.
  std::vector<std::string> KeysTaken() const;
  /// Every key DiscardTypeAhead dropped, in order.
  std::vector<std::string> KeysDiscarded() const;
  /// True once an Esc had to be handed out because no key came.
  bool Starved() const;

  /// The 80 characters of a row (1-based).
  std::string RowText(int row) const { return screen_.RowText(row); }
  /// RowText without trailing blanks.
  std::string RowTrimmed(int row) const;
  int Foreground(int row, int column) const;
  int Background(int row, int column) const;
  /// Whether cells `first`..`last` of `row` all have these colours.
  bool RowColours(int row, int first, int last, int fg, int bg) const;

 private:
  void PushLocked(std::string key);

  mutable std::mutex mutex_;
  std::condition_variable key_fed_;
  std::deque<std::string> keys_;
  std::vector<std::string> taken_;
  std::vector<std::string> discarded_;
  std::function<void(ScriptedConsole&)> hook_;
  WaitSignal key_signal_;
  int beeps_ = 0;
  int presents_ = 0;
  int starve_limit_ms_ = 10000;
  std::int64_t blocked_ms_ = 0;  // blocked with an empty queue since the last key
  bool starved_ = false;
  console::StopRequest stop_;
};

}  // namespace tvx::testing
