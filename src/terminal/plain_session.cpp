#include "terminal/plain_session.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "console/stop_request.h"
#include "terminal/radio_setup.h"
#include "terminal/radio_text.h"

namespace tvx::terminal {
namespace {

constexpr std::size_t kMaxKeyBytes = 2;
// While the ring has no room for a key, the port is looked at again this often.
constexpr int kRoomWaitMs = 5;
// A line of the session log left open this long (the radio's prompt) is written.
constexpr auto kQuietLine = std::chrono::milliseconds(30);

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

PlainSessionEnd RunPlainSession(const PlainSessionParts& parts) {
  SetupLink& link = parts.link;
  console::PlainTerminal& terminal = parts.terminal;
  std::array<std::uint8_t, 1024> buffer;
  bool dead = false;
  for (;;) {
    if (parts.stop && parts.stop()) return PlainSessionEnd::kStopped;
    const auto now = std::chrono::system_clock::now();
    bool got = false;
    if (!dead) {
      const std::size_t n = link.Receive(buffer, dead);
      if (n > 0) {
        got = true;
        const std::span<const std::uint8_t> bytes(buffer.data(), n);
        if (parts.session_log != nullptr) parts.session_log->Received(bytes, now);
        terminal.Write(RadioText(bytes));
      }
      if (dead) {
        const std::string why = link.FailureText();
        const bool wait = parts.replug != nullptr && parts.open_again;
        if (wait) {
          link.Close();
          parts.replug->Lose();
        }
        terminal.Write(
            "\n[the radio is gone: the line died" + (why.empty() ? "" : " (" + why + ")") + "]\n" +
            (wait ? "[waiting for it to come back; Q or q leaves]\n" : "[Q or q leaves]\n"));
      }
    } else if (parts.replug != nullptr && parts.replug->Waiting() &&
               parts.replug->TryNow(parts.open_again)) {
      dead = false;
      terminal.Write("[the radio is back]\n");
      continue;
    }
    // The line is behind by a whole ring: keys wait in the user's terminal, none is lost.
    if (!dead && link.Room() < kMaxKeyBytes) {
      if (!got) link.Await(console::kNoWaitHandle, kRoomWaitMs);
      continue;
    }
    const std::string key = terminal.ReadKey();
    if (key == "Q" || key == "q") {
      terminal.DiscardTypeAhead();  // meant for the radio, not for the shell
      return PlainSessionEnd::kQuit;
    }
    if (!key.empty()) {
      if (dead) continue;  // no line to take it
      const std::string bytes = KeyBytes(key);
      link.Send(bytes);
      if (parts.session_log != nullptr) parts.session_log->Sent(Bytes(bytes), now);
      continue;
    }
    if (got) continue;
    int wait = console::kStopCheckMs;
    if (const int ms = terminal.MsUntilKey(); ms >= 0) wait = std::min(wait, ms);
    if (dead && parts.replug != nullptr && parts.replug->Waiting()) {
      wait = std::min(wait, parts.replug->MsToNextTry());
    }
    if (SessionLog* log = parts.session_log; log != nullptr && log->LineOpen()) {
      const auto open_for = now - log->OpenSince();
      if (open_for >= kQuietLine) {
        log->Flush();
      } else {
        wait = std::min<int>(
            wait, static_cast<int>(
                      std::chrono::ceil<std::chrono::milliseconds>(kQuietLine - open_for).count()));
      }
    }
    link.Await(terminal.KeyWaitHandle(), std::max(wait, 1));
  }
}

}  // namespace tvx::terminal
