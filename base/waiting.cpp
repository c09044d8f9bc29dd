#include "base/waiting.h"

#include <chrono>
#include <thread>

namespace kfw {

std::atomic<uint8_t> CancelFlag{0};

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
  cancelHeld.store(0);
  ClearCancel();
  InstallClock(nullptr);
}
}  // namespace internal

}  // namespace kfw
