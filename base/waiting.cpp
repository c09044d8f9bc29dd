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

void ClearCancel() { CancelFlag.store(0, std::memory_order_relaxed); }

namespace internal {
void ResetWaitingState() {
  ClearCancel();
  InstallClock(nullptr);
}
}  // namespace internal

}  // namespace kfw
