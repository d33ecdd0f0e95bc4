// The console of the scripted commands: no screen, no keyboard. The job draws on the screen
// model as ever, but nobody sees it; what a person reads comes from the job's monitor calls,
// written as lines: on a terminal one progress bar (units done, rate, time left) redrawn in
// place with a carriage return, otherwise one plain line per phase. Nothing else is written:
// no escape sequences, whatever the output is.
//
// The keyboard is a script: the answers of the job's questions are typed in advance, and the
// prompts are answered by the retry policy: a prompt that offers a retry gets Enter up to
// `retries` times per unit of progress (a word), then Escape; a prompt that goes on gets Enter.
// A job that waits for a key nobody announced (the closing "Hit any key") gets Enter.
//
// A radio that stops answering would hold a wait for ever (the waits have no time-out of their
// own; a person ends them with a key). With a silence limit the console does what that person
// does: after `silence_seconds` without progress (no new phase, no progress report, no prompt)
// it presses Enter, which ends the identity wait and opens the retry prompt of a transfer wait
// (whose retries the retry policy then counts); should the silence last another limit, Enter did
// nothing there (the erase, checksum and read-back waits drop it) and it presses Escape, which
// leaves every wait. Each press is told in one line. The key is due at a time, not polled for:
// KeyDueInMs bounds the job's sleep on the port and the keyboard.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "app/line_report.h"
#include "console/console.h"
#include "job/clock.h"
#include "job/monitor.h"

namespace tvx::app {

class LineConsole final : public console::Console, public job::Monitor {
 public:
  /// Writes to `out`; `terminal` chooses the progress bar. `unit` names what the progress
  /// counts ("words", "frames").
  /// `silence_seconds` is the silence limit (0: none, waits last until the radio answers).
  LineConsole(std::FILE* out, bool terminal, job::Clock& clock, std::int32_t retries,
              std::string unit, double silence_seconds = 0.0);

  /// Types each answer followed by Enter, in order, for the job's questions.
  void TypeLines(const std::vector<std::string>& lines);
  /// Writes one line of its own (the summary), ending the progress bar first.
  void WriteLine(std::string_view text);
  /// Retry prompts answered with Escape because the retries were spent.
  int RetriesSpent() const { return gave_up_; }

  // console::Console
  std::string ReadKey() override;
  bool KeyWaiting() override;
  void Beep() override {}
  bool Present(bool) override { return true; }
  /// Returns at once with a key queued; with none and no limit, queues Enter (the job waits
  /// for any key); else sleeps `timeout_ms`, or until the silence key is due if that is sooner.
  void AwaitKey(int timeout_ms) override;
  console::NativeWaitHandle KeyWaitHandle() const override { return console::kNoWaitHandle; }
  int KeyDueInMs() const override;

  // job::Monitor
  void Phase(std::string_view name) override;
  void Progress(std::int64_t done, std::int64_t total) override;
  void Message(std::string_view text) override;
  void Prompt(job::PromptKind kind, std::string_view text) override;

 private:
  void EndBar();
  void DrawBar(std::int64_t done, std::int64_t total);
  void Put(std::string_view text);
  // Progress was made: the silence starts again.
  void NoteProgress();
  // When the next silence key is due, in clock seconds; negative when none is.
  double SilenceKeyDue() const;
  // Queues the silence key if it is due, with its line.
  void PressKeyIfSilent();

  std::FILE* out_;
  bool terminal_;
  job::Clock& clock_;
  std::int32_t retries_;
  std::string unit_;
  std::deque<std::string> keys_;
  std::int32_t retries_used_ = 0;  // retry prompts since the last unit of progress
  int gave_up_ = 0;
  std::int64_t last_done_ = -1;
  double phase_start_ = 0.0;
  double last_draw_ = -1.0;
  bool bar_shown_ = false;
  double silence_limit_;       // seconds; 0: none
  double quiet_since_ = -1.0;  // clock seconds of the last progress; negative before the first
  int silence_keys_ = 0;       // keys pressed since then
  std::string phase_;
};

}  // namespace tvx::app
