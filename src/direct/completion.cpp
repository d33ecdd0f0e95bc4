// The end of every direct upload that reached the transfer: the radio's checksum and the
// verdict, the read-back of every word after a wrong checksum, the program time and the close.
#include <array>
#include <span>
#include <string>

#include "console/format.h"
#include "direct/prompt_row.h"
#include "direct/protocol.h"
#include "direct/upload_state.h"
#include "direct/waits.h"
#include "image/firmware_image.h"
#include "job/port_ops.h"

namespace tvx::direct {

namespace {

constexpr int kXorRow = 19;
constexpr int kChecksumRow = 20;
constexpr int kProgressRow = 25;
constexpr int kProgramTimeRow = 29;

enum class Outcome { kCompleted, kEscape };

std::uint8_t ReadOneByte(job::RunContext& ctx) {
  std::array<std::uint8_t, 1> byte{};
  (void)ctx.port.Read(byte);
  return byte[0];
}

void WriteVerdict(job::RunContext& ctx, std::uint8_t verdict) {
  ctx.send_buffer[0] = verdict;
  (void)ctx.port.Write(std::span<const std::uint8_t>(ctx.send_buffer.data(), 1));
}

// Waits for `count` bytes; Escape leaves, other keys are dropped. A radio that stops
// answering therefore never traps the operator.
Outcome AwaitBytesOrEscape(job::RunContext& ctx, std::size_t count) {
  for (;;) {
    if (AwaitBytesOrKey(ctx, count) == WaitEvent::kBytes) return Outcome::kCompleted;
    if (IsEscape(ctx.console.ReadKey())) return Outcome::kEscape;
  }
}

// The radio returns the two bytes it holds at every word address of the image; each word that
// differs from the image is shown on row 30 and waits for a key. Nothing is counted or resent.
Outcome ReadBackPass(job::RunContext& ctx) {
  auto& screen = ctx.console.Screen();
  image::ImageWalk walk(image::FirmwareImage(), ctx.record_buffer, image::WalkMode::kVisitAll);
  while (walk.NextRecord()) {
    screen.Locate(kProgressRow, 1);
    screen.PrintText(ProgressLine(walk.RecordIndex(), walk.Address(), walk.DataCount()));
    const std::uint8_t space_byte = walk.SpaceByte();
    for (image::Word word; walk.NextWord(word);) {
      job::SendByte(ctx, space_byte);
      job::SendByte(ctx, HighByte(word.address));
      job::SendByte(ctx, LowByte(word.address));
      if (AwaitBytesOrEscape(ctx, 2) == Outcome::kEscape) return Outcome::kEscape;
      const std::uint8_t g0 = ReadOneByte(ctx);
      const std::uint8_t g1 = ReadOneByte(ctx);
      if (g0 == word.b0 && g1 == word.b1) continue;
      ctx.console.Beep();
      screen.Locate(kPromptRow, 1);
      screen.SetColours(console::kYellow, console::kBlue, 0);
      screen.PrintText(ReadBackMismatchLine(word.b0, g0, word.b1, g1));
      if (IsEscape(console::WaitForKey(ctx.console))) return Outcome::kEscape;
    }
  }
  return Outcome::kCompleted;
}

void ShowProgramTime(job::RunContext& ctx, const UploadState& state) {
  const double elapsed = ctx.clock.Seconds() - state.transfer_start;
  auto& screen = ctx.console.Screen();
  screen.Locate(kProgramTimeRow, 1);
  screen.PrintText(console::FormatPicture("Program Time is ##.## S", elapsed));
  screen.NewLine();
}

void CloseAndWaitForKey(job::RunContext& ctx) {
  ctx.errors.Latch(ctx.port.Close());
  auto& screen = ctx.console.Screen();
  screen.Locate(kPromptRow, 1);
  screen.SetColours(console::kYellow, console::kBlue, 0);
  screen.PrintText("Hit any key to return to main menu");
  screen.NewLine();
  (void)console::WaitForKey(ctx.console);
  screen.SetColours(console::kBrightWhite, console::kBlack, 0);
}

}  // namespace

void ShowTimeAndClose(job::RunContext& ctx, const UploadState& state) {
  ctx.priority.Normal();
  ShowProgramTime(ctx, state);
  CloseAndWaitForKey(ctx);
}

void VerifyAndClose(job::RunContext& ctx, const UploadState& state) {
  ctx.priority.Normal();
  if (AwaitBytesOrEscape(ctx, 2) == Outcome::kEscape) {
    ShowTimeAndClose(ctx, state);
    return;
  }
  auto& screen = ctx.console.Screen();
  const std::uint8_t c1 = ReadOneByte(ctx);

  std::string sums = console::Hex(state.even_xor);
  ZoneStep(sums);
  sums += console::Hex(state.odd_xor);
  ZoneStep(sums);
  sums += console::Hex(state.even_xor ^ 0xFFu);
  ZoneStep(sums);
  sums += console::Hex(state.odd_xor ^ 0xFFu);
  screen.Locate(kXorRow, 1);
  screen.PrintText(sums);
  screen.NewLine();

  std::string got = console::Hex(c1);
  ZoneStep(got);
  screen.Locate(kChecksumRow, 1);
  screen.PrintText(got);

  // The radio complements its sums over an odd number of words.
  const std::uint8_t flip = (state.word_attempt_count % 2 != 0) ? 0xFF : 0x00;
  const auto e0 = static_cast<std::uint8_t>(state.even_xor ^ flip);
  const auto e1 = static_cast<std::uint8_t>(state.odd_xor ^ flip);

  const std::uint8_t c2 = ReadOneByte(ctx);
  screen.PrintText(console::Hex(c2));
  screen.NewLine();

  if (c1 == e0 && c2 == e1) {
    WriteVerdict(ctx, kChecksumAccepted);
    ShowTimeAndClose(ctx, state);
    return;
  }
  ctx.console.Beep();
  screen.SetColours(console::kYellow, console::kBlue, 0);
  screen.PrintText("CHECK SUM ERROR!!!");
  screen.NewLine();
  WriteVerdict(ctx, kChecksumRejected);
  if (ReadBackPass(ctx) == Outcome::kEscape) {
    ShowTimeAndClose(ctx, state);
    return;
  }
  CloseAndWaitForKey(ctx);
}

}  // namespace tvx::direct
