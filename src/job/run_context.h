// The state a run shares between the menu and the jobs: the console, the one serial port,
// time, the link settings, the error latch and the run-wide buffers and counters.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "console/console.h"
#include "image/firmware_image.h"
#include "job/clock.h"
#include "job/error_state.h"
#include "job/monitor.h"
#include "job/random.h"
#include "serial/priority.h"
#include "serial/serial_port.h"

namespace tvx::job {

/// Port name ("Com1".."Com9") and the terminal's baud rate, and the device behind each port
/// name (the front end fills them in from its bindings; no job looks further).
struct LinkSettings {
  std::string port_name = "Com1";
  std::int32_t baud_rate = 19200;
  /// The device of "Com1" (index 0) to "Com9"; empty: not bound.
  std::array<std::string, 9> devices{};

  /// The device `name` opens: for "Com1".."Com9" (any case) its entry in `devices` (empty when
  /// unbound), for any other name the name itself, taken as a device.
  std::string DeviceOf(std::string_view name) const;
};

struct RunContext {
  RunContext(console::Console& c, serial::SerialPort& p, serial::Priority& pr, Clock& cl)
      : console(c), port(p), priority(pr), clock(cl) {}

  console::Console& console;
  serial::SerialPort& port;
  serial::Priority& priority;
  Clock& clock;
  /// Who follows the job besides its screen; the silent monitor unless a front end sets one.
  Monitor* monitor = &SilentMonitor();

  LinkSettings link;
  ErrorState errors;
  Random random;
  /// Records counted for the progress lines; shared by the direct upload and the RF download
  /// file, never reset.
  std::int32_t progress_counter = 0;
  /// Bytes of RF echoes that differed from what was sent, over the whole run; counted per byte,
  /// so 64 bits: an echo flood passes 2^31 within minutes.
  std::int64_t rf_mismatch_count = 0;
  /// The firmware image the upload jobs send (stored form): the built-in one; tests that are
  /// not about the whole image give a smaller one.
  std::span<const std::uint8_t> image = image::FirmwareImage();
  image::RecordBuffer record_buffer{};
  std::array<std::uint8_t, 4> send_buffer{};
};

}  // namespace tvx::job
