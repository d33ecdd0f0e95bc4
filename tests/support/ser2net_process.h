// ser2net serving one device on the loopback address, as a process of its own, for the tests
// and benchmarks that reach the simulated radio through a serial server (rfc2217://). Header
// only: the benchmarks, which link no test support, take it too.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace tvx::testing {

class Ser2netProcess {
 public:
  /// Where ser2net is installed; empty when it is not.
  static std::string Program() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/local/sbin/ser2net", "/usr/bin/ser2net"}) {
      if (access(path, X_OK) == 0) return path;
    }
    return {};
  }

  /// Starts ser2net in front of `device` at a free port and waits (up to 5 s) until it listens.
  explicit Ser2netProcess(const std::string& device) {
    program_ = Program();
    if (program_.empty()) return;
    port_ = FreePort();
    config_ =
        "/tmp/tvx-ser2net-" + std::to_string(getpid()) + "-" + std::to_string(port_) + ".yaml";
    // Each answer of the radio leaves at once instead of after a wait for more characters.
    std::ofstream(config_) << "connection: &radio\n"
                           << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port_ << "\n"
                           << "  connector: serialdev," << device << ",19200n81,local\n"
                           << "  options:\n    kickolduser: false\n    chardelay: false\n";
    pid_ = fork();
    if (pid_ == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      execl(program_.c_str(), program_.c_str(), "-n", "-u", "-c", config_.c_str(), nullptr);
      _exit(127);
    }
    for (int i = 0; i < 500 && !Listening(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Ser2netProcess() {
    Kill(SIGTERM);
    if (!config_.empty()) std::remove(config_.c_str());
  }
  Ser2netProcess(const Ser2netProcess&) = delete;
  Ser2netProcess& operator=(const Ser2netProcess&) = delete;

  /// Whether ser2net is installed and listening.
  bool Up() const { return pid_ > 0 && Listening(); }
  std::string PortName() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
  /// Ends the server with `signal` (SIGKILL: the connection drops without a word) and waits.
  void Kill(int signal) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  /// A TCP port on the loopback address that nothing listens on now.

  static int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
  }

 private:
  // From /proc, without connecting (a connection would have the server open the device).
  bool Listening() const {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port_);
    std::ifstream table("/proc/net/tcp");
    for (std::string line; std::getline(table, line);) {
      std::istringstream fields(line);
      std::string slot, address, remote, state;
      fields >> slot >> address >> remote >> state;
      if (address == local && state == "0A") return true;
    }
    return false;
  }

  std::string program_;
  std::string config_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace tvx::testing
