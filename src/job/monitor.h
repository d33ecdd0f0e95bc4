// What a job tells besides its screen: the phases it goes through, how far it got, the messages
// an operator must read and the prompts it is about to wait at. The menu's full-screen console
// needs none of it (the screen says it all); the line-mode console of the scripted commands
// draws its progress bar and its lines from it and answers the prompts with its retry policy.
// Every call returns at once and may be ignored; the job behaves the same whoever listens.
#pragma once

#include <cstdint>
#include <string_view>

namespace tvx::job {

/// The kind of key a prompt waits for next.
enum class PromptKind {
  kRetry,     ///< Escape gives up; any other key sends the word again
  kContinue,  ///< Escape gives up; any other key goes on with the next word
};

class Monitor {
 public:
  virtual ~Monitor() = default;
  /// A new phase of the job begins; `name` says what it does, for a person.
  virtual void Phase(std::string_view name) { (void)name; }
  /// `done` of `total` units (words, frames) of the current phase are through.
  virtual void Progress(std::int64_t done, std::int64_t total) {
    (void)done;
    (void)total;
  }
  /// A text the operator must read: a refusal, a failure, the radio's serial number.
  virtual void Message(std::string_view text) { (void)text; }
  /// The job is about to wait for a key at a prompt that shows `text`.
  virtual void Prompt(PromptKind kind, std::string_view text) {
    (void)kind;
    (void)text;
  }
};

/// The monitor that ignores everything (the run context's default).
Monitor& SilentMonitor();

}  // namespace tvx::job
