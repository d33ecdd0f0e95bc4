// A port with bytes on the line that the radio did not send (noise, a second device on the
// line): the test puts them in from `on_query`, which runs before every bytes-waiting query,
// or at any time with Add. They are read before whatever the radio sent, and a wait returns at
// once while any is unread. Single-threaded, like the port it wraps.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "support/forwarding_port.h"

namespace tvx::testing {

class NoisyPort final : public ForwardingPort {
 public:
  using ForwardingPort::ForwardingPort;

  std::function<void(NoisyPort&)> on_query;
  void Add(const std::vector<std::uint8_t>& bytes) {
    stray_.insert(stray_.end(), bytes.begin(), bytes.end());
  }

  serial::WaitingCount BytesWaiting() override {
    if (on_query) on_query(*this);
    serial::WaitingCount waiting = Inner().BytesWaiting();
    if (waiting.error == serial::kNoError) waiting.count += stray_.size();
    return waiting;
  }
  std::size_t Read(std::span<std::uint8_t> into) override {
    const std::size_t n = std::min(into.size(), stray_.size());
    std::copy_n(stray_.begin(), n, into.begin());
    stray_.erase(stray_.begin(), stray_.begin() + static_cast<std::ptrdiff_t>(n));
    return n == into.size() ? n : n + Inner().Read(into.subspan(n));
  }
  void AwaitActivity(console::NativeWaitHandle also, int timeout_ms) override {
    if (stray_.empty()) Inner().AwaitActivity(also, timeout_ms);
  }

 private:
  std::vector<std::uint8_t> stray_;
};

}  // namespace tvx::testing
