#include "radio_sim/faults.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

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

}  // namespace

const FaultInfo& InfoOf(Fault fault) {
  return kTable[static_cast<std::size_t>(fault)];
}

double ValueOf(const FaultSpec& spec) {
  return spec.value.value_or(InfoOf(spec.fault).default_value);
}

std::string ParseFault(std::string_view text, FaultSpec& spec) {
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
    FaultSpec parsed{info.fault, 0, std::nullopt};
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
    spec = parsed;
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

}  // namespace tvx::sim
