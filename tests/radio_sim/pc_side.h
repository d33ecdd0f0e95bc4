// Test code that plays the PC against the simulated radio in-process: a wire that feeds bytes
// at a chosen time and returns the radio's answer, and the PC's side of the direct upload built
// from the shared protocol helpers and the image walk (what the real uploader does, without the
// screen and the operator).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "direct/protocol.h"
#include "image/firmware_image.h"
#include "radio_sim/radio.h"

namespace tvx::testing {

using Bytes = std::vector<std::uint8_t>;

class Wire {
 public:
  explicit Wire(const sim::RadioConfig& config) : radio(config) {}

  Bytes Send(std::span<const std::uint8_t> bytes) {
    out.Clear();
    radio.Feed(bytes, line, now, out);
    return Bytes(out.Bytes().begin(), out.Bytes().end());
  }
  Bytes Send(std::initializer_list<std::uint8_t> bytes) {
    return Send(std::span<const std::uint8_t>(bytes.begin(), bytes.size()));
  }
  /// Lets `seconds` pass and returns what the radio sent meanwhile.
  Bytes Wait(double seconds) {
    now += seconds;
    out.Clear();
    radio.Advance(line, now, out);
    return Bytes(out.Bytes().begin(), out.Bytes().end());
  }

  sim::Radio radio;
  sim::RadioOutput out;
  sim::LineState line;  // unknown: no line checks unless a test sets it
  double now = 100.0;
};

/// The PC's side of the direct upload.
class DirectPc {
 public:
  explicit DirectPc(Wire& wire) : w_(wire) {}

  /// "4", access code, divisor, challenge with the uploader's pauses; returns what the radio
  /// sent after the pause that follows "4" (the uploader throws away what came before).
  Bytes Handshake(std::uint8_t divisor = direct::kHighSpeedDivisor,
                  std::uint16_t challenge = 0x1234) {
    w_.Send({direct::kProgramCommand});
    w_.Wait(0.3);
    Bytes got;
    auto send = [&](std::uint8_t b, double pause) {
      for (const Bytes& part : {w_.Send({b}), w_.Wait(pause)}) {
        got.insert(got.end(), part.begin(), part.end());
      }
    };
    for (std::uint8_t b : direct::kAccessCode) send(b, 0.01);
    send(divisor, 0.01);
    send(direct::HighByte(challenge), 0.01);
    send(direct::LowByte(challenge), 0.0);
    return got;
  }

  /// Starts the erase and waits for its end; true when the radio said 0xAA and nothing else.
  bool Erase() {
    Bytes got = w_.Send({direct::kStartErase});
    const Bytes later = w_.Wait(1.0);
    got.insert(got.end(), later.begin(), later.end());
    return got == Bytes{direct::kEraseDone};
  }

  enum class Outcome { kOk, kNoEcho, kBadEcho, kNoReply, kBadReply };

  /// One word attempt, counted and folded like the uploader does. `reply_tail` receives
  /// whatever came after the reply byte (the checksum after the last word).
  Outcome Attempt(std::uint8_t space, std::uint16_t address, std::uint8_t b0, std::uint8_t b1,
                  Bytes* reply_tail = nullptr) {
    ++attempts;
    sum.Add(b0, b1);
    const Bytes echo = w_.Send({space, direct::HighByte(address), direct::LowByte(address)});
    if (echo.empty()) return Outcome::kNoEcho;
    if (echo != Bytes{direct::HighByte(address), direct::LowByte(address)}) {
      return Outcome::kBadEcho;
    }
    const direct::DataFrame f = direct::MakeDataFrame(address, b0, b1);
    const Bytes reply = w_.Send({f.d0, f.d1, f.check});
    if (reply_tail != nullptr)
      reply_tail->assign(reply.begin() + (reply.empty() ? 0 : 1), reply.end());
    if (reply.empty()) return Outcome::kNoReply;
    return reply[0] == f.expected_reply ? Outcome::kOk : Outcome::kBadReply;
  }

  /// Four 0xFF in one write, then whatever the radio says is thrown away.
  void Resync() {
    w_.Send({0xFF, 0xFF, 0xFF, 0xFF});
    ++resyncs;
  }

  /// Sends every word of `image`, resending a word after a resync whenever an answer is missing
  /// or wrong (an operator who always says yes). Returns the bytes after the last reply.
  Bytes Upload(std::span<const std::uint8_t> image) {
    image::RecordBuffer buffer{};
    image::ImageWalk walk(image, buffer);
    Bytes tail;
    while (walk.NextRecord()) {
      for (image::Word word; walk.NextWord(word);) {
        while (Attempt(walk.SpaceByte(), word.address, word.b0, word.b1, &tail) != Outcome::kOk) {
          Resync();
        }
      }
    }
    return tail;
  }

  image::PairChecksum sum;  ///< over every attempt, as the uploader keeps it
  std::uint32_t attempts = 0;
  std::uint32_t resyncs = 0;

 private:
  Wire& w_;
};

}  // namespace tvx::testing
