// The system clock where the program has threads (Linux, Windows): a sleep sleeps the calling
// thread, and a fast wait blocks it on a condition variable that Wake notifies from the driver's
// thread. The web build's counterpart is waiting_web.cpp.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/waiting.h"

namespace kfw {

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

}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

}  // namespace kfw
