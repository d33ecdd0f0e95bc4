// torvandrix-radio-sim: a simulated radio on a pseudo-terminal (see --help).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "radio_sim/options.h"
#include "radio_sim/posix_pty_radio.h"

namespace {

int g_wake_fd = -1;

void OnSignal(int) {
  const char byte = 's';
  [[maybe_unused]] ssize_t n = ::write(g_wake_fd, &byte, 1);
}

/// Makes `link` point at `target`, replacing an older symbolic link but never another file.
std::string PlaceLink(const std::string& link, const std::string& target) {
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) return link + " exists and is not a symbolic link";
    if (::unlink(link.c_str()) != 0) return link + ": " + std::strerror(errno);
  }
  if (::symlink(target.c_str(), link.c_str()) != 0) return link + ": " + std::strerror(errno);
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  tvx::sim::SimOptions options;
  if (std::string error = tvx::sim::ParseOptions(args, options); !error.empty()) {
    std::fprintf(stderr, "torvandrix-radio-sim: %s\nTry torvandrix-radio-sim --help\n",
                 error.c_str());
    return 2;
  }
  if (options.help || options.list_faults) {
    const std::string text = options.help ? tvx::sim::UsageText() : tvx::sim::FaultListText();
    std::fputs(text.c_str(), stdout);
    return 0;
  }

  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("torvandrix-radio-sim: pipe");
    return 1;
  }
  g_wake_fd = wake[1];
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  tvx::sim::PtyRadio radio(options.config);
  const bool verbose = options.verbose;
  const std::string link = options.link;
  radio.OnEvent([verbose, &radio, &link](const tvx::sim::RadioEvent& e) {
    if (verbose) std::fprintf(stderr, "radio: %s\n", tvx::sim::Describe(e).c_str());
    if (e.kind == tvx::sim::EventKind::kHangUp) {
      if (e.value == 0) {
        OnSignal(0);  // gone for good: the program ends
      } else if (!link.empty()) {
        ::unlink(link.c_str());  // pulled: its name goes with it until it is back
      }
    }
    if (e.kind == tvx::sim::EventKind::kComeBack) {
      const std::string path = radio.DevicePath();
      std::string error = link.empty() ? std::string() : PlaceLink(link, path);
      std::fprintf(stdout, "radio: back on %s\n", path.c_str());
      if (!error.empty()) std::fprintf(stderr, "torvandrix-radio-sim: %s\n", error.c_str());
      std::fflush(stdout);
    }
  });
  std::string error = radio.Start();
  if (error.empty() && !options.link.empty()) error = PlaceLink(options.link, radio.DevicePath());
  if (!error.empty()) {
    std::fprintf(stderr, "torvandrix-radio-sim: %s\n", error.c_str());
    radio.Stop();
    return 1;
  }
  // Once the path is out, the radio and the link are ready.
  std::printf("%s\n", radio.DevicePath().c_str());
  std::fflush(stdout);

  // Until a signal or a hang-up, or with --until-eof the end of standard input.
  for (;;) {
    pollfd fds[2] = {{wake[0], POLLIN, 0}, {options.until_eof ? 0 : -1, POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[0].revents != 0) break;
    char buffer[256];
    if (fds[1].revents != 0 && ::read(0, buffer, sizeof buffer) <= 0) break;
  }

  const bool hung_up = radio.HungUp();
  radio.Stop();
  if (!options.link.empty()) ::unlink(options.link.c_str());
  if (hung_up) std::printf("radio: hung up the line\n");
  std::fputs(tvx::sim::SummaryText(radio.Counters()).c_str(), stdout);
  if (const auto snapshot = radio.Snapshot(); snapshot->counters.direct.words_checked_ok > 0) {
    const tvx::sim::ExpectedImage image(options.config.image);
    std::fputs(tvx::sim::MemoryText(tvx::sim::CompareMemory(image, snapshot->memory)).c_str(),
               stdout);
  }
  std::fflush(stdout);
  return 0;
}
