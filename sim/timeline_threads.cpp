// Real time where the program has threads: a thread of the timeline's own runs each action at its
// instant. The web build's counterpart is timeline_web.cpp.
#include <chrono>
#include <condition_variable>
#include <thread>

#include "sim/timeline.h"

namespace kfw {

struct RealTimeline::Runner {
  Runner() : thread([this] { Run(); }) {}

  ~Runner() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    wake.notify_all();
    thread.join();
  }

  void Run() {
    std::unique_lock lock(mutex);
    while (!stopping) {
      if (actions.empty()) {
        wake.wait(lock);
        continue;
      }
      auto next = actions.begin();
      const uint64_t now = SystemClock().NowMicroseconds();
      if (next->first.first > now) {
        wake.wait_for(lock, std::chrono::microseconds(next->first.first - now));
        continue;
      }
      std::function<void()> action = std::move(next->second);
      actions.erase(next);
      lock.unlock();
      action();
      lock.lock();
    }
  }

  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  uint64_t sequence = 0;
  std::map<std::pair<uint64_t, uint64_t>, std::function<void()>> actions;
  std::thread thread;  // last: it starts once everything it uses is made
};

RealTimeline::RealTimeline() : runner_(std::make_unique<Runner>()) {}

RealTimeline::~RealTimeline() = default;

uint64_t RealTimeline::NowMicroseconds() {
  return SystemClock().NowMicroseconds();
}

void RealTimeline::At(uint64_t when, std::function<void()> action) {
  {
    std::lock_guard lock(runner_->mutex);
    runner_->actions.emplace(std::make_pair(when, runner_->sequence++), std::move(action));
  }
  runner_->wake.notify_all();
}

}  // namespace kfw
