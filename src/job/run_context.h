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
};

/// Runs the ErrorReport when a code is latched. A job calls it before it ends, so that no code
/// it latched reaches the next job's first check.
void ReportPending(RunContext& ctx);

/// Whether the program was asked to end (the console's stop request): the job ends at its next
/// safe point, sending nothing more than the word or frame under way.
bool StopRequested(const RunContext& ctx);

/// A pause of `ms` milliseconds with the screen shown as it stands first, so the operator reads
/// what led to it (a message before a 2 s pause, the serial number before the transfer). A stop
/// request cuts it short (within console::kStopCheckMs); returns false then.
bool Pause(RunContext& ctx, int ms);

/// An upload's way back to the menu after its port did not open: the ErrorReport of a code still
/// latched, "Can't Open Com Port" (the device did not open) or "Error Opening Com Port" (it
/// refused a setting) at the cursor and a new line, a beep and a 2 s pause to read it.
void ShowOpenFailure(RunContext& ctx, bool settings_refused);

}  // namespace tvx::job
