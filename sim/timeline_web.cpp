// Real time in the web build, which has one thread (timeline_threads.cpp is the one with a thread
// of its own): the actions run as timers of the page's event loop, while the procedure's waits
// hand it the thread. So the in-page simulated module answers from the event loop, as a real
// module's replies come as MIDI message events. One timer stands for the earliest action; when it
// fires it runs everything due by then, in order, and is started again for the next.
#include "base/event_loop_web.h"
#include "sim/timeline.h"

namespace kfw {

struct RealTimeline::Runner {
  Runner() : timer([this] { RunDue(); }) {}

  void RunDue() {
    running = true;
    while (!actions.empty()) {
      auto next = actions.begin();
      if (next->first.first > SystemClock().NowMicroseconds()) break;
      std::function<void()> action = std::move(next->second);
      actions.erase(next);
      // Actions it schedules join the map, and run in this round if they are due.
      action();
    }
    running = false;
    armedFor = kNotArmed;
    Arm();
  }

  // Starts the timer for the earliest action, unless it already stands for one as early.
  void Arm() {
    if (running || actions.empty()) return;
    const uint64_t next = actions.begin()->first.first;
    if (timer.Pending() && armedFor <= next) return;
    const uint64_t now = SystemClock().NowMicroseconds();
    armedFor = next;
    timer.Start(next > now ? static_cast<double>(next - now) / 1000.0 : 0);
  }

  static constexpr uint64_t kNotArmed = ~uint64_t{0};
  uint64_t sequence = 0;
  std::map<std::pair<uint64_t, uint64_t>, std::function<void()>> actions;
  bool running = false;
  uint64_t armedFor = kNotArmed;
  web::Timer timer;
};

RealTimeline::RealTimeline() : runner_(std::make_unique<Runner>()) {}

RealTimeline::~RealTimeline() = default;

uint64_t RealTimeline::NowMicroseconds() {
  return SystemClock().NowMicroseconds();
}

void RealTimeline::At(uint64_t when, std::function<void()> action) {
  runner_->actions.emplace(std::make_pair(when, runner_->sequence++), std::move(action));
  runner_->Arm();
}

}  // namespace kfw
