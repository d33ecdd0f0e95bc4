#include "terminal/setup_run.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <span>

#include "console/stop_request.h"
#include "job/error_state.h"
#include "job/line.h"
#include "terminal/radio_text.h"
#include "terminal/secret_mask.h"

namespace tvx::terminal {
namespace {

// A send the line cannot take within this long has failed (the line is as good as dead).
constexpr std::uint32_t kSendTimeoutMs = 2000;
constexpr std::size_t kReadChunk = 1024;

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool ContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// One run: the port, the matcher and what the radio said so far.
class Session {
 public:
  Session(const SetupPlan& plan, const SetupParts& parts, SetupListener& listener)
      : plan_(plan), parts_(parts), listener_(listener), line_(parts.port, errors_) {}

  SetupResult Run();

 private:
  enum class Waited { kMatched, kDeadline, kEnded };

  // Lets the radio talk until `deadline` (clock seconds; infinity: none), or until the
  // matcher's expectation is met when it waits. kEnded: result_ says why.
  Waited Listen(double deadline);
  // Reads what is waiting; false when the run ended (dead line).
  bool Receive(bool& got);
  bool Send(const Step& step);
  void Take(std::optional<Match> match);
  void AddTail(std::string_view text);
  void End(SetupOutcome outcome, std::string detail = {});
  SessionLog::Time Now() const { return std::chrono::system_clock::now(); }

  const SetupPlan& plan_;
  const SetupParts& parts_;
  SetupListener& listener_;
  job::ErrorState errors_;
  job::Line line_;
  TextMatcher matcher_;
  SecretMask mask_;
  std::optional<Match> match_;
  SetupResult result_;
  double start_ = 0;
  double last_byte_ = -1;  // clock seconds of the last byte; -1: none yet
  bool settled_ = true;    // the quiet after the last byte was acted on
  std::size_t index_ = 0;
};

SetupResult Session::Run() {
  start_ = parts_.clock.Seconds();
  std::vector<Pattern> patterns;
  for (std::size_t i = 0; i < plan_.steps.size(); ++i) {
    patterns.emplace_back(plan_.steps[i].kind == StepKind::kExpect ? plan_.steps[i].text : "");
    if (!patterns.back().Ok()) {
      result_.step = i;
      End(SetupOutcome::kBadPattern, patterns.back().Error());
      return result_;
    }
  }
  const job::OpenResult opened = line_.Open(plan_.device, job::Profile::kTerminal, plan_.baud);
  if (!opened.ok()) {
    line_.Close();
    End(SetupOutcome::kPortNotOpened, opened.reason);
    return result_;
  }
  line_.ZeroTimeouts();
  line_.BoundWrites(kSendTimeoutMs);

  bool ended = false;
  for (index_ = 0; index_ < plan_.steps.size() && !ended; ++index_) {
    const Step& step = plan_.steps[index_];
    listener_.Step(index_);
    const double now = parts_.clock.Seconds();
    switch (step.kind) {
      case StepKind::kSend:
      case StepKind::kSendSecret:
        ended = !Send(step);
        break;
      case StepKind::kWait:
        ended = Listen(now + step.wait_ms / 1000.0) == Waited::kEnded;
        break;
      case StepKind::kExpect: {
        Take(matcher_.Expect(patterns[index_]));
        if (match_) break;
        settled_ = last_byte_ < 0;  // text that waited for more may settle now
        const double deadline = plan_.timeout_seconds > 0 ? now + plan_.timeout_seconds
                                                          : std::numeric_limits<double>::infinity();
        const Waited waited = Listen(deadline);
        ended = waited != Waited::kMatched;
        if (waited == Waited::kDeadline) {
          matcher_.Cancel();
          End(SetupOutcome::kTimedOut);
        }
        break;
      }
    }
    if (!ended && step.kind == StepKind::kExpect) match_.reset();
  }
  if (!ended) {
    // What the radio still says after the last step is part of the session.
    bool got = false;
    if (!Receive(got)) ended = true;
  }
  if (!ended) {
    result_.step = plan_.steps.size();
    End(SetupOutcome::kComplete);
  }
  line_.Close();
  return result_;
}

void Session::End(SetupOutcome outcome, std::string detail) {
  if (outcome != SetupOutcome::kComplete) result_.step = index_;
  result_.outcome = outcome;
  result_.detail = std::move(detail);
  const std::string rest = mask_.Flush();
  if (!rest.empty()) {
    listener_.Text(rest);
    AddTail(rest);
  }
  if (parts_.session_log != nullptr) parts_.session_log->Flush();
  result_.seconds = parts_.clock.Seconds() - start_;
}

void Session::Take(std::optional<Match> match) {
  if (!match) return;
  ExpectMatch taken;
  taken.step = index_;
  taken.seconds = match->seconds - start_;
  for (Capture& capture : match->captures) {
    capture.value = mask_.Masked(capture.value);
    taken.captures.push_back(std::move(capture));
  }
  result_.matches.push_back(std::move(taken));
  match_ = std::move(match);
}

bool Session::Send(const Step& step) {
  if (parts_.session_log != nullptr) {
    if (step.kind == StepKind::kSendSecret) {
      parts_.session_log->SentSecret(step.text, Now());
    } else {
      parts_.session_log->Sent(Bytes(step.text), Now());
    }
  }
  if (step.kind == StepKind::kSendSecret) mask_.Add(step.text);
  const job::LineResult sent = line_.Send(Bytes(step.text));
  if (sent.ok()) return true;
  End(SetupOutcome::kLineDead, line_.FailureText());
  return false;
}

bool Session::Receive(bool& got) {
  got = false;
  std::size_t waiting = line_.Waiting().count;
  if (line_.Dead()) {
    End(SetupOutcome::kLineDead, line_.FailureText());
    return false;
  }
  std::array<std::uint8_t, kReadChunk> bytes;
  while (waiting > 0) {
    const std::size_t count =
        line_.Receive(std::span(bytes.data(), std::min(waiting, kReadChunk))).count;
    if (count == 0) break;
    waiting -= count;
    got = true;
    const double at = parts_.clock.Seconds();
    last_byte_ = at;
    settled_ = false;
    const std::span<const std::uint8_t> chunk(bytes.data(), count);
    if (parts_.session_log != nullptr) parts_.session_log->Received(chunk, Now());
    const std::string text = RadioText(chunk);
    if (text.empty()) continue;
    const std::string shown = mask_.Push(text);
    if (!shown.empty()) {
      listener_.Text(shown);
      AddTail(shown);
    }
    // Text after a match waits in the matcher for the next expectation.
    Take(matcher_.Feed(text, at));
  }
  errors_.code =
      serial::kNoError;  // a line error (57) is in the session log's bytes; the run goes on
  return true;
}

Session::Waited Session::Listen(double deadline) {
  const bool expecting = matcher_.Waiting();
  for (;;) {
    if (parts_.stop && parts_.stop()) {
      End(SetupOutcome::kInterrupted);
      return Waited::kEnded;
    }
    bool got = false;
    if (!Receive(got)) return Waited::kEnded;
    if (expecting && match_) return Waited::kMatched;
    if (got) continue;  // the radio is talking: look again before sleeping

    const double now = parts_.clock.Seconds();
    const bool unsettled = !settled_;
    const double settle_at = last_byte_ + kSettleMs / 1000.0;
    if (unsettled && now >= settle_at) {
      // The radio fell quiet: a match that waited for more text is taken as it stands.
      settled_ = true;
      if (parts_.session_log != nullptr) parts_.session_log->Flush();
      if (expecting) {
        Take(matcher_.Settle());
        if (match_) return Waited::kMatched;
      }
      continue;
    }
    if (now >= deadline) {
      if (expecting) {
        Take(matcher_.Settle());
        if (match_) return Waited::kMatched;
      }
      return Waited::kDeadline;
    }
    double wait_s = std::min(deadline - now, console::kStopCheckMs / 1000.0);
    if (unsettled) wait_s = std::min(wait_s, settle_at - now);
    line_.AwaitActivity(parts_.wake, std::max(1, static_cast<int>(std::ceil(wait_s * 1000.0))));
  }
}

void Session::AddTail(std::string_view text) {
  result_.tail += text;
  // Keep the last kTailCharacters characters (UTF-8: count the bytes that start one).
  std::size_t characters = 0;
  std::size_t cut = result_.tail.size();
  while (cut > 0 && characters < kTailCharacters) {
    --cut;
    if (!ContinuationByte(result_.tail[cut])) ++characters;
  }
  if (cut > 0) result_.tail.erase(0, cut);
}

}  // namespace

SetupResult RunSetupScript(const SetupPlan& plan, const SetupParts& parts,
                           SetupListener& listener) {
  return Session(plan, parts, listener).Run();
}

}  // namespace tvx::terminal
