#include "radio_sim/posix_pty_radio.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tvx::sim {

namespace {

std::uint32_t RateOf(speed_t speed) {
  struct Rate {
    speed_t speed;
    std::uint32_t bits;
  };
  static constexpr Rate kRates[] = {
      {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},     {B150, 150},
      {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},   {B1800, 1800},
      {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200}, {B38400, 38400},
      {B57600, 57600},   {B115200, 115200}, {B230400, 230400},
#ifdef B460800
      {B460800, 460800},
#endif
#ifdef B921600
      {B921600, 921600},
#endif
  };
  for (const Rate& r : kRates) {
    if (r.speed == speed) return r.bits;
  }
  return 0;
}

LineState ReadLineState(int fd) {
  LineState line;
  termios t{};
  if (fd < 0 || tcgetattr(fd, &t) != 0) return line;
  line.known = true;
  line.rate = RateOf(cfgetospeed(&t));
  const tcflag_t size = t.c_cflag & CSIZE;
  line.data_bits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
  line.parity = (t.c_cflag & PARENB) != 0;
  line.stop_bits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
#ifdef CRTSCTS
  line.rts_cts = (t.c_cflag & CRTSCTS) != 0;
#endif
  // Only what changes or swallows bytes on the way: echo, line editing, signal characters,
  // software flow control, CR/LF translation, stripping, output processing.
  line.raw = (t.c_lflag & (ICANON | ECHO | ISIG)) == 0 &&
             (t.c_iflag & (IXON | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK)) == 0 &&
             (t.c_oflag & OPOST) == 0;
  return line;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The last stretch before a release is waited out on the clock: a timer wakes too late by tens
// of microseconds, several times a word at high line rates.
constexpr double kSpinBeforeRelease = 100e-6;

// The least time a byte written on `from` takes until a reader blocked in poll() on `to` has it
// (seconds, the least of a few tries; 0 when it cannot be measured).
double LeastTransit(int from, int to) {
  double least = 0;
  for (int i = 0; i < 24; ++i) {
    const std::uint8_t b = 0;
    const auto start = std::chrono::steady_clock::now();
    if (::write(from, &b, 1) != 1) return 0;
    pollfd p{to, POLLIN, 0};
    if (::poll(&p, 1, 100) != 1) return 0;
    std::uint8_t got = 0;
    if (::read(to, &got, 1) != 1) return 0;
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    least = i == 0 ? took : std::min(least, took);
  }
  return least;
}

}  // namespace

void PtyRadio::OnEvent(std::function<void(const RadioEvent&)> listener) {
  listener_ = std::move(listener);
}

std::string PtyRadio::OpenPty() {
  auto fail = [this](const char* what) {
    std::string text = std::string(what) + ": " + std::strerror(errno);
    CloseFd(master_fd_);
    CloseFd(slave_fd_);
    return text;
  };
  master_fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_fd_ < 0) return fail("posix_openpt");
  if (grantpt(master_fd_) != 0) return fail("grantpt");
  if (unlockpt(master_fd_) != 0) return fail("unlockpt");
  const char* name = ptsname(master_fd_);
  if (name == nullptr) return fail("ptsname");
  const std::string path = name;
  slave_fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_fd_ < 0) return fail("open slave");
  termios t{};
  if (tcgetattr(slave_fd_, &t) != 0) return fail("tcgetattr");
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  if (tcsetattr(slave_fd_, TCSANOW, &t) != 0) return fail("tcsetattr");
  if (radio_.Config().line_time) {
    // What the pseudo-terminal itself takes to hand a byte over is not the line's time.
    to_radio_transit_ = LeastTransit(slave_fd_, master_fd_);
    to_pc_transit_ = LeastTransit(master_fd_, slave_fd_);
  }
  const int flags = fcntl(master_fd_, F_GETFL);
  if (flags < 0 || fcntl(master_fd_, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");
  std::lock_guard lock(mutex_);
  device_path_ = path;
  line_ = ReadLineState(slave_fd_);
  return {};
}

std::string PtyRadio::Start() {
  if (std::string error = OpenPty(); !error.empty()) return error;
  int wake[2];
  if (pipe2(wake, O_CLOEXEC) != 0) {
    const std::string error = std::string("pipe: ") + std::strerror(errno);
    CloseDescriptors();
    return error;
  }
  wake_read_fd_ = wake[0];
  wake_write_fd_ = wake[1];
  thread_ = std::thread([this] { Run(); });
  return {};
}

std::string PtyRadio::DevicePath() const {
  std::lock_guard lock(mutex_);
  return device_path_;
}

bool PtyRadio::ComeBack(double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd wake{wake_read_fd_, POLLIN, 0};
    if (::poll(&wake, 1, static_cast<int>(left.count())) > 0) {
      char drain[64];
      [[maybe_unused]] ssize_t d = ::read(wake_read_fd_, drain, sizeof drain);
      std::lock_guard lock(mutex_);
      if (stopping_) return false;
      said_.clear();  // nobody to say it to
    }
  }
  if (!OpenPty().empty()) return false;
  // A new line: nothing of the old one waits, and its clocks start afresh.
  pending_.clear();
  pending_from_ = 0;
  releases_.clear();
  pace_ready_at_ = 0;
  from_pc_.StartAt(Now());
  to_pc_.StartAt(Now());
  {
    std::lock_guard lock(mutex_);
    hung_up_ = false;
  }
  changed_.notify_all();
  return true;
}

void PtyRadio::Stop() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_write_fd_, &byte, 1);
    thread_.join();
  }
  CloseDescriptors();
}

void PtyRadio::Say(std::span<const std::uint8_t> bytes) {
  {
    std::lock_guard lock(mutex_);
    said_.insert(said_.end(), bytes.begin(), bytes.end());
  }
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_write_fd_, &byte, 1);
}

void PtyRadio::CloseDescriptors() {
  CloseFd(master_fd_);
  CloseFd(slave_fd_);
  CloseFd(wake_read_fd_);
  CloseFd(wake_write_fd_);
}

double PtyRadio::Now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void PtyRadio::Run() {
  std::array<std::uint8_t, 4096> in{};
  bool paced = false;
  bool hanging_up = false;
  bool seen_queued = false;
  double hang_up_from = 0;
  double come_back_after = 0;  // seconds; 0: a hang-up is for good
  const bool line_time = radio_.Config().line_time;
#ifdef __linux__
  // Timers of this thread end when asked, not up to 50 us later.
  if (line_time) ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
  LineState look = ReadLineState(slave_fd_);  // the previous look at the line
  double look_at = Now();
  for (;;) {
    double now = Now();
    double wait = -1;  // seconds; negative: no limit
    auto wait_at_most = [&wait, &now](double until) {
      const double s = std::max(0.0, until - now);
      wait = wait < 0 ? s : std::min(wait, s);
    };
    {
      std::lock_guard lock(mutex_);
      if (auto deadline = radio_.NextDeadline(now)) wait_at_most(*deadline);
    }
    const bool have_output = pending_from_ < pending_.size();
    const bool released = !releases_.empty() && releases_.front().at <= now;
    const bool spin = line_time && !paced;
    if (have_output && !released && !releases_.empty()) {
      wait_at_most(releases_.front().at - (spin ? kSpinBeforeRelease : 0.0));
    }
    if (have_output && paced) wait_at_most(pace_ready_at_);
    if (hanging_up) wait_at_most(now + 0.001);
    pollfd fds[2] = {
        {master_fd_, static_cast<short>(POLLIN | (released && !paced ? POLLOUT : 0)), 0},
        {wake_read_fd_, POLLIN, 0}};
    timespec limit{};
    if (wait >= 0) {
      limit.tv_sec = static_cast<time_t>(wait);
      limit.tv_nsec = static_cast<long>((wait - static_cast<double>(limit.tv_sec)) * 1e9);
    }
    const int ready = ::ppoll(fds, 2, wait >= 0 ? &limit : nullptr, nullptr);
    if (ready < 0 && errno != EINTR) break;
    const double woke_at = Now();
    if (ready == 0 && spin && have_output && !released &&
        releases_.front().at - woke_at <= kSpinBeforeRelease) {
      // Woken just before an answer is due: wait for the very moment.
      while (Now() < releases_.front().at) {
      }
    }
    if (fds[1].revents != 0) {
      // Woken: to stop, or to send what Say queued.
      char drain[64];
      [[maybe_unused]] ssize_t d = ::read(wake_read_fd_, drain, sizeof drain);
      std::vector<std::uint8_t> said;
      {
        std::lock_guard lock(mutex_);
        if (stopping_) break;
        said.swap(said_);
      }
      const double said_at = Now();
      Queue(said, said_at, said_at, look, paced);
    }

    std::size_t heard = 0;
    bool line_dead = false;
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = ::read(master_fd_, in.data(), in.size());
      if (n > 0) {
        heard = static_cast<std::size_t>(n);
      } else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        line_dead = true;  // cannot happen while the slave descriptor is held; do not spin
      }
    }
    // The line as it is right after the read: bytes written before a rate change are in.
    now = Now();
    LineState line = ReadLineState(slave_fd_);
    line.previous_rate = look.rate;
    line.since_previous_look = now - look_at;
    look = line;
    look_at = now;

    out_.Clear();
    double heard_at = now;
    if (heard > 0 && line_time && line.rate != 0) {
      // The bytes went on the line when the PC wrote them, at least the pseudo-terminal's own
      // hand-over time before the radio could read them, and not before the PC had the radio's
      // last answer (a PC answers what it has heard); they arrive one after the other.
      const double answered_at = to_pc_.FreeAt() + radio_.Config().latency;
      const double written_at =
          std::min(woke_at, std::max(woke_at - to_radio_transit_, answered_at));
      heard_at = from_pc_.Send(written_at, heard, line.rate);
    }
    if (!hanging_up) {
      std::lock_guard lock(mutex_);
      line_ = line;
      if (heard > 0) radio_.Feed(std::span<const std::uint8_t>(in.data(), heard), line, now, out_);
      radio_.Advance(line, now, out_);
      paced = radio_.PacedOutput();
    }
    Queue(out_.Bytes(), now, heard_at, line, paced);
    if (listener_) {
      for (const RadioEvent& e : out_.Events()) {
        if (e.kind != EventKind::kHangUp) listener_(e);
      }
    }
    Flush(now, line, paced);
    if (out_.HangUpRequested() && !hanging_up) {
      hanging_up = true;
      hang_up_from = now;
      come_back_after = 0;
      const FaultRequest* setup_hang_up = radio_.Config().Find(Fault::kSetupHangUp);
      for (const RadioEvent& e : out_.Events()) {
        if (e.kind == EventKind::kFaultFired && setup_hang_up != nullptr &&
            e.value == static_cast<std::uint32_t>(Fault::kSetupHangUp)) {
          come_back_after = ValueOf(*setup_hang_up);
        }
      }
    }
    if (hanging_up) {
      // Hang up once the PC has read what the radio last said, so "after word W" is exact.
      // Bytes written to the master reach the slave's queue a moment later, so an empty queue
      // counts only after they were seen there or after a grace period.
      int unread = 0;
      const bool queued = pending_from_ < pending_.size() ||
                          (::ioctl(slave_fd_, FIONREAD, &unread) == 0 && unread > 0);
      seen_queued = seen_queued || queued;
      const bool read_by_pc = !queued && (seen_queued || now >= hang_up_from + 0.05);
      if (!read_by_pc && now < hang_up_from + 0.5) continue;
      line_dead = true;
    }
    if (line_dead) {
      {
        std::lock_guard lock(mutex_);
        CloseFd(master_fd_);
        CloseFd(slave_fd_);
        hung_up_ = true;
      }
      changed_.notify_all();
      if (listener_) listener_(RadioEvent{EventKind::kHangUp, come_back_after > 0 ? 1u : 0u, 0});
      if (come_back_after <= 0 || !ComeBack(come_back_after)) return;
      hanging_up = false;
      seen_queued = false;
      paced = false;
      look = ReadLineState(slave_fd_);
      look_at = Now();
      if (listener_) listener_(RadioEvent{EventKind::kComeBack, 0, 0});
      continue;
    }
    changed_.notify_all();
  }
}

void PtyRadio::Queue(std::span<const std::uint8_t> bytes, double now, double heard_at,
                     const LineState& line, bool paced) {
  if (bytes.empty()) return;
  if (pending_from_ == pending_.size()) {
    pending_.clear();
    pending_from_ = 0;
    releases_.clear();
  }
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  const RadioConfig& config = radio_.Config();
  double done = std::max(now, heard_at);
  double hand_over = 0;
  if (config.line_time && !paced && line.rate != 0) {
    // The answer starts when the radio has heard the PC's last bit and follows what went before
    // it on the line back to the PC: each byte due at a fixed time, however late the radio ran.
    done = to_pc_.Send(heard_at, bytes.size(), line.rate);
    // Written the pseudo-terminal's hand-over time early, the PC has it when the line would.
    hand_over = to_pc_transit_;
  }
  releases_.push_back(Release{done + config.latency - hand_over, pending_.size()});
}

void PtyRadio::Flush(double now, const LineState& line, bool paced) {
  std::size_t end = pending_from_;
  for (const Release& r : releases_) {
    if (r.at > now) break;
    end = r.end;
  }
  std::size_t left = end > pending_from_ ? end - pending_from_ : 0;
  if (left == 0) return;
  // Ten bits a character on the line; paced output goes in bursts of about 10 ms.
  const double bytes_per_s = (line.rate != 0 ? line.rate : 9600) / 10.0;
  if (paced) {
    if (now < pace_ready_at_) return;
    left = std::min(left, std::max<std::size_t>(1, static_cast<std::size_t>(bytes_per_s / 100)));
  }
  const ssize_t n = ::write(master_fd_, pending_.data() + pending_from_, left);
  if (n <= 0) return;  // the pty is full (the uploader is not reading): poll for room
  pending_from_ += static_cast<std::size_t>(n);
  while (!releases_.empty() && releases_.front().end <= pending_from_) releases_.pop_front();
  if (paced) pace_ready_at_ = std::max(now, pace_ready_at_) + static_cast<double>(n) / bytes_per_s;
}

RadioCounters PtyRadio::Counters() const {
  std::lock_guard lock(mutex_);
  return radio_.Counters();
}

std::unique_ptr<RadioSnapshot> PtyRadio::Snapshot() const {
  auto snapshot = std::make_unique<RadioSnapshot>();
  std::lock_guard lock(mutex_);
  radio_.Fill(*snapshot);
  return snapshot;
}

LineState PtyRadio::Line() const {
  std::lock_guard lock(mutex_);
  return line_;
}

bool PtyRadio::HungUp() const {
  std::lock_guard lock(mutex_);
  return hung_up_;
}

bool PtyRadio::WaitForHangUp(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return hung_up_; });
}

bool PtyRadio::WaitFor(const std::function<bool(const RadioCounters&)>& done,
                       std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(radio_.Counters()); });
}

}  // namespace tvx::sim
