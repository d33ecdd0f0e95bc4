// The TxRing: 1024 bytes that the terminal's keys wait in until the TxWriterThread has written
// them to the port, so the screen never stalls on a busy port. When the port falls behind by a
// whole ring, the screen stops taking keys (Room) until the writer has made room: the user's
// terminal holds them meanwhile, and none is dropped.
//
// Two threads share it without a lock. The main thread stores bytes at head and adds them to
// pending; the writer writes from tail and subtracts what the port took. pending is the only
// value both change, always atomically: the add has release order after the bytes are stored
// and the writer loads it with acquire order before it reads them, so the writer never sees a
// count for a byte not yet in place; the subtract has release order too, so a slot the writer
// gave back is read by it before the main thread stores into it again. A negative pending is the
// request for the writer to end. The writer sleeps on an empty ring on a condition variable whose
// mutex guards only that sleep, never the count: std::atomic's own wait loses wake-ups in some
// standard libraries (mingw-w64's libstdc++ 12 among them), which would leave typed keys unsent.
//
// Invariants while the terminal runs: 0 <= pending <= 1024, head = (tail + pending) mod 1024.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

namespace tvx::terminal {

class TxRing {
 public:
  static constexpr std::int32_t kSize = 1024;
  static constexpr std::int32_t kStopRequest = -2;

  /// pending, head and tail to 0. Only while no writer runs.
  void Reset();

  // --- Main thread -------------------------------------------------------------------------

  /// Appends the bytes in order; bytes that find the ring full (1024 unsent) are dropped, as
  /// are all bytes once a stop was requested. Never blocks. Returns how many were stored.
  /// Callers that must lose nothing ask Room first.
  std::size_t Enqueue(std::span<const std::uint8_t> bytes);
  /// Bytes that Enqueue would store now: 1024 less the unsent ones, 0 once a stop was
  /// requested. Only grows until this thread enqueues again.
  std::int32_t Room() const;
  /// Asks the writer to end: unsent bytes are dropped and the writer wakes if it idles.
  void RequestStop();

  // --- Writer thread -----------------------------------------------------------------------

  /// Blocks while the ring is empty (no CPU used). Returns the unsent bytes from tail up to the
  /// physical end of the ring at most; an empty span when a stop was requested.
  std::span<const std::uint8_t> AwaitRun();
  /// The port took the first `written` bytes of the run: tail moves on, pending goes down.
  void Consumed(std::size_t written);
  bool StopRequested() const { return pending_.load(std::memory_order_acquire) < 0; }

  // --- Either thread, for tests and diagnostics --------------------------------------------

  std::int32_t Pending() const { return pending_.load(std::memory_order_acquire); }
  /// head is the main thread's; read it there.
  std::int32_t Head() const { return head_; }
  /// tail is the writer's; read it only while the writer idles or is not running.
  std::int32_t Tail() const { return tail_; }
  /// The whole storage (a write never runs past its end).
  std::span<const std::uint8_t> Storage() const { return storage_; }

 private:
  static constexpr std::int32_t kMask = kSize - 1;

  // Wakes the writer if it sleeps on an empty ring; call after changing pending.
  void WakeWriter();

  std::array<std::uint8_t, kSize> storage_{};
  std::atomic<std::int32_t> pending_{0};
  std::int32_t head_ = 0;  // main thread only
  std::int32_t tail_ = 0;  // writer thread only
  std::mutex idle_mutex_;  // the writer's sleep on an empty ring only
  std::condition_variable idle_;
};

}  // namespace tvx::terminal
