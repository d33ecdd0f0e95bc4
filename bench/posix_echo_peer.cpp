// echo-peer: the far end of the bare word exchange for the Windows benchmark under wine.
// Makes a pseudo-terminal, puts a symbolic link to its device at the given path, prints the
// device, and answers every word as the radio would at once (the address frame's two bytes
// echoed, the data frame answered with its middle byte) until the line closes or it is stopped.
//   usage: echo-peer <link path>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>

#include "posix_fd_io.h"

using tvx::bench::ReadExactly;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: echo-peer <link path>\n");
    return 2;
  }
  int master = -1;
  int slave = -1;
  char name[256];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return 1;
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);
  unlink(argv[1]);
  if (symlink(name, argv[1]) != 0) return 1;
  std::printf("%s\n", name);
  std::fflush(stdout);
  // The slave stays open here too, so the master sees no hang-up between the PC's opens.
  std::array<std::uint8_t, 3> frame{};
  for (;;) {
    if (!ReadExactly(master, frame.data(), 3)) break;
    if (write(master, frame.data() + 1, 2) != 2) break;
    if (!ReadExactly(master, frame.data(), 3)) break;
    if (write(master, frame.data() + 1, 1) != 1) break;
  }
  unlink(argv[1]);
  return 0;
}
