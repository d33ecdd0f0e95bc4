#include "terminal/tx_ring.h"

#include <algorithm>
#include <cstring>

namespace tvx::terminal {

void TxRing::Reset() {
  pending_.store(0, std::memory_order_release);
  head_ = 0;
  tail_ = 0;
}

std::size_t TxRing::Enqueue(std::span<const std::uint8_t> bytes) {
  // Only this thread adds, so the room seen here can only grow until the add below.
  const std::int32_t pending = pending_.load(std::memory_order_acquire);
  if (pending < 0 || bytes.empty()) return 0;
  const auto count = static_cast<std::int32_t>(
      std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(kSize - pending)));
  if (count == 0) return 0;

  const std::int32_t first = std::min(count, kSize - head_);
  std::memcpy(storage_.data() + head_, bytes.data(), static_cast<std::size_t>(first));
  std::memcpy(storage_.data(), bytes.data() + first, static_cast<std::size_t>(count - first));
  head_ = (head_ + count) & kMask;

  const std::int32_t before = pending_.fetch_add(count, std::memory_order_release);
  // The writer sleeps only on an empty ring; a stop request that came in between also wakes it
  // itself.
  if (before == 0) WakeWriter();
  return static_cast<std::size_t>(count);
}

std::int32_t TxRing::Room() const {
  const std::int32_t pending = pending_.load(std::memory_order_acquire);
  return pending < 0 ? 0 : kSize - pending;
}

void TxRing::RequestStop() {
  pending_.store(kStopRequest, std::memory_order_release);
  WakeWriter();
}

void TxRing::WakeWriter() {
  // The writer tests pending under the mutex before it sleeps: passing through the mutex after
  // the change means it either sees the new value or is asleep already and gets the notify.
  { std::lock_guard lock(idle_mutex_); }
  idle_.notify_all();
}

std::span<const std::uint8_t> TxRing::AwaitRun() {
  for (;;) {
    const std::int32_t pending = pending_.load(std::memory_order_acquire);
    if (pending < 0) return {};
    if (pending == 0) {
      std::unique_lock lock(idle_mutex_);
      idle_.wait(lock, [this] { return pending_.load(std::memory_order_acquire) != 0; });
      continue;
    }
    const std::int32_t run = std::min(pending, kSize - tail_);
    return {storage_.data() + tail_, static_cast<std::size_t>(run)};
  }
}

void TxRing::Consumed(std::size_t written) {
  if (written == 0) return;
  const auto count = static_cast<std::int32_t>(written);
  tail_ = (tail_ + count) & kMask;
  // After a stop request this leaves pending negative: the writer still ends.
  pending_.fetch_sub(count, std::memory_order_release);
}

}  // namespace tvx::terminal
