// The program's readers of the values a user types: port names, the menu's "--com N=DEVICE",
// the whole command line, an access code, and the escaping of a name the program echoes.
//
// Input: one byte, then a text. An even byte: the text is one value, read by each reader of
// single values. An odd one: the text is a command line, its arguments separated by NUL bytes;
// each argument is read by those readers as well.
//
// Checked:
// - a port name is "Com1" to "Com9" in any case exactly when it names a port, and only then is
//   it resolved to that port's device;
// - a "--com" value is taken exactly when it is a digit 1 to 9, "=" and a device, and gives back
//   that digit and device; a command line binds only values it was given;
// - any command line: a usage error is one line of printable text after the program's name and
//   a line that points to the help; help and version end in a new line; every value taken lies
//   within its option's range;
// - an access code that is read is written back in the canonical form and read again to the same
//   bytes;
// - an escaped name holds no control byte and is valid UTF-8, and undoing the escapes gives the
//   name back.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/access_code_text.h"
#include "app/command_line.h"
#include "app/printable_text.h"
#include "fuzz_check.h"
#include "job/run_context.h"
#include "serial/port_name.h"

namespace {

using tvx::app::CommandAction;
using tvx::app::CommandLine;

constexpr std::string_view kProgram = "torvandrix-upload";

const tvx::app::HelpWording kWording{"terminal window", "/dev/ttyUSB0", "/dev/ttyS(N-1)",
                                     "~/.local/state/torvandrix-upload/uploads.log",
                                     "~/.config/torvandrix-upload/config"};

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

void CheckPortName(std::string_view name) {
  const int number = tvx::serial::ComPortNumber(name);
  const bool is_port = name.size() == 4 && Lower(name[0]) == 'c' && Lower(name[1]) == 'o' &&
                       Lower(name[2]) == 'm' && name[3] >= '1' && name[3] <= '9';
  TVX_FUZZ_CHECK(number == (is_port ? name[3] - '0' : 0));

  tvx::job::LinkSettings link;
  for (std::size_t i = 0; i < link.devices.size(); ++i)
    link.devices[i] = "port" + std::to_string(i);
  const std::string device = link.DeviceOf(name);
  TVX_FUZZ_CHECK(device == (is_port ? "port" + std::to_string(number - 1) : std::string(name)));
}

CommandLine Parse(const std::vector<std::string>& args) {
  std::vector<const char*> argv{kProgram.data()};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return tvx::app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), kWording);
}

// The length of the printable character at `at`: ASCII from 0x20 but DEL, or a whole UTF-8
// sequence that is no C1 control (U+0080 to U+009F); 0 for anything else.
std::size_t PrintableLength(std::string_view text, std::size_t at) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return lead >= 0x20 && lead != 0x7F ? 1 : 0;
  if (lead < 0xC2 || lead > 0xF4) return 0;
  const std::size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  if (lead == 0xC2 && byte(at + 1) < 0xA0) return 0;
  return length;
}

// Printable characters and new lines only.
bool Printable(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    if (text[at] == '\n') {
      ++at;
      continue;
    }
    const std::size_t length = PrintableLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

void CheckCommandLine(const std::vector<std::string>& args) {
  const CommandLine command = Parse(args);
  switch (command.action) {
    case CommandAction::kUsageError: {
      TVX_FUZZ_CHECK(command.text.starts_with(std::string(kProgram) + ": "));
      TVX_FUZZ_CHECK(command.text.ends_with(" --help'\n"));
      const std::size_t first_end = command.text.find('\n');
      TVX_FUZZ_CHECK(command.text.find('\n', first_end + 1) == command.text.size() - 1);
      TVX_FUZZ_CHECK(command.text.compare(first_end + 1, 5, "see '") == 0);
      TVX_FUZZ_CHECK(Printable(command.text));
      return;
    }
    case CommandAction::kHelp:
    case CommandAction::kVersion:
      TVX_FUZZ_CHECK(command.text.size() > 1 && command.text.back() == '\n');
      return;
    case CommandAction::kMenu:
      // Every binding is one the command line gave, "--com V" or "--com=V", word for word.
      for (const auto& [number, device] : command.com_bindings) {
        TVX_FUZZ_CHECK(number >= 1 && number <= 9 && !device.empty());
        const std::string value = std::to_string(number) + "=" + device;
        TVX_FUZZ_CHECK(std::find(args.begin(), args.end(), value) != args.end() ||
                       std::find(args.begin(), args.end(), "--com=" + value) != args.end());
      }
      break;
    case CommandAction::kDirect:
      TVX_FUZZ_CHECK(command.retries >= 0 && command.retries <= 1000000);
      break;
    case CommandAction::kRf:
      TVX_FUZZ_CHECK(command.copies >= 1 && command.copies <= 9);
      TVX_FUZZ_CHECK(command.start >= 0 && command.passes >= 1 && command.passes <= 32767);
      break;
    case CommandAction::kPorts:
      TVX_FUZZ_CHECK(command.log.empty());
      break;
    case CommandAction::kImage:
      break;
    case CommandAction::kSetup:
      TVX_FUZZ_CHECK(command.setup.baud >= 4800 && command.setup.baud <= 115200);
      break;
  }
  TVX_FUZZ_CHECK(command.text.empty());
  TVX_FUZZ_CHECK(command.action == CommandAction::kMenu || command.com_bindings.empty());
  TVX_FUZZ_CHECK(std::isfinite(command.timeout_seconds) && command.timeout_seconds >= 0 &&
                 command.timeout_seconds <= 86400);
}

void CheckComBinding(std::string_view text) {
  std::pair<int, std::string> binding{0, "before"};
  const bool is_binding = text.size() >= 3 && text[0] >= '1' && text[0] <= '9' && text[1] == '=';
  TVX_FUZZ_CHECK(tvx::app::ParseComBinding(text, binding) == is_binding);
  if (!is_binding) {
    TVX_FUZZ_CHECK(binding.first == 0 && binding.second == "before");
    return;
  }
  TVX_FUZZ_CHECK(std::to_string(binding.first) + "=" + binding.second == text);
}

// The program's reader of an access code: what it takes is four bytes that, written back in the
// canonical form, read the same again; anything it refuses has no four hexadecimal bytes.
void CheckAccessCode(std::string_view text) {
  const std::optional<std::array<std::uint8_t, 4>> code = tvx::app::ReadAccessCode(text);
  if (!code) return;
  TVX_FUZZ_CHECK(text.size() >= 7);  // four digits and three commas at the least
  TVX_FUZZ_CHECK(std::count(text.begin(), text.end(), ',') == 3);
  char written[20];
  std::snprintf(written, sizeof written, "0x%02X,0x%02X,0x%02X,0x%02X", (*code)[0], (*code)[1],
                (*code)[2], (*code)[3]);
  TVX_FUZZ_CHECK(tvx::app::ReadAccessCode(written) == code);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void CheckEscaping(std::string_view text) {
  const std::string escaped = tvx::app::PrintableText(text);
  std::string undone;
  for (std::size_t at = 0; at < escaped.size();) {
    if (escaped[at] == '\\') {
      TVX_FUZZ_CHECK(at + 1 < escaped.size());
      if (escaped[at + 1] == '\\') {
        undone += '\\';
        at += 2;
        continue;
      }
      TVX_FUZZ_CHECK(escaped[at + 1] == 'x' && at + 3 < escaped.size());
      const int high = HexDigit(escaped[at + 2]);
      const int low = HexDigit(escaped[at + 3]);
      TVX_FUZZ_CHECK(high >= 0 && low >= 0);
      undone += static_cast<char>(high << 4 | low);
      at += 4;
      continue;
    }
    const std::size_t length = PrintableLength(escaped, at);
    TVX_FUZZ_CHECK(length > 0);
    undone.append(escaped, at, length);
    at += length;
  }
  TVX_FUZZ_CHECK(undone == text);
}

// The readers of single values take microseconds, the whole command line a millisecond: every
// text goes through all of the former.
void CheckValue(std::string_view text) {
  CheckPortName(text);
  CheckComBinding(text);
  CheckAccessCode(text);
  CheckEscaping(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    CheckValue(text);
    return 0;
  }
  std::vector<std::string> args;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find('\0', at), text.size());
    args.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  for (const std::string& arg : args) CheckValue(arg);
  CheckCommandLine(args);
  return 0;
}
