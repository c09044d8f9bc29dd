#include "sim/timeline.h"

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

}  // namespace kfw
