#include "serial/win_serial_port.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

#include "serial/deadline.h"
#include "serial/failure_note.h"
#include "serial/port_name.h"
#include "serial/win_device_checks.h"
#include "serial/win_errors.h"

namespace tvx::serial {

std::string DefaultDevicePath(int number) {
  return "\\\\.\\COM" + std::to_string(number);
}

namespace {

// "COM" (any case) and a number, without the device namespace's prefix.
bool IsPlainComName(std::string_view name) {
  if (name.size() < 4 || name.size() > 8) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
  }
  return std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The pending line errors that count: receive-queue overflow, overrun, framing error, transmit
// queue full, device I/O error. Parity errors and breaks are not reported.
constexpr DWORD kLineErrorMask = CE_RXOVER | CE_OVERRUN | CE_FRAME | CE_TXFULL | CE_IOE;

// An OVERLAPPED's event with its lowest bit set: the system then queues no completion notice
// for the transfer. The program binds no completion port, but on some implementations (wine's)
// a transfer that completes at once would still cost a round trip to post that notice.
HANDLE WithoutCompletionNotice(HANDLE event) {
  return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
}

// One overlapped transfer carried to its end, on an event of the port's kept for reads or for
// writes: the writer thread's writes and the main thread's reads never share one.
class Transfer {
 public:
  explicit Transfer(HANDLE event) : ready_(event != nullptr) {
    overlapped_.hEvent = WithoutCompletionNotice(event);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  bool Ready() const { return ready_; }
  OVERLAPPED* Get() { return &overlapped_; }

  // The count moved once the request that returned `started` is complete; `error` is set when
  // it failed.
  DWORD Finish(HANDLE port, BOOL started, DWORD& error) {
    DWORD done = 0;
    error = ERROR_SUCCESS;
    if (!started && GetLastError() != ERROR_IO_PENDING) {
      error = GetLastError();
      return 0;
    }
    if (!GetOverlappedResult(port, &overlapped_, &done, TRUE)) error = GetLastError();
    return done;
  }

 private:
  OVERLAPPED overlapped_{};
  bool ready_;
};

class WinSerialPort final : public SerialPort {
 public:
  WinSerialPort() = default;
  WinSerialPort(const WinSerialPort&) = delete;
  WinSerialPort& operator=(const WinSerialPort&) = delete;
  ~WinSerialPort() override {
    Close();
    for (HANDLE event : {look_ahead_event_, read_event_, write_event_}) {
      if (event != nullptr) CloseHandle(event);
    }
  }

  ErrorNumber Open(std::string_view name) override;
  std::string OpenFailureText() const override { return open_failure_; }
  std::string FailureText() const override { return failure_.Text(); }
  bool IsOpen() const override { return port_ != INVALID_HANDLE_VALUE; }
  ErrorNumber Close() override;

  ErrorNumber Apply(LineSetting setting, std::uint32_t value) override;
  ErrorNumber GetTimeouts(Timeouts& out) override;
  ErrorNumber SetTimeouts(const Timeouts& timeouts) override;
  ErrorNumber GetControlState(ControlState& out) override;
  ErrorNumber SetControlState(const ControlState& state) override;

  WaitingCount BytesWaiting() override;
  std::size_t Read(std::span<std::uint8_t> into) override;
  std::size_t Write(std::span<const std::uint8_t> bytes) override;
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override;
  bool LineDead() const override { return dead_; }

 private:
  ErrorNumber SetQueueSize(bool receive, std::uint32_t bytes);
  // The activity wait is a read of one byte, kept here until a read takes it: a pending read
  // completes on the first byte, on every driver (WaitCommEvent does not work on all of them).
  // Starts it unless one is pending or a byte is held; false when none can run.
  bool StartLookAhead();
  // Takes the result of a finished look-ahead read; with `cancel`, ends a pending one first.
  void FinishLookAhead(bool cancel);
  // A failed transfer or query: the system's words kept, a vanished device marked dead.
  void NoteFailure(DWORD error) {
    failure_.Keep(WindowsErrorMessage(error));
    if (IsDeadLineError(error)) dead_ = true;
  }
  // A refused setting or queue size: the system's words kept, 5 returned.
  ErrorNumber Refused() {
    failure_.Keep(WindowsErrorMessage(GetLastError()));
    return kErrDeviceControl;
  }
  // Another failed request: the system's words kept, its own number returned.
  ErrorNumber Failed() {
    const DWORD error = GetLastError();
    failure_.Keep(WindowsErrorMessage(error));
    return ErrorFromWindowsError(error);
  }
  // Open's refusal of what is there but is no serial port (5), `kind` saying what it is.
  ErrorNumber NotASerialPort(const char* kind) {
    open_failure_ = kind;
    return kErrDeviceControl;
  }

  HANDLE port_ = INVALID_HANDLE_VALUE;
  HANDLE claim_ = nullptr;  // the named claim on the device, held while open
  OVERLAPPED look_ahead_{};
  HANDLE look_ahead_event_ = nullptr;  // look_ahead_'s, kept across openings
  HANDLE read_event_ = nullptr;        // for Read, on the main thread
  HANDLE write_event_ = nullptr;       // for Write, on the main thread or the terminal's writer
  bool look_ahead_pending_ = false;
  bool look_ahead_held_ = false;  // look_ahead_byte_ arrived and was not read yet
  std::uint8_t look_ahead_byte_ = 0;
  // A transfer or query met a vanished device since Open. The one value the terminal's writer
  // thread (Write) and the main thread (BytesWaiting, Read, AwaitActivity, LineDead) both
  // change; port_ and write_event_, which Write reads, change only in Open and Close.
  std::atomic<bool> dead_{false};
  COMMTIMEOUTS job_timeouts_{};  // the time-outs the job last set (all zero from Open)
  // Open's failure in the system's words, or what was opened when it is no serial port.
  std::string open_failure_;
  FailureNote failure_;  // any other operation's, until Close
};

ErrorNumber WinSerialPort::Open(std::string_view name) {
  if (IsOpen()) return kErrPortAlreadyOpen;
  open_failure_.clear();
  if (name.empty()) {
    open_failure_ = "no device named";
    return kErrBadPortName;
  }
  // COM10 and up open only through the device namespace (\\.\COM12); COM1 to COM9 open
  // either way. A plain ComN name is given the prefix, so every port is written the same way.
  const std::string path = IsPlainComName(name) ? "\\\\.\\" + std::string(name) : std::string(name);
  // What is plainly no serial port is said to be none (code 5, and what it is), not a
  // permission problem: a folder or a file the user may not write is refused for want of access.
  if (const char* kind = NotAPortBeforeOpening(path)) return NotASerialPort(kind);

  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && IsDiskFile(path)) return NotASerialPort("a regular file");
    open_failure_ = WindowsErrorMessage(error);
    return ErrorFromWindowsError(error);
  }
  if (const DWORD type = GetFileType(port); type != FILE_TYPE_CHAR) {
    CloseHandle(port);
    return NotASerialPort(type == FILE_TYPE_DISK ? "a regular file" : "a pipe");
  }
  // A serial driver refuses a second open itself; some (wine's among them) do not, so the
  // program also holds a named claim on the device while it has it open.
  HANDLE claim = nullptr;
  if (!ClaimDevice(path, claim)) {
    CloseHandle(port);
    open_failure_ = "another program holds the device";
    return kErrAccessDenied;
  }

  COMMTIMEOUTS zero{};
  if (!SetCommTimeouts(port, &zero)) {
    const DWORD error = GetLastError();
    CloseHandle(port);
    CloseIfSet(claim);
    // A device held open for reading and writing that takes no serial time-outs is no serial
    // port (NUL, CON: Windows refuses the request as an invalid function, wine as denied
    // access), unless it went away meanwhile.
    if (!IsDeadLineError(error)) return NotASerialPort("a device that is not a serial port");
    open_failure_ = WindowsErrorMessage(error);
    return ErrorFromWindowsError(error);
  }
  for (HANDLE* event : {&look_ahead_event_, &read_event_, &write_event_}) {
    if (*event == nullptr) *event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  if (look_ahead_event_ == nullptr || read_event_ == nullptr || write_event_ == nullptr) {
    CloseHandle(port);
    CloseIfSet(claim);
    return kErrOutOfMemory;
  }
  port_ = port;
  claim_ = claim;
  job_timeouts_ = zero;
  look_ahead_pending_ = false;
  look_ahead_held_ = false;
  dead_ = false;
  return kNoError;
}

ErrorNumber WinSerialPort::Close() {
  if (!IsOpen()) return kNoError;
  FinishLookAhead(true);
  look_ahead_held_ = false;
  CloseHandle(port_);  // the handle is gone even when closing reports an error
  CloseIfSet(claim_);
  port_ = INVALID_HANDLE_VALUE;
  claim_ = nullptr;
  dead_ = false;
  failure_.Clear();
  return kNoError;
}

ErrorNumber WinSerialPort::SetQueueSize(bool receive, std::uint32_t bytes) {
  COMMPROP properties{};
  if (!GetCommProperties(port_, &properties)) return Refused();
  const DWORD rx = receive ? bytes : properties.dwCurrentRxQueue;
  const DWORD tx = receive ? properties.dwCurrentTxQueue : bytes;
  // A driver that reports no current size (0) keeps its own for that direction.
  if (!SetupComm(port_, rx != 0 ? rx : bytes, tx != 0 ? tx : bytes)) return Refused();
  return kNoError;
}

ErrorNumber WinSerialPort::Apply(LineSetting setting, std::uint32_t value) {
  if (!IsOpen()) return kErrPortNotOpen;
  if (setting == LineSetting::kTxQueueSize) return SetQueueSize(false, value);
  if (setting == LineSetting::kRxQueueSize) return SetQueueSize(true, value);

  DCB line{};
  line.DCBlength = sizeof line;
  if (!GetCommState(port_, &line)) return Refused();
  const bool on = value != 0;
  switch (setting) {
    case LineSetting::kLineRate:
      line.BaudRate = value;
      break;
    case LineSetting::kDataBits:
      line.ByteSize = static_cast<BYTE>(value);
      if (value == 8) {
        line.StopBits = ONESTOPBIT;
        line.fParity = FALSE;
        line.Parity = NOPARITY;
      }
      break;
    case LineSetting::kParityCheck:
      line.fParity = on ? TRUE : FALSE;
      break;
    case LineSetting::kStopBits:
      line.StopBits = value == 2 ? TWOSTOPBITS : ONESTOPBIT;
      break;
    case LineSetting::kCtsOutputFlow:
      line.fOutxCtsFlow = on ? TRUE : FALSE;
      break;
    case LineSetting::kDsrOutputFlow:
      line.fOutxDsrFlow = on ? TRUE : FALSE;
      break;
    case LineSetting::kDsrSensitivity:
      line.fDsrSensitivity = on ? TRUE : FALSE;
      break;
    case LineSetting::kDtrHandshake:
      line.fDtrControl = on ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
      break;
    case LineSetting::kDtrLine:
      line.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
      break;
    case LineSetting::kTxQueueSize:
    case LineSetting::kRxQueueSize:
      break;
  }
  line.fBinary = TRUE;
  return SetCommState(port_, &line) ? kNoError : Refused();
}

ErrorNumber WinSerialPort::GetTimeouts(Timeouts& out) {
  if (!IsOpen()) return kErrPortNotOpen;
  COMMTIMEOUTS t{};
  if (!GetCommTimeouts(port_, &t)) return Failed();
  out = {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
         t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
  return kNoError;
}

ErrorNumber WinSerialPort::SetTimeouts(const Timeouts& timeouts) {
  if (!IsOpen()) return kErrPortNotOpen;
  COMMTIMEOUTS t{timeouts.read_interval, timeouts.read_total_per_byte, timeouts.read_total_constant,
                 timeouts.write_total_per_byte, timeouts.write_total_constant};
  if (!SetCommTimeouts(port_, &t)) return Failed();
  job_timeouts_ = t;
  return kNoError;
}

ErrorNumber WinSerialPort::GetControlState(ControlState& out) {
  if (!IsOpen()) return kErrPortNotOpen;
  DCB line{};
  line.DCBlength = sizeof line;
  if (!GetCommState(port_, &line)) return Refused();
  out.line_rate = line.BaudRate;
  out.data_bits = line.ByteSize;
  out.parity = line.Parity != NOPARITY;
  out.stop_bits = line.StopBits == TWOSTOPBITS ? 2 : 1;
  out.cts_output_flow = line.fOutxCtsFlow != 0;
  out.dsr_output_flow = line.fOutxDsrFlow != 0;
  out.dtr_on = line.fDtrControl == DTR_CONTROL_ENABLE;
  return kNoError;
}

ErrorNumber WinSerialPort::SetControlState(const ControlState& state) {
  if (!IsOpen()) return kErrPortNotOpen;
  DCB line{};
  line.DCBlength = sizeof line;
  if (!GetCommState(port_, &line)) return Refused();
  line.BaudRate = state.line_rate;
  line.ByteSize = state.data_bits;
  line.Parity = state.parity ? EVENPARITY : NOPARITY;
  line.fParity = state.parity ? TRUE : FALSE;
  line.StopBits = state.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  line.fOutxCtsFlow = state.cts_output_flow ? TRUE : FALSE;
  line.fOutxDsrFlow = state.dsr_output_flow ? TRUE : FALSE;
  line.fDtrControl = state.dtr_on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  line.fBinary = TRUE;
  return SetCommState(port_, &line) ? kNoError : Refused();
}

WaitingCount WinSerialPort::BytesWaiting() {
  if (!IsOpen()) return {0, kErrPortNotOpen};
  FinishLookAhead(false);
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(port_, &errors, &status)) {
    NoteFailure(GetLastError());
    if (dead_ && !look_ahead_held_) return {0, kErrLineDead};
    if (!dead_) return {0, kErrLineError};
  }
  if ((errors & kLineErrorMask) != 0) {
    failure_.Keep("the driver reported an overrun, a framing error or an overflow");
    return {0, kErrLineError};
  }
  // Bytes that arrived before the line died are still handed out.
  const std::size_t waiting = status.cbInQue + (look_ahead_held_ ? 1 : 0);
  if (waiting > 0) return {waiting, kNoError};
  if (dead_) return {0, kErrLineDead};
  return {0, kNoError};
}

std::size_t WinSerialPort::Read(std::span<std::uint8_t> into) {
  if (!IsOpen() || into.empty()) return 0;
  FinishLookAhead(true);
  std::size_t got = 0;
  if (look_ahead_held_) {
    into[0] = look_ahead_byte_;
    look_ahead_held_ = false;
    got = 1;
    if (into.size() == 1) return got;
  }
  Transfer transfer(read_event_);
  if (!transfer.Ready()) return got;
  const BOOL started = ReadFile(port_, into.data() + got, static_cast<DWORD>(into.size() - got),
                                nullptr, transfer.Get());
  DWORD error = ERROR_SUCCESS;
  got += transfer.Finish(port_, started, error);
  if (error != ERROR_SUCCESS) NoteFailure(error);
  return got;
}

std::size_t WinSerialPort::Write(std::span<const std::uint8_t> bytes) {
  if (!IsOpen() || bytes.empty()) return 0;
  Transfer transfer(write_event_);
  if (!transfer.Ready()) return 0;
  const BOOL started =
      WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, transfer.Get());
  DWORD error = ERROR_SUCCESS;
  const DWORD sent = transfer.Finish(port_, started, error);
  if (error != ERROR_SUCCESS) {
    NoteFailure(error);
  } else if (sent < bytes.size()) {
    failure_.Keep("the line took nothing more within the write time-out");
  }
  return sent;
}

bool WinSerialPort::StartLookAhead() {
  if (look_ahead_pending_ || look_ahead_held_) return true;
  // The read must wait for its byte however the job set the read time-outs: it starts under
  // "wait for the whole count", and the job's own time-outs are put back at once (a read's
  // time-outs are fixed when it starts). The write time-outs stay as they are. The job's
  // time-outs are the copy kept by SetTimeouts: asking the driver for them costs a round trip to
  // the system on every wait on some implementations (wine's), and they are mostly all zero.
  COMMTIMEOUTS job = job_timeouts_;
  const bool change = job.ReadIntervalTimeout != 0 || job.ReadTotalTimeoutMultiplier != 0 ||
                      job.ReadTotalTimeoutConstant != 0;
  if (change) {
    COMMTIMEOUTS waiting = job;
    waiting.ReadIntervalTimeout = 0;
    waiting.ReadTotalTimeoutMultiplier = 0;
    waiting.ReadTotalTimeoutConstant = 0;
    SetCommTimeouts(port_, &waiting);
  }
  // ReadFile clears the event itself before it starts.
  look_ahead_.hEvent = WithoutCompletionNotice(look_ahead_event_);
  const BOOL done = ReadFile(port_, &look_ahead_byte_, 1, nullptr, &look_ahead_);
  const DWORD error = done ? ERROR_SUCCESS : GetLastError();
  if (change) SetCommTimeouts(port_, &job);
  if (done || error == ERROR_IO_PENDING) {
    look_ahead_pending_ = true;
    FinishLookAhead(false);  // a byte already there completes it at once
    return true;
  }
  NoteFailure(error);
  return false;
}

void WinSerialPort::FinishLookAhead(bool cancel) {
  if (!look_ahead_pending_) return;
  DWORD got = 0;
  if (!GetOverlappedResult(port_, &look_ahead_, &got, FALSE)) {
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) {
      if (!cancel) return;
      CancelIoEx(port_, &look_ahead_);
      // A byte that arrived before the cancel took effect is kept.
      if (!GetOverlappedResult(port_, &look_ahead_, &got, TRUE) &&
          GetLastError() != ERROR_OPERATION_ABORTED) {
        NoteFailure(GetLastError());
      }
    } else {
      NoteFailure(error);
    }
  }
  look_ahead_pending_ = false;
  if (got == 1) look_ahead_held_ = true;
}

void WinSerialPort::AwaitActivity(console::NativeWaitHandle also, int timeout_ms) {
  HANDLE handles[2];
  DWORD count = 0;
  if (IsOpen() && !dead_) {
    FinishLookAhead(false);
    DWORD errors = 0;
    COMSTAT status{};
    if (look_ahead_held_ ||
        (ClearCommError(port_, &errors, &status) && (status.cbInQue > 0 || errors != 0))) {
      return;
    }
    if (StartLookAhead()) {
      if (look_ahead_held_) return;
      if (look_ahead_pending_) handles[count++] = look_ahead_event_;
    }
  }
  if (also != console::kNoWaitHandle) handles[count++] = reinterpret_cast<HANDLE>(also);
  const DWORD wait = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
  if (count == 0) {
    // Nothing to watch: a dead port reports itself at once on every query, so the caller's
    // loop re-checks at a calm pace instead of spinning.
    constexpr DWORD kCalmMs = kHungUpWaitMs;
    Sleep(timeout_ms < 0 || (IsOpen() && dead_ && wait > kCalmMs) ? kCalmMs : wait);
    return;
  }
  WaitForMultipleObjects(count, handles, FALSE, wait);
  if (IsOpen()) FinishLookAhead(false);
}

}  // namespace

std::unique_ptr<SerialPort> MakeWinSerialPort() {
  return std::make_unique<WinSerialPort>();
}

}  // namespace tvx::serial
