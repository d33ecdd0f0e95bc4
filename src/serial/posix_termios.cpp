#include "serial/posix_termios.h"

namespace tvx::serial {
namespace {

struct RateCode {
  std::uint32_t rate;
  speed_t speed;
};

constexpr RateCode kRates[] = {
    {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

#ifdef CRTSCTS
constexpr tcflag_t kHardwareFlow = CRTSCTS;
#else
constexpr tcflag_t kHardwareFlow = 0;
#endif

void SetFlag(tcflag_t& flags, tcflag_t bit, bool on) {
  if (on) {
    flags |= bit;
  } else {
    flags &= ~bit;
  }
}

bool SetDataBits(termios& line, std::uint32_t bits) {
  tcflag_t size = 0;
  switch (bits) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return false;
  }
  line.c_cflag = (line.c_cflag & ~CSIZE) | size;
  return true;
}

bool SetStopBits(termios& line, std::uint32_t bits) {
  if (bits != 1 && bits != 2) return false;
  SetFlag(line.c_cflag, CSTOPB, bits == 2);
  return true;
}

}  // namespace

bool SpeedForRate(std::uint32_t rate, speed_t& speed) {
  for (const RateCode& entry : kRates) {
    if (entry.rate == rate) {
      speed = entry.speed;
      return true;
    }
  }
  return false;
}

std::uint32_t RateForSpeed(speed_t speed) {
  for (const RateCode& entry : kRates) {
    if (entry.speed == speed) return entry.rate;
  }
  return 0;
}

void MakeRawLine(termios& line) {
  line.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                         IXON | IXOFF | IXANY);
  line.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  line.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  line.c_cflag |= CLOCAL | CREAD;
  line.c_cc[VMIN] = 1;
  line.c_cc[VTIME] = 0;
}

bool ApplyToLine(termios& line, LineSetting setting, std::uint32_t value) {
  switch (setting) {
    case LineSetting::kLineRate: {
      speed_t speed{};
      if (!SpeedForRate(value, speed)) return false;
      return cfsetispeed(&line, speed) == 0 && cfsetospeed(&line, speed) == 0;
    }
    case LineSetting::kDataBits:
      // Choosing the character size also means one stop bit and no parity.
      if (!SetDataBits(line, value)) return false;
      line.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB);
      return true;
    case LineSetting::kParityCheck:
      SetFlag(line.c_iflag, INPCK, value != 0);
      return true;
    case LineSetting::kStopBits:
      return SetStopBits(line, value);
    case LineSetting::kCtsOutputFlow:
      if (value != 0 && kHardwareFlow == 0) return false;
      SetFlag(line.c_cflag, kHardwareFlow, value != 0);
      return true;
    case LineSetting::kTxQueueSize:
    case LineSetting::kRxQueueSize:
      return true;  // the kernel sizes its own queues
    case LineSetting::kDsrOutputFlow:
    case LineSetting::kDsrSensitivity:
    case LineSetting::kDtrHandshake:
      return value == 0;  // termios has no DSR flow control and no DTR handshake
    case LineSetting::kDtrLine:
      return true;
  }
  return false;
}

void ReadControlState(const termios& line, ControlState& state) {
  state.line_rate = RateForSpeed(cfgetospeed(&line));
  switch (line.c_cflag & CSIZE) {
    case CS5:
      state.data_bits = 5;
      break;
    case CS6:
      state.data_bits = 6;
      break;
    case CS7:
      state.data_bits = 7;
      break;
    default:
      state.data_bits = 8;
      break;
  }
  state.parity = (line.c_cflag & PARENB) != 0;
  state.stop_bits = (line.c_cflag & CSTOPB) != 0 ? 2 : 1;
  state.cts_output_flow = kHardwareFlow != 0 && (line.c_cflag & kHardwareFlow) != 0;
  state.dsr_output_flow = false;
}

bool WriteControlState(termios& line, const ControlState& state) {
  speed_t speed{};
  if (!SpeedForRate(state.line_rate, speed)) return false;
  if (state.dsr_output_flow) return false;
  if (state.cts_output_flow && kHardwareFlow == 0) return false;
  if (!SetDataBits(line, state.data_bits) || !SetStopBits(line, state.stop_bits)) return false;
  if (cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0) return false;
  SetFlag(line.c_cflag, PARENB, state.parity);
  SetFlag(line.c_cflag, kHardwareFlow, state.cts_output_flow);
  return true;
}

bool SameLine(const termios& a, const termios& b) {
  constexpr tcflag_t kControlBits = CSIZE | PARENB | PARODD | CSTOPB | kHardwareFlow;
  return cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b) &&
         (a.c_cflag & kControlBits) == (b.c_cflag & kControlBits) &&
         (a.c_iflag & INPCK) == (b.c_iflag & INPCK);
}

}  // namespace tvx::serial
