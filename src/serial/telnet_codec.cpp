#include "serial/telnet_codec.h"

#include <algorithm>

namespace tvx::serial::telnet {
namespace {

// The slot of an option the port negotiates, or -1.
int SlotOf(std::uint8_t option) {
  switch (option) {
    case kOptionBinary:
      return 0;
    case kOptionSuppressGoAhead:
      return 1;
    case kOptionComPort:
      return 2;
    default:
      return -1;
  }
}

void Say(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
  // One byte at a time: GCC 12 at -O3 takes an insert of a short list for an overflow.
  out.push_back(kIac);
  out.push_back(verb);
  out.push_back(option);
}

}  // namespace

void AppendEscaped(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) {
  out.reserve(out.size() + data.size() + 4);
  for (const std::uint8_t b : data) {
    out.push_back(b);
    if (b == kIac) out.push_back(kIac);
  }
}

std::vector<std::uint8_t> OpeningNegotiation() {
  std::vector<std::uint8_t> out;
  Say(out, kWill, kOptionBinary);
  Say(out, kDo, kOptionBinary);
  Say(out, kWill, kOptionSuppressGoAhead);
  Say(out, kDo, kOptionSuppressGoAhead);
  Say(out, kWill, kOptionComPort);
  return out;
}

std::vector<std::uint8_t> ComRequest(ComCommand command, std::span<const std::uint8_t> value) {
  std::vector<std::uint8_t> out{kIac, kSb, kOptionComPort, static_cast<std::uint8_t>(command)};
  AppendEscaped(value, out);
  out.push_back(kIac);
  out.push_back(kSe);
  return out;
}

std::vector<std::uint8_t> SetBaudRate(std::uint32_t bits_per_second) {
  const std::uint8_t value[4] = {
      static_cast<std::uint8_t>(bits_per_second >> 24),
      static_cast<std::uint8_t>(bits_per_second >> 16),
      static_cast<std::uint8_t>(bits_per_second >> 8),
      static_cast<std::uint8_t>(bits_per_second),
  };
  return ComRequest(ComCommand::kSetBaudRate, value);
}

std::vector<std::uint8_t> ComRequestByte(ComCommand command, std::uint8_t value) {
  return ComRequest(command, std::span<const std::uint8_t>(&value, 1));
}

std::uint32_t ComReply::Number() const {
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < size; ++i) n = (n << 8) | value[i];
  return n;
}

Reader::Reader() {
  for (OptionState& s : local_) s.requested = true;
  remote_[kBinarySlot].requested = true;
  remote_[kSgaSlot].requested = true;
  sub_.reserve(kMaxSub);
}

void Reader::Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
                  ReadEvents& events) {
  for (const std::uint8_t b : bytes) {
    switch (state_) {
      case State::kData:
        if (b == kIac) {
          state_ = State::kIac;
        } else {
          data.push_back(b);
        }
        break;
      case State::kIac:
        if (b == kIac) {
          data.push_back(kIac);
          state_ = State::kData;
        } else if (b >= kWill && b <= kDont) {
          verb_ = b;
          state_ = State::kVerb;
        } else if (b == kSb) {
          sub_.clear();
          sub_overflow_ = false;
          state_ = State::kSb;
        } else {
          state_ = State::kData;  // NOP, GA, a stray SE and the rest: nothing to do
        }
        break;
      case State::kVerb:
        Negotiate(verb_, b, events);
        state_ = State::kData;
        break;
      case State::kSb:
        if (b == kIac) {
          state_ = State::kSbIac;
        } else if (sub_.size() < kMaxSub) {
          sub_.push_back(b);
        } else {
          sub_overflow_ = true;
        }
        break;
      case State::kSbIac:
        if (b == kIac) {
          if (sub_.size() < kMaxSub) {
            sub_.push_back(kIac);
          } else {
            sub_overflow_ = true;
          }
          state_ = State::kSb;
        } else if (b == kSe) {
          EndSub(events);
          state_ = State::kData;
        } else {
          // A command inside a sub-negotiation ends it unfinished: drop it and read the byte as
          // the command after an IAC.
          state_ = State::kIac;
          const std::uint8_t again = b;
          Feed(std::span<const std::uint8_t>(&again, 1), data, events);
        }
        break;
    }
  }
}

void Reader::Negotiate(std::uint8_t verb, std::uint8_t option, ReadEvents& events) {
  const int slot = SlotOf(option);
  if (verb == kDo || verb == kDont) {
    // About what we do.
    if (slot < 0) {
      if (verb == kDo && !refused_do_[option]) {
        refused_do_[option] = true;
        Say(events.answers, kWont, option);
      }
      return;
    }
    OptionState& s = local_[slot];
    if (verb == kDo) {
      if (!s.enabled && !s.requested) Say(events.answers, kWill, option);
      s.enabled = true;
      s.refused = false;
    } else {
      if (s.enabled && !s.requested) Say(events.answers, kWont, option);
      s.refused = s.requested || s.refused;
      s.enabled = false;
    }
    s.requested = false;
    return;
  }
  // WILL or WONT: about what the server does.
  if (slot < 0 || slot == kComSlot) {
    if (verb == kWill && !refused_will_[option]) {
      refused_will_[option] = true;
      Say(events.answers, kDont, option);
    }
    return;
  }
  OptionState& s = remote_[slot];
  if (verb == kWill) {
    if (!s.enabled && !s.requested) Say(events.answers, kDo, option);
    s.enabled = true;
    s.refused = false;
  } else {
    if (s.enabled && !s.requested) Say(events.answers, kDont, option);
    s.refused = s.requested || s.refused;
    s.enabled = false;
  }
  s.requested = false;
}

void Reader::EndSub(ReadEvents& events) {
  if (sub_overflow_ || sub_.size() < 2 || sub_[0] != kOptionComPort) return;
  const std::uint8_t code = sub_[1];
  if (code < 100 || code >= 100 + kComCommandCount || code == 100) return;
  const auto command = static_cast<ComCommand>(code - 100);
  const std::span<const std::uint8_t> value = std::span(sub_).subspan(2);
  if (command == ComCommand::kNotifyLineState) {
    if (!value.empty()) events.line_errors |= value[0] & kLineStateErrors;
    return;
  }
  if (command == ComCommand::kNotifyModemState || command == ComCommand::kFlowControlSuspend ||
      command == ComCommand::kFlowControlResume) {
    return;  // no modem lines watched, no flow control asked for
  }
  ComReply reply;
  reply.command = command;
  reply.size = std::min<std::size_t>(value.size(), reply.value.size());
  for (std::size_t i = 0; i < reply.size; ++i) reply.value[i] = value[i];
  events.replies.push_back(reply);
}

}  // namespace tvx::serial::telnet
