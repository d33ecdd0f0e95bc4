// A port that stops hearing the radio while the line stays up, as when the radio's transmit
// wire breaks: after HearOnly(n) the next n bytes the radio sends are read as ever, and every
// byte after them is taken from the port and thrown away unseen. Single-threaded, like the
// port it wraps.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/forwarding_port.h"

namespace tvx::testing {

class DeafPort final : public ForwardingPort {
 public:
  using ForwardingPort::ForwardingPort;

  /// From now on only the next `count` bytes from the radio are heard.
  void HearOnly(std::size_t count) {
    deaf_ = true;
    let_through_ = count;
  }
  bool Deaf() const { return deaf_ && let_through_ == 0; }

  serial::WaitingCount BytesWaiting() override {
    Drop();
    serial::WaitingCount waiting = Inner().BytesWaiting();
    if (deaf_) waiting.count = std::min(waiting.count, let_through_);
    return waiting;
  }
  std::size_t Read(std::span<std::uint8_t> into) override {
    Drop();
    if (deaf_) into = into.first(std::min(into.size(), let_through_));
    const std::size_t got = into.empty() ? 0 : Inner().Read(into);
    if (deaf_) let_through_ -= got;
    return got;
  }
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override {
    Drop();
    Inner().AwaitActivity(also, timeout_ms);
    Drop();
  }

 private:
  // Throws away what came once nothing more is heard.
  void Drop() {
    if (!Deaf()) return;
    const serial::WaitingCount waiting = Inner().BytesWaiting();
    if (waiting.error != serial::kNoError || waiting.count == 0) return;
    std::vector<std::uint8_t> unheard(waiting.count);
    Inner().Read(unheard);
  }

  bool deaf_ = false;
  std::size_t let_through_ = 0;
};

}  // namespace tvx::testing
