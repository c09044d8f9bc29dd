#include "base/waiting.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kfw {

std::atomic<uint8_t> CancelFlag{0};
std::atomic<bool> fastMode{false};

bool Clock::WaitUntil(uint64_t deadlineMicros, const std::function<bool()>& ready) {
  if (ready()) return true;
  const uint64_t now = NowMicroseconds();
  if (deadlineMicros > now) {
    SleepMilliseconds(static_cast<uint32_t>((deadlineMicros - now + 999) / 1000));
  }
  return ready();
}

namespace {

class RealClock final : public Clock {
 public:
  void SleepMilliseconds(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  uint64_t NowMicroseconds() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }

  // ready() is looked at under the lock, and Wake takes the lock after its caller has published
  // what ready() reads: either the look comes after the lock was released by Wake, and so sees
  // the publication, or it comes before Wake took the lock, and then the waiter is already inside
  // wait_for (which releases the lock atomically) when the notification comes. No wake is lost.
  bool WaitUntil(uint64_t deadlineMicros, const std::function<bool()>& ready) override {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (ready()) return true;
      const uint64_t now = NowMicroseconds();
      if (now >= deadlineMicros) return false;
      wake_.wait_for(lock, std::chrono::microseconds(deadlineMicros - now));
    }
  }

  void Wake() override {
    { std::lock_guard lock(mutex_); }
    wake_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
};

std::atomic<Clock*> installedClock{nullptr};

// Raised by HoldCancel, lowered only by ResetWaitingState.
std::atomic<uint8_t> cancelHeld{0};

}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

void InstallClock(Clock* clock) { installedClock.store(clock, std::memory_order_release); }

Clock& CurrentClock() {
  Clock* clock = installedClock.load(std::memory_order_acquire);
  return clock ? *clock : SystemClock();
}

void WaitTicks(uint32_t n) { CurrentClock().SleepMilliseconds((n & 0xFF) * kTickMilliseconds); }

void RequestCancel() { CancelFlag.store(1, std::memory_order_relaxed); }

bool CancelRequested() { return CancelFlag.load(std::memory_order_relaxed) != 0; }

void HoldCancel() {
  // The hold first: ClearCancel reads it after lowering the flag, so whichever order the two
  // interleave in, the last store to the flag is a 1 (see ClearCancel).
  cancelHeld.store(1, std::memory_order_seq_cst);
  CancelFlag.store(1, std::memory_order_seq_cst);
}

void ClearCancel() {
  // Lower first, then look for a hold. If the hold is not seen, HoldCancel's store of the hold
  // comes after this load in the single order of these sequentially consistent operations, so its
  // store of 1 to the flag comes after the store of 0 here; if it is seen, the 1 is put back.
  // Either way a held cancel survives, which a load-then-store could not promise.
  CancelFlag.store(0, std::memory_order_seq_cst);
  if (cancelHeld.load(std::memory_order_seq_cst)) CancelFlag.store(1, std::memory_order_seq_cst);
}

namespace internal {
void ResetWaitingState() {
  fastMode.store(false);
  cancelHeld.store(0);
  ClearCancel();
  InstallClock(nullptr);
}
}  // namespace internal

}  // namespace kfw
