#include "base/waiting.h"

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

std::atomic<Clock*> installedClock{nullptr};

// Raised by HoldCancel, lowered only by ResetWaitingState.
std::atomic<uint8_t> cancelHeld{0};

}  // namespace

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
