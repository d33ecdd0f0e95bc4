// The plain terminal on a POSIX terminal: standard input without canonical mode, echo or flow
// control (signals stay: Ctrl-C is a stop request), output processing kept so a new line is a
// carriage return and a line feed. The restore state and signal handlers are the full-screen
// console's own (posix_terminal_signals.h); only one of the two exists at a time.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "console/key_decoder.h"
#include "console/plain_terminal.h"
#include "console/posix_terminal_signals.h"
#include "console/stop_request.h"

namespace tvx::console {
namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class PosixPlainTerminal final : public PlainTerminal {
 public:
  PosixPlainTerminal() = default;
  ~PosixPlainTerminal() override {
    tcsetattr(STDIN_FILENO, TCSADRAIN, &posix::g_restore.saved);
    posix::g_restore.armed = 0;
    SetStopHooks(nullptr, nullptr);
    handlers_.Uninstall();
    close(posix::g_restore.wake_read);
    close(posix::g_restore.wake_write);
    posix::g_restore.wake_read = posix::g_restore.wake_write = -1;
  }

  bool Start(std::string& error) {
    if (tcgetattr(STDIN_FILENO, &posix::g_restore.saved) != 0) {
      error = "standard input is not a terminal";
      return false;
    }
    int wake[2];
    if (pipe(wake) != 0) {
      error = std::string("no pipe: ") + std::strerror(errno);
      return false;
    }
    fcntl(wake[0], F_SETFL, O_NONBLOCK);
    posix::g_restore.wake_read = wake[0];
    posix::g_restore.wake_write = wake[1];
    posix::g_restore.sequence_length = 0;
    InstallStopHandlers();
    SetStopHooks(posix::Wake, posix::RestoreTerminalFromSignal);
    handlers_.Install();
    termios raw = posix::g_restore.saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    posix::g_restore.program = raw;
    posix::g_restore.armed = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    return true;
  }

  std::string ReadKey() override {
    Pump();
    return decoder_.Take(NowMs());
  }
  int MsUntilKey() const override { return decoder_.MsUntilTimeout(NowMs()); }
  void Write(std::string_view text) override {
    while (!text.empty()) {
      const ssize_t n = write(STDOUT_FILENO, text.data(), text.size());
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        return;  // a closed terminal: nothing more to show
      }
      text.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  NativeWaitHandle KeyWaitHandle() const override { return STDIN_FILENO; }
  void DiscardTypeAhead() override {
    tcflush(STDIN_FILENO, TCIFLUSH);
    decoder_.Clear();
  }

 private:
  // Feeds the decoder with what standard input holds now.
  void Pump() {
    char wake[64];
    while (read(posix::g_restore.wake_read, wake, sizeof wake) > 0) {
    }
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    while (poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN) != 0) {
      unsigned char bytes[256];
      const ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
      if (n <= 0) return;
      const std::int64_t now = NowMs();
      for (ssize_t i = 0; i < n; ++i) decoder_.FeedByte(bytes[i], now);
    }
  }

  KeyDecoder decoder_;
  posix::TerminalSignalHandlers handlers_;
};

}  // namespace

std::unique_ptr<PlainTerminal> OpenPlainTerminal(std::string& error) {
  if (isatty(STDIN_FILENO) != 1) {
    error = "standard input is not a terminal";
    return nullptr;
  }
  auto terminal = std::make_unique<PosixPlainTerminal>();
  if (!terminal->Start(error)) return nullptr;
  return terminal;
}

}  // namespace tvx::console
