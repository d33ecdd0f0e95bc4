// What the program is asked to do by its command line, decided before the terminal is taken
// over (nothing may be printed while the screen is up): the menu (no sub-command), one scripted
// job ("direct", "rf"), the list of serial devices ("ports"), what an image holds ("image"), or a
// text to print.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/image_choice.h"
#include "app/setup_options.h"

namespace tvx::app {

enum class CommandAction {
  kMenu,       ///< the full-screen program
  kDirect,     ///< one direct upload in line mode
  kRf,         ///< one RF upload in line mode
  kPorts,      ///< list the serial devices
  kImage,      ///< tell what an image holds, or write the built-in one out
  kSetup,      ///< the radio's set-up interface: a terminal, or a script (setup_options.h)
  kHelp,       ///< print `text` on standard output, exit 0
  kVersion,    ///< print `text` on standard output, exit 0
  kUsageError  ///< print `text` on standard error, exit 2
};

/// The exit statuses of the program.
enum ExitStatus : int {
  kExitComplete = 0,       ///< the job completed (every pass, for RF)
  kExitChecksumError = 1,  ///< the radio's checksum was wrong; also a failure of the program
  kExitUsage = 2,          ///< the command line was wrong
  kExitStopped = 3,        ///< stopped before the end: retries spent, dead line
  kExitRefused = 4,        ///< the radio refused: not a radio, or serial number out of range
  kExitPortNotOpened = 5,  ///< the port could not be opened or set
  kExitResentWords = 6,    ///< complete, but resent words are not covered by the checksum
};

struct CommandLine {
  CommandAction action = CommandAction::kMenu;
  std::string text;  ///< what to print for kHelp, kVersion, kUsageError, ending in a new line

  /// Menu form: "--com N=DEVICE", in the order given.
  std::vector<std::pair<int, std::string>> com_bindings;
  /// The radio's access code when one was supplied: --access-code, else TORVANDRIX_ACCESS_CODE,
  /// else access-code in the configuration file. Empty: the code built in. Never shown. Read
  /// (and a wrong one refused) only for the forms that send it: the menu and direct.
  std::optional<std::array<std::uint8_t, 4>> access_code;
  /// Sub-commands: "--port DEVICE"; empty: the port "Com1" as the environment binds it.
  /// Kept as given (never empty once given): "Com1" to "Com9" in any case name the menu's
  /// ports, their bindings else their default devices, which the runner resolves.
  std::string port;
  /// direct: every "--port DEVICE", in the order given (`port` is the first); more than one
  /// runs one upload per port at the same time.
  std::vector<std::string> ports;
  /// "--log FILE"; empty: TORVANDRIX_LOG, else the default place.
  /// (An empty FILE is a usage error, so empty always means not given.)
  std::string log;
  /// Menu form: "--session-log FILE", where the Radio Setup Screen records every byte both
  /// ways (or the configuration file's "session-log"); empty: no record.
  std::string session_log;
  /// "--quiet": no progress and no notes; errors and the outcome line stay.
  bool quiet = false;
  /// "--json": the outcome record (the log line's JSON object) on standard output instead of
  /// the outcome line, and nothing else there.
  bool json = false;
  /// "--timeout SECONDS": how long the radio may stay silent at a wait before the scripted
  /// console presses the key that retries or leaves it; 0 waits for ever. The default is well
  /// above the longest silence of a healthy run (a radio's erase takes a few seconds; a word's
  /// answer, milliseconds) and short enough that a test rig notices a dead radio at once.
  double timeout_seconds = 10.0;
  /// The image the menu, direct and rf load, or the one `image FILE` shows: --image FILE, else
  /// the configuration file's "image", read and checked by the parse. Null: the built-in image.
  std::shared_ptr<const ChosenImage> image;
  /// image: "--export FILE", where the built-in image is written; empty: not asked.
  std::string export_path;
  // direct
  bool data_port = false;
  bool high_speed = false;
  std::int32_t retries = 3;  ///< retries per word at a prompt that offers one
  // rf
  std::int32_t copies = 0;  ///< 1..9
  std::int32_t start = 0;   ///< first record, 0 and up (0 also sends the header frame)
  std::int32_t passes = 1;  ///< 1 and up
  // setup (with ports, timeout_seconds, log, quiet and json above)
  SetupOptions setup;
};

/// The words the help uses for this platform's devices and places (cli_platform.h gives them).
struct HelpWording {
  std::string_view window;          ///< where the full screen runs, e.g. "terminal window"
  std::string_view device_example;  ///< a serial adapter's device, e.g. /dev/ttyUSB0
  std::string_view unbound_device;  ///< what "ComN" opens without a binding, e.g. /dev/ttyS(N-1)
  std::string_view default_log;     ///< the upload log's place without --log or TORVANDRIX_LOG
  std::string_view default_config;  ///< the configuration file's place without --config
};

/// Reads one "--com" value, "N=DEVICE": N a digit from 1 to 9, then "=" and a device name that is
/// not empty (taken as it is). False, and `binding` unchanged, for anything else.
bool ParseComBinding(std::string_view text, std::pair<int, std::string>& binding);

/// What the command line is read with besides its arguments.
struct ParseSettings {
  /// The configuration file read when --config names none; read only if something is there.
  /// Empty: none.
  std::string config_file;
  /// The value of TORVANDRIX_ACCESS_CODE; empty: not set.
  std::string access_code_variable;
  /// Reads the configuration file at a path into its text (cli_platform.h's ReadSettingsFile):
  /// an empty text, or why it cannot be read, with `absent` set when nothing is there. Null:
  /// no file is read (a missing default file, and --config FILE cannot be read).
  std::function<std::string(const std::string& path, std::string& text, bool& absent)> read_file;
};

/// Reads the arguments (`argv[0]` is the program name), then the configuration file (--config,
/// else `settings.config_file`) for what the arguments left unset; the help and the usage
/// errors name devices in `wording`. Reads that one file; never prints, never exits. A file
/// that cannot be read, holds an unknown key or a wrong value is a kUsageError naming the file
/// and the key.
CommandLine ParseCommandLine(int argc, const char* const* argv, const HelpWording& wording,
                             const ParseSettings& settings = {});

}  // namespace tvx::app
