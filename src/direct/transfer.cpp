// The record transfer: every two-byte word of the image goes out as an address frame that the
// radio echoes and a masked data frame that it answers with one byte. The radio's answers pace
// the transfer; a missing or wrong answer is put to the operator on row 30.
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

constexpr int kHintRow = 24;
constexpr int kProgressRow = 25;
constexpr std::int32_t kProgressLimit = 7;  // refresh on every eighth record

enum class WordResult { kDone, kAbort, kLineDead };

// Asks the radio to drop what it has of the current word: four 0xFF bytes, then whatever is
// already in the receive queue is thrown away (no error report).
void Resync(job::RunContext& ctx) {
  static constexpr std::array<std::uint8_t, 4> kResync = {kResyncByte, kResyncByte, kResyncByte,
                                                          kResyncByte};
  job::Send(ctx, kResync);
  const std::size_t waiting = job::BytesWaiting(ctx);
  if (waiting > 0) (void)job::Receive(ctx, waiting);
}

// Sends the address frame and counts the attempt where the radio counts it: once the whole
// frame is out. A frame cut short by a failed send is not one the radio can count.
void SendAddressFrame(job::RunContext& ctx, UploadState& state, std::uint8_t space_byte,
                      const image::Word& word, int& attempts) {
  bool whole = job::SendByte(ctx, space_byte);
  whole = job::SendByte(ctx, HighByte(word.address)) && whole;
  whole = job::SendByte(ctx, LowByte(word.address)) && whole;
  if (!whole) return;
  ++state.word_attempt_count;
  state.even_xor ^= word.b0;
  state.odd_xor ^= word.b1;
  // A word that goes out an even number of times cancels out of both sums, on the radio's side
  // too: the checksum cannot vouch for it.
  if (++attempts == 2) ++state.resent_words;
}

// One word, attempted until it is answered correctly, the operator gives up or the line dies.
// Every attempt counts, so a word sent twice cancels out of the XOR sums.
WordResult ExchangeWord(job::RunContext& ctx, UploadState& state, std::uint8_t space_byte,
                        const image::Word& word) {
  const std::uint8_t address_high = HighByte(word.address);
  const std::uint8_t address_low = LowByte(word.address);
  auto& port = ctx.port;
  int attempts = 0;
  for (;;) {
    SendAddressFrame(ctx, state, space_byte, word, attempts);

    const WaitEvent echo_wait = AwaitBytesOrKey(ctx, 2);
    if (echo_wait == WaitEvent::kLineDead) return WordResult::kLineDead;
    if (echo_wait == WaitEvent::kStop) return WordResult::kAbort;
    if (echo_wait == WaitEvent::kKey) {
      // The key that opens this prompt is itself the first answer: Escape leaves at once.
      if (console::IsEscape(ctx.console.ReadKey())) return WordResult::kAbort;
      if (AskOnPromptRow(ctx, AddressWaitPrompt(), false, false)) return WordResult::kAbort;
      Resync(ctx);
      continue;
    }
    std::array<std::uint8_t, 2> echo{};
    (void)port.Read(echo);
    if (echo[0] != address_high || echo[1] != address_low) {
      const auto got = static_cast<std::uint16_t>((echo[0] << 8) | echo[1]);
      if (AskOnPromptRow(ctx, AddressEchoPrompt(word.address, got), true, false)) {
        return WordResult::kAbort;
      }
      Resync(ctx);
      continue;
    }

    const DataFrame frame = MakeDataFrame(word.address, word.b0, word.b1);
    ctx.send_buffer[0] = frame.d0;
    ctx.send_buffer[1] = frame.d1;
    ctx.send_buffer[2] = frame.check;
    const std::span<const std::uint8_t> data_frame(ctx.send_buffer.data(), 3);
    while (port.Write(data_frame) < data_frame.size()) {
      // A dead port is not offered a resend.
      if (job::LineDead(ctx)) {
        job::ErrorReport(ctx.errors, ctx.console);
        return WordResult::kLineDead;
      }
      if (AskOnPromptRow(ctx, DataTransmitPrompt(), true, true)) return WordResult::kAbort;
    }

    const WaitEvent reply_wait = AwaitBytesOrKey(ctx, 1);
    if (reply_wait == WaitEvent::kLineDead) return WordResult::kLineDead;
    if (reply_wait == WaitEvent::kStop) return WordResult::kAbort;
    if (reply_wait == WaitEvent::kKey) {
      (void)ctx.console.ReadKey();  // opens the prompt, even when it is Escape
      if (AskOnPromptRow(ctx, DataWaitPrompt(word.address), false, false)) {
        return WordResult::kAbort;
      }
      Resync(ctx);
      continue;
    }
    std::array<std::uint8_t, 1> reply{};
    (void)port.Read(reply);
    if (reply[0] != frame.expected_reply) {
      if (AskOnPromptRow(ctx, BadDataPrompt(frame.d1, reply[0], word.address), true, true)) {
        return WordResult::kAbort;
      }
      Resync(ctx);
      continue;
    }
    return WordResult::kDone;
  }
}

}  // namespace

std::int64_t CountWords(const job::RunContext& ctx) {
  image::RecordBuffer buffer{};
  image::ImageWalk walk(ctx.image, buffer);
  std::int64_t words = 0;
  while (walk.NextRecord()) {
    for (image::Word word; walk.NextWord(word);) ++words;
  }
  return words;
}

void ShowProgressLine(job::RunContext& ctx, const image::ImageWalk& walk) {
  std::string line = console::FormatPicture("#####   ", walk.RecordIndex());
  line += console::Hex(walk.Address());
  ZoneStep(line);
  line += console::PlainNumber(walk.DataCount());
  auto& screen = ctx.console.Screen();
  screen.Locate(kProgressRow, 1);
  screen.PrintText(line);
}

TransferResult RunTransfer(job::RunContext& ctx, UploadState& state) {
  auto& screen = ctx.console.Screen();
  const std::int64_t total_words = CountWords(ctx);
  std::int64_t& words_done = state.words_done;
  words_done = 0;
  if (!job::Pause(ctx, 1000)) return TransferResult::kInterrupted;
  state.transfer_start = ctx.clock.Seconds();
  screen.PrintText("Starting Download");
  screen.NewLine();
  ctx.monitor->Phase("Starting Download");
  ctx.monitor->Progress(0, total_words);
  screen.Locate(kHintRow, 1);
  screen.PrintText("If Programing Pauses, Press <Enter> for Retry");
  screen.NewLine();
  state.even_xor = 0;
  state.odd_xor = 0;

  image::ImageWalk walk(ctx.image, ctx.record_buffer);
  while (walk.NextRecord()) {
    if (++ctx.progress_counter > kProgressLimit) {
      ctx.progress_counter = 0;
      ShowProgressLine(ctx, walk);
    }
    const std::uint8_t space_byte = walk.SpaceByte();
    ctx.priority.RaiseRealtime();
    for (image::Word word; walk.NextWord(word);) {
      const WordResult result = ExchangeWord(ctx, state, space_byte, word);
      if (result != WordResult::kDone) {
        ctx.priority.Normal();
        if (result == WordResult::kLineDead) return TransferResult::kLineDead;
        return job::StopRequested(ctx) ? TransferResult::kInterrupted : TransferResult::kAborted;
      }
      ctx.monitor->Progress(++words_done, total_words);
      // The word is answered: a stop request ends the transfer here, before the next one.
      if (job::StopRequested(ctx)) {
        ctx.priority.Normal();
        return TransferResult::kInterrupted;
      }
    }
    ctx.priority.Normal();
    if (walk.Ended()) return TransferResult::kWalkEnded;
    // Between records a pending key is taken: Escape gives up, anything else is dropped.
    if (console::IsEscape(ctx.console.ReadKey())) return TransferResult::kAborted;
  }
  return TransferResult::kWalkEnded;
}

}  // namespace tvx::direct
