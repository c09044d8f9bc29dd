// A clock that never sleeps: it records every sleep, advances its own time by it, and can run an
// action at each sleep (deliver bytes, raise Cancel) so a test decides what happens at every tick.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "base/waiting.h"

namespace kfw::test {

class CountingClock final : public Clock {
 public:
  // Installs itself as the procedures' clock; uninstalls on destruction.
  CountingClock() { InstallClock(this); }
  ~CountingClock() override { InstallClock(nullptr); }

  void SleepMilliseconds(uint32_t milliseconds) override {
    sleeps.push_back(milliseconds);
    now_ += static_cast<uint64_t>(milliseconds) * 1000;
    if (onSleep) onSleep(static_cast<uint32_t>(sleeps.size()));
  }
  uint64_t NowMicroseconds() override { return now_; }

  // Every sleep asked for, in milliseconds, in order.
  std::vector<uint32_t> sleeps;
  // Called after each sleep with the number of sleeps so far (1 for the first).
  std::function<void(uint32_t)> onSleep;

 private:
  uint64_t now_ = 0;
};

// Waits `duration` by the steady clock, for a CountingClock's sleeps in tests across threads.
// std::this_thread::sleep_for of a few microseconds does not sleep at all with MinGW (and 1.5 ms
// take about 1.15 ms): a wait that counts its time-out in such sleeps would run out at once.
inline void PauseFor(std::chrono::microseconds duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
}

}  // namespace kfw::test
