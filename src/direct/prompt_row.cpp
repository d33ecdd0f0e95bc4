#include "direct/prompt_row.h"

#include "console/format.h"
#include "job/run_context.h"

namespace tvx::direct {

namespace {

// Wide enough to cover the longest prompt or read-back line (both end before column 80) without
// wrapping.
constexpr int kBlankWidth = 79;

}  // namespace

void ZoneStep(std::string& line) {
  line.append(14 - (line.size() % 14), ' ');
}

bool AskOnPromptRow(job::RunContext& ctx, std::string_view text, bool beep, bool end_line) {
  ctx.priority.Normal();
  if (beep) ctx.console.Beep();
  auto& screen = ctx.console.Screen();
  screen.Locate(kPromptRow, 1);
  screen.SetColours(console::kYellow, console::kBlue, 0);
  screen.PrintText(text);
  if (end_line) screen.NewLine();
  const std::string key = console::WaitForKey(ctx.console);
  BlankPromptRow(ctx);
  return console::IsEscape(key) || job::StopRequested(ctx);
}

void BlankPromptRow(job::RunContext& ctx) {
  auto& screen = ctx.console.Screen();
  screen.Locate(kPromptRow, 1);
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
  screen.PrintText(std::string(kBlankWidth, ' '));
  screen.NewLine();
}

std::string AddressWaitPrompt() {
  return "Waiting for Address Response, Retry? (Y or <esc> to quit)";
}

std::string AddressEchoPrompt(std::uint16_t sent, std::uint16_t got) {
  std::string s = "I Sent " + console::Hex(sent);
  ZoneStep(s);
  s += "I Got " + console::Hex(got);
  ZoneStep(s);
  s += "Continue?(<esc> to quit) ";
  return s;
}

std::string DataTransmitPrompt() {
  return "Error on Data Transmit Resend? (<esc> to quit) ";
}

std::string DataWaitPrompt(std::uint16_t address) {
  std::string s = "I Sent " + console::Hex(address);
  ZoneStep(s);
  s += " Waiting for Data  Response, Resend? (<esc> to quit)";
  return s;
}

std::string BadDataPrompt(std::uint8_t sent_d1, std::uint8_t got, std::uint16_t address) {
  std::string s = "I Sent " + console::Hex(sent_d1);
  ZoneStep(s);
  s += "I Got " + console::Hex(got);
  ZoneStep(s);
  s += "Address " + console::Hex(address);
  ZoneStep(s);
  s += "Bad Data!,Continue?(<esc> to quit) ";
  return s;
}

}  // namespace tvx::direct
