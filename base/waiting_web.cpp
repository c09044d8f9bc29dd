// The system clock of the web build, which has one thread (waiting_threads.cpp is the one with
// threads): a sleep or a wait hands the thread to the page's event loop until its time is up, so
// that the MIDI message events, the simulated module's timers and the Cancel button's click run
// meanwhile. A fast wait ends at the event that makes its condition true: the MIDI message event
// feeds the reply ring and calls Wake, and the waiter goes on as soon as that event has returned,
// not at the next timer. That matters in a hidden tab, whose timers browsers slow to once a second
// or less while its events still come at once.
#include <chrono>

#include "base/event_loop_web.h"
#include "base/waiting.h"

namespace kfw {

namespace {

class EventLoopClock final : public Clock {
 public:
  // A normal-mode tick is a tick: Wake does not cut it short.
  void SleepMilliseconds(uint32_t milliseconds) override {
    const uint64_t end = NowMicroseconds() + uint64_t{milliseconds} * 1000;
    for (uint64_t now = NowMicroseconds(); now < end; now = NowMicroseconds()) {
      web::Suspend(static_cast<double>(end - now) / 1000.0, false);
    }
  }

  uint64_t NowMicroseconds() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }

  // One thread: no event runs between the look at ready() and the suspension, so a Wake cannot
  // fall between them and be lost, as the threads' clock needs its lock to promise.
  bool WaitUntil(uint64_t deadlineMicros, const std::function<bool()>& ready) override {
    for (;;) {
      if (ready()) return true;
      const uint64_t now = NowMicroseconds();
      if (now >= deadlineMicros) return false;
      web::Suspend(static_cast<double>(deadlineMicros - now) / 1000.0, true);
    }
  }

  // Called from an event (the input callback, an output's done notice) while the procedure
  // waits, or from the procedure itself, when nothing waits.
  void Wake() override { web::ResumeSuspended(); }
};

}  // namespace

Clock& SystemClock() {
  static EventLoopClock clock;
  return clock;
}

}  // namespace kfw
