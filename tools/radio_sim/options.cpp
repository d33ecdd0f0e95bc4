// The fault table (faults.h) and the command line (options.h), which reads it.
#include "radio_sim/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <vector>

#include "radio_sim/faults.h"

namespace tvx::sim {

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

constexpr FaultInfo kTable[] = {
    {Fault::kSilent, "silent", Strikes::kAlways, "", 0, 0, "hears everything, answers nothing"},
    {Fault::kBadIdentity, "bad-identity", Strikes::kAlways, "", 0, 0,
     "the first byte of the identity reply is 0xFE, not 0xFF"},
    {Fault::kGarbage, "garbage", Strikes::kAlways, "N", kNone, 1000,
     "N noise bytes after the programming command and again while erasing"},
    {Fault::kDropEcho, "drop-echo", Strikes::kWord, "", 0, 0, "no address echo"},
    {Fault::kBadEcho, "bad-echo", Strikes::kWord, "", 0, 0,
     "the address echo comes back with its two bytes swapped"},
    {Fault::kBadEchoLow, "bad-echo-low", Strikes::kWord, "", 0, 0,
     "the address echo keeps its high byte; bit 0 of its low byte flips"},
    {Fault::kDropReply, "drop-reply", Strikes::kWord, "", 0, 0, "no data reply"},
    {Fault::kBadReply, "bad-reply", Strikes::kWord, "", 0, 0, "the data reply is complemented"},
    {Fault::kCorruptStore, "corrupt-store", Strikes::kWord, "B", 1, 1,
     "byte B (0 or 1) of the word is stored with bit 0 flipped (the checksum then fails)"},
    {Fault::kBadChecksum, "bad-checksum", Strikes::kAlways, "", 0, 0,
     "the checksum the radio reports has bit 0 of its first byte flipped"},
    {Fault::kHangUp, "hang-up", Strikes::kWord, "", 0, 0,
     "the line goes dead once the word is answered"},
    {Fault::kHangUpReadBack, "hang-up-readback", Strikes::kReadBackWord, "", 0, 0,
     "the line goes dead once the read-back word is answered"},
    {Fault::kMute, "mute", Strikes::kWord, "", 0, 0,
     "nothing more is answered once the word is; the line stays up (no retry helps)"},
    {Fault::kRfCorrupt, "rf-corrupt", Strikes::kAlways, "RATE", kNone, 1,
     "a fraction RATE (0 to 1) of RF echoes come back with one byte changed (see --seed)"},
    {Fault::kRfDrop, "rf-drop", Strikes::kAlways, "RATE", kNone, 1,
     "a fraction RATE (0 to 1) of RF echoes are not sent"},
    {Fault::kRfCorruptEcho, "rf-corrupt-echo", Strikes::kFrame, "B", 7, 32,
     "byte B (from 0, the type byte) of the echo is complemented; repeat for more bytes"},
    {Fault::kRfDropEcho, "rf-drop-echo", Strikes::kFrame, "", 0, 0, "no echo"},
    {Fault::kRfHoldEcho, "rf-hold-echo", Strikes::kFrame, "MS", 600, 60000,
     "the echo leaves MS milliseconds late (past the PC's 500 ms echo window)"},
    {Fault::kRfHangUp, "rf-hang-up", Strikes::kFrame, "", 0, 0,
     "the line goes dead once the echo has been read"},
    {Fault::kRfShortHeaderReply, "rf-short-header", Strikes::kHeader, "", 0, 0,
     "the header frame is answered with its first byte only"},
    {Fault::kRfStrayAfterPass, "rf-stray-after-pass", Strikes::kPass, "N", 3, 1000,
     "N stray bytes once the last record's echo has been quiet for 0.1 s"},
    {Fault::kSetupLineError, "setup-line-error", Strikes::kKey, "", 0, 0,
     "the PC's line reports a receive error after the key (in-process port only)"},
    {Fault::kSetupSlow, "setup-slow", Strikes::kAlways, "MS", 2000, 60000,
     "every answer of the set-up menu (the echo of a key too) leaves MS milliseconds late"},
    {Fault::kSetupHangUp, "setup-hang-up", Strikes::kKey, "S", 2, 3600,
     "the line goes dead once the key is answered; S seconds later a new device comes back "
     "under the same --link path (a port in memory opens again), the radio's settings kept "
     "(0: never)"},
};

constexpr bool InEnumOrder() {
  for (std::size_t i = 0; i < std::size(kTable); ++i) {
    if (static_cast<std::size_t>(kTable[i].fault) != i) return false;
  }
  return true;
}
static_assert(InEnumOrder(), "the fault table lists the faults in the order of enum Fault");

std::string_view StrikesText(Strikes s) {
  constexpr std::string_view kText[] = {"", "@W", "@R", "@F", "@H", "@P", "@K"};
  return kText[static_cast<std::size_t>(s)];
}

bool ParseNumber(std::string_view text, double& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

/// Parses four bytes written as 0x12,0x34,0x56,0x78 (one or two hexadecimal digits each).
bool ParseAccessCode(std::string_view text, std::array<std::uint8_t, 4>& code) {
  std::array<std::uint8_t, 4> parsed{};
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t comma = text.find(',');
    if ((comma == std::string_view::npos) != (i == 3)) return false;
    const std::string_view part = text.substr(0, comma);
    if (part.size() < 3 || part.size() > 4 || part[0] != '0' ||
        (part[1] != 'x' && part[1] != 'X')) {
      return false;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(part.data() + 2, part.data() + part.size(), value, 16);
    if (ec != std::errc() || end != part.data() + part.size()) return false;
    parsed[i] = static_cast<std::uint8_t>(value);
    if (i < 3) text = text.substr(comma + 1);
  }
  code = parsed;
  return true;
}

/// Reads a stored image in one go: whole records of 20 bytes, at most 65535 of them. The radio
/// reads the file its own way; whether the walk ends well shows in the upload.
std::string ReadImage(const std::string& path, std::vector<std::uint8_t>& image) {
  constexpr std::size_t kLimit = 65535 * 20;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return path + ": not a regular file";
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes(kLimit + 1);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return path + ": cannot be read";
  const auto size = static_cast<std::size_t>(in.gcount());
  if (size == 0 || size % 20 != 0 || size > kLimit) {
    return path + ": " + std::to_string(size) + " bytes is not a stored image of 1 to 65535 " +
           "records of 20 bytes";
  }
  image.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
  return {};
}

}  // namespace

const FaultInfo& InfoOf(Fault fault) {
  return kTable[static_cast<std::size_t>(fault)];
}

double ValueOf(const FaultRequest& request) {
  return request.value.value_or(InfoOf(request.fault).default_value);
}

std::string ParseFault(std::string_view text, FaultRequest& request) {
  const std::size_t eq = text.find('=');
  const std::string_view x = eq == std::string_view::npos ? "" : text.substr(eq + 1);
  text = text.substr(0, eq);
  const std::size_t at = text.find('@');
  const std::string_view n = at == std::string_view::npos ? "" : text.substr(at + 1);
  const std::string_view name = text.substr(0, at);
  for (const FaultInfo& info : kTable) {
    if (info.name != name) continue;
    const std::string usage =
        "--fault " + std::string(name) + std::string(StrikesText(info.strikes)) +
        (info.value.empty()               ? ""
         : std::isnan(info.default_value) ? "=" + std::string(info.value)
                                          : "[=" + std::string(info.value) + "]");
    FaultRequest parsed{info.fault, 0, std::nullopt};
    if ((info.strikes == Strikes::kAlways) != (at == std::string_view::npos)) return "use " + usage;
    if (at != std::string_view::npos) {
      const auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), parsed.at);
      if (ec != std::errc() || end != n.data() + n.size() || parsed.at == 0) {
        return usage + ": the number after @ counts from 1";
      }
    }
    if (eq != std::string_view::npos) {
      double value = 0;
      if (info.value.empty()) return "use " + usage;
      if (!ParseNumber(x, value) || value < 0 || value > info.max_value) {
        return usage + ": " + std::string(info.value) + " is a number from 0 to " +
               std::to_string(static_cast<long>(info.max_value)) +
               (info.max_value == 1 ? " (a fraction)" : "");
      }
      parsed.value = value;
    } else if (std::isnan(info.default_value)) {
      return "use " + usage;
    }
    request = parsed;
    return {};
  }
  return "no fault named \"" + std::string(name) + "\" (--faults lists them)";
}

std::string FaultListText() {
  std::string text =
      "Faults (--fault NAME[@N][=X], repeatable). N counts from 1: W every word attempt of a\n"
      "direct upload (a resent word included; a word fault happens once per upload, so a retry\n"
      "succeeds), R read-back words, F RF data frames as they arrive (every copy), H RF header\n"
      "frames, P RF passes, K keys of the set-up menu.\n";
  for (const FaultInfo& info : kTable) {
    const bool optional = !std::isnan(info.default_value);
    std::string line = "  " + std::string(info.name) + std::string(StrikesText(info.strikes));
    if (!info.value.empty()) {
      line += (optional ? "[=" : "=") + std::string(info.value) + (optional ? "]" : "");
    }
    std::string help(info.help);
    if (!info.value.empty() && optional) {
      help += " (default " + std::to_string(static_cast<long>(info.default_value)) + ")";
    }
    // The help in a column of its own from column 27, wrapped before column 90.
    const std::string indent = "\n" + std::string(26, ' ');
    line = line.size() < 26 ? line + std::string(26 - line.size(), ' ') : line + indent;
    std::size_t column = 26;
    for (std::size_t start = 0; start < help.size();) {
      const std::size_t end = std::min(help.find(' ', start), help.size());
      const std::size_t length = end - start;
      if (column > 26) {
        const bool wrap = column + 1 + length > 90;
        line += wrap ? indent : " ";
        column = wrap ? 26 : column + 1;
      }
      line += help.substr(start, length);
      column += length;
      start = end + 1;
    }
    text += line + "\n";
  }
  return text;
}

std::string ParseOptions(std::span<const std::string_view> args, SimOptions& options) {
  RadioConfig& c = options.config;
  CLI::App app("torvandrix-radio-sim", "torvandrix-radio-sim");
  app.set_help_flag();
  app.allow_extras(false);
  auto flag = [&app](const std::string& name, bool& target) {
    app.add_flag(name, target)->disable_flag_override();
  };
  // An option checked by one of the parsers here: the text is an error for the user, or empty.
  auto checked = [&app](const std::string& name, auto& target,
                        std::function<std::string(const std::string&)> check) {
    return app.add_option(name, target)->check(CLI::Validator(std::move(check), "VALUE"));
  };
  flag("-h,--help", options.help);
  std::string mode;
  checked("--mode", mode, [&c](const std::string& text) {
    return ParseRadioMode(text, c.mode) ? ""
                                        : std::string("--mode needs auto, direct, rf or setup");
  });
  app.add_option("--serial", c.serial)
      ->check(CLI::Range(0u, 0xFFFFFFu, "a serial number has at most 8 digits"));
  std::uint32_t erase_ms = 0;
  CLI::Option* erase = app.add_option("--erase-ms", erase_ms);
  std::string access_code;
  checked("--access-code", access_code, [&c](const std::string& text) {
    return ParseAccessCode(text, c.access_code)
               ? ""
               : std::string("--access-code needs 0x12,0x34,0x56,0x78");
  });
  bool fast = false;
  flag("--fast", fast);
  std::uint32_t latency_ms = 0;
  CLI::Option* latency = app.add_option("--latency-ms", latency_ms)->check(CLI::Range(0u, 1000u));
  std::vector<std::string> faults;
  checked("--fault", faults,
          [](const std::string& text) {
            FaultRequest request;
            return ParseFault(text, request);
          })
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  flag("--faults", options.list_faults);
  app.add_option("--seed", c.seed);
  checked("--firmware-rev", c.firmware_revision, [](const std::string& text) {
    const bool printable =
        !text.empty() && text.size() <= 20 &&
        std::all_of(text.begin(), text.end(), [](char ch) { return ch >= 0x20 && ch < 0x7F; });
    return printable ? std::string()
                     : std::string("--firmware-rev needs 1 to 20 printable ASCII characters");
  });
  checked("--link", options.link, [](const std::string& text) {
    return text.empty() ? std::string("--link needs a path") : std::string();
  });
  flag("--until-eof", options.until_eof);
  flag("-v,--verbose", options.verbose);
  std::string image_path;
  checked("--image", image_path,
          [&options](const std::string& text) { return ReadImage(text, options.image); });

  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    return e.what();
  }
  if (*erase) c.erase_seconds = erase_ms / 1000.0;
  if (fast) {
    c.line_time = false;
    c.fast_setup = true;
  }
  if (*latency) c.latency = latency_ms / 1000.0;
  c.image = options.image;
  for (const std::string& text : faults) ParseFault(text, c.faults.emplace_back());
  return {};
}

std::string UsageText() {
  const std::array<std::uint8_t, 4>& code = kRadioAccessCode;
  char built_code[24];
  std::snprintf(built_code, sizeof built_code, "0x%02X,0x%02X,0x%02X,0x%02X", code[0], code[1],
                code[2], code[3]);
  std::string text = R"(Usage: torvandrix-radio-sim [options]

Try the uploader without a radio. The simulator plays a Torvandrix 900 MHz radio on a
pseudo-terminal: it prints the device to use as the serial port on the first line,
answers as a radio would (the direct upload, the RF upload through a local radio and
the set-up screen, told apart by the first bytes heard), and prints what it heard when
it ends (Ctrl-C, SIGTERM, or end of input with --until-eof). Uploads are checked byte
for byte against the firmware image, and answers take the line's time at the rate the
uploader set. A programming handshake at another rate than 19200 bit/s, with a pause
cut short (300 ms after "4", 10 ms after each access-code byte) or another access code
is refused: the radio stays silent. -v shows why.

Options:
  --mode MODE          auto (default), direct, rf or setup
  --link PATH          also make PATH a symbolic link to the device (removed at the end)
  --until-eof          end when standard input is closed
  --serial N           serial number the radio reports (default 9123456; the uploader
                       accepts 9110000 to 9280000)
  --erase-ms N         how long the erase takes, in milliseconds (default 250)
  --access-code CODE   the four bytes the radio's programming mode requires, written
                       0x12,0x34,0x56,0x78 (default: the uploader's, @CODE@)
  --fast               answer at once instead of at the speed of the line (the set-up
                       menu too)
  --latency-ms N       extra delay before each answer, in milliseconds, as a USB
                       serial adapter adds (its latency timer: 16 ms by default on
                       common adapters, 1 ms in low-latency mode); default 0
  --image FILE         check uploads against the stored image in FILE instead of the
                       one built in (the RF frames, and after a direct upload every word
                       of the image in the radio's memory)
  -v, --verbose        print what the radio hears and does on standard error
  --fault NAME[@N][=X] show a fault (repeatable; the list follows)
  --faults             list the faults and end
  --seed N             seed for the RF fault draws and the noise bytes (default 1)
  --firmware-rev TEXT  the firmware revision the set-up menu reports under "3"
                       (default 2.54)
  -h, --help           this text

@FAULTS@
The set-up menu: "1" shows the radio's settings, "3" its firmware revision, F1 or "?" the
menu. A setting changes with its command and a number (blanks do not matter), answered
"<setting> set to N", or "<setting> must be MIN to MAX" and left alone:
  RADIOID N            Radio ID, 1 to 254 (default 1)
  NETID N              Network ID, 0 to 255 (default 7)
  HOP N                Hop pattern, 0 to 63 (default 12)
  POWER N              Transmit power in dBm, 20 to 30 (default 30)
The settings live as long as the program: a hang-up and return keeps them.

Set-up menu commands for trying the uploader's terminal (not in the radio's menu):
  CHARS                every byte value 0 to 255 in rows of 32, then a row of the escape
                       sequences a terminal would act on (title, screen switch, colours,
                       reset), then "End of table"
  TEXT N               N numbered lines of 78 characters, then "End of text" (N up to
                       100000, default 100)
)";
  text.replace(text.find("@CODE@"), 6, built_code);
  text.replace(text.find("@FAULTS@"), 8, FaultListText());
  return text;
}

std::string MemoryText(const MemoryComparison& comparison) {
  if (comparison.differing == 0) {
    return "image: all " + std::to_string(comparison.words) + " words stored\n";
  }
  return "image: " + std::to_string(comparison.differing) + " of " +
         std::to_string(comparison.words) + " words differ from what the radio stored\n";
}

std::string SummaryText(const RadioCounters& c) {
  std::ostringstream s;
  s << "radio: heard " << c.bytes_received << " bytes, sent " << c.bytes_sent << " bytes, "
    << c.stray_bytes << " stray\n";
  const DirectCounters& d = c.direct;
  if (d.program_commands != 0 || d.diag_wakes != 0) {
    s << "direct: " << d.program_commands << " programming commands (" << d.handshakes_refused
      << " refused: " << d.pause_faults << " pauses too short, " << d.access_code_faults
      << " wrong access codes, " << d.divisor_faults << " bad divisors), " << d.identities_sent
      << " identities, " << d.erases << " erases; " << d.word_attempts << " word attempts, "
      << d.words_checked_ok << " stored, " << d.check_byte_failures << " bad check bytes, "
      << d.resyncs << " resyncs; " << d.checksums_sent << " checksums, " << d.verdicts_accepted
      << " accepted, " << d.verdicts_rejected << " rejected, " << d.readback_words
      << " words read back; " << d.line_rate_faults << " line rate and " << d.line_setting_faults
      << " line settings faults\n";
  }
  const RfCounters& r = c.rf;
  if (r.header_frames_received + r.data_frames_received + r.malformed_frames != 0) {
    s << "rf: " << r.header_frames_good << " good and " << r.header_frames_bad
      << " bad header frames, " << r.data_frames_good << " good and " << r.data_frames_bad
      << " bad data frames, " << r.records_complete << " records; " << r.echoes_sent << " echoes, "
      << r.echoes_corrupted << " corrupted, " << r.echoes_dropped << " dropped; "
      << r.line_rate_faults << " line rate and " << r.line_setting_faults
      << " line settings faults\n";
  }
  if (c.setup.bytes_received != 0) {
    s << "setup: " << c.setup.bytes_received << " keys, " << c.setup.lines << " lines\n";
  }
  return s.str();
}

}  // namespace tvx::sim
