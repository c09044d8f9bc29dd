// A clock that never sleeps: it records every sleep, advances its own time by it, and can run an
// action at each sleep (deliver bytes, raise Cancel) so a test decides what happens at every tick.
#pragma once

#include <cstdint>
#include <functional>
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

}  // namespace kfw::test
