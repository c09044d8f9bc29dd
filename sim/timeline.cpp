#include "sim/timeline.h"

#include <chrono>

namespace kfw {

void VirtualTime::SleepMilliseconds(uint32_t milliseconds) {
  uint64_t end;
  {
    std::lock_guard lock(mutex_);
    end = now_ + static_cast<uint64_t>(milliseconds) * 1000;
  }
  RunUntil(end);
}

uint64_t VirtualTime::NowMicroseconds() {
  std::lock_guard lock(mutex_);
  return now_;
}

void VirtualTime::At(uint64_t when, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  if (when < now_) when = now_;
  actions_.emplace(std::make_pair(when, sequence_++), std::move(action));
}

void VirtualTime::RunUntil(uint64_t when) {
  while (RunNext(when)) {
  }
}

bool VirtualTime::WaitUntil(uint64_t deadlineMicros, const std::function<bool()>& ready) {
  for (;;) {
    if (ready()) return true;
    if (!RunNext(deadlineMicros)) return ready();
  }
}

bool VirtualTime::RunNext(uint64_t when) {
  std::function<void()> action;
  {
    std::lock_guard lock(mutex_);
    auto next = actions_.begin();
    if (next == actions_.end() || next->first.first > when) {
      if (when > now_) now_ = when;
      return false;
    }
    now_ = next->first.first;
    action = std::move(next->second);
    actions_.erase(next);
  }
  // Without the lock: an action usually schedules further ones.
  action();
  return true;
}

size_t VirtualTime::PendingActions() {
  std::lock_guard lock(mutex_);
  return actions_.size();
}

RealTimeline::RealTimeline() : thread_([this] { Run(); }) {}

RealTimeline::~RealTimeline() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

uint64_t RealTimeline::NowMicroseconds() { return SystemClock().NowMicroseconds(); }

void RealTimeline::At(uint64_t when, std::function<void()> action) {
  {
    std::lock_guard lock(mutex_);
    actions_.emplace(std::make_pair(when, sequence_++), std::move(action));
  }
  wake_.notify_all();
}

void RealTimeline::Run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (actions_.empty()) {
      wake_.wait(lock);
      continue;
    }
    auto next = actions_.begin();
    const uint64_t now = NowMicroseconds();
    if (next->first.first > now) {
      wake_.wait_for(lock, std::chrono::microseconds(next->first.first - now));
      continue;
    }
    std::function<void()> action = std::move(next->second);
    actions_.erase(next);
    lock.unlock();
    action();
    lock.lock();
  }
}

}  // namespace kfw
