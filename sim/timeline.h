// Time for the simulated module: virtual (tests, the benchmark) or real (people trying the
// program without hardware).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "base/waiting.h"

namespace kfw {

// Runs actions at given instants.
class Timeline {
 public:
  virtual ~Timeline() = default;
  virtual uint64_t NowMicroseconds() = 0;
  // Runs action at `when` (or at once, if that has passed), after every action due earlier;
  // actions due at the same instant run in the order they were scheduled.
  virtual void At(uint64_t when, std::function<void()> action) = 0;
};

// Virtual time, for tests and the benchmark: also the procedures' clock. A sleep advances time to
// its end, running every action that falls due on the way on the sleeping thread, so replies reach
// the reply ring at exact virtual instants and a 30-second time-out costs no real time. A wait
// with a condition advances action by action and ends at the instant of the action that made the
// condition true; nothing needs waking, since every delivery runs inside the waits.
class VirtualTime final : public Clock, public Timeline {
 public:
  void SleepMilliseconds(uint32_t milliseconds) override;
  uint64_t NowMicroseconds() override;
  bool WaitUntil(uint64_t deadlineMicros, const std::function<bool()>& ready) override;
  void At(uint64_t when, std::function<void()> action) override;

  // Advances to `when`, running what falls due.
  void RunUntil(uint64_t when);
  size_t PendingActions();

 private:
  // Runs the next action due at or before `when` and returns true; false, with time advanced to
  // `when`, when none is due.
  bool RunNext(uint64_t when);

  std::mutex mutex_;
  uint64_t now_ = 0;
  uint64_t sequence_ = 0;
  std::map<std::pair<uint64_t, uint64_t>, std::function<void()>> actions_;
};

// Real time: a thread of its own runs each action at its instant (timeline_threads.cpp). That
// thread is the simulated driver's thread, on which the input callback runs. The web build has
// one thread: there the actions run as timers of the page's event loop, while the procedure's
// waits hand it the thread (timeline_web.cpp). Destroying the timeline drops what is pending.
class RealTimeline final : public Timeline {
 public:
  RealTimeline();
  ~RealTimeline() override;
  uint64_t NowMicroseconds() override;
  void At(uint64_t when, std::function<void()> action) override;

 private:
  struct Runner;  // the thread, or the event loop's timer
  std::unique_ptr<Runner> runner_;
};

}  // namespace kfw
