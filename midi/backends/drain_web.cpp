// The drain notices and the drain wait in the web build, which has one thread
// (drain_threads.cpp is the one with threads): a timer of the page's event loop asks whether the
// bytes have left, and the closing wait hands the thread to the event loop between its looks.
#include <vector>

#include "base/event_loop_web.h"
#include "base/waiting.h"
#include "midi/backends/drain.h"

namespace kfw {

struct DrainNotifier::Asker {
  Asker(std::function<bool()> isDrained, std::function<std::chrono::microseconds()> again)
      : drained(std::move(isDrained)), lookAgainIn(std::move(again)), timer([this] { Ask(); }) {}

  // Every request is older than the question, since the question cannot be interrupted: a yes
  // answers them all.
  void Ask() {
    if (!drained()) {
      timer.Start(static_cast<double>(lookAgainIn().count()) / 1000.0);
      return;
    }
    std::vector<std::function<void()>> due = std::move(pending);
    pending.clear();
    for (auto& done : due) done();
  }

  std::function<bool()> drained;
  std::function<std::chrono::microseconds()> lookAgainIn;
  std::vector<std::function<void()>> pending;
  web::Timer timer;
};

DrainNotifier::DrainNotifier(std::function<bool()> drained,
                             std::function<std::chrono::microseconds()> lookAgainIn)
    : asker_(std::make_unique<Asker>(std::move(drained), std::move(lookAgainIn))) {}

DrainNotifier::~DrainNotifier() = default;

// The notice never comes from inside Request: the sender may hold its output's lock, and expects
// the notice later, as from the backend's thread elsewhere.
void DrainNotifier::Request(std::function<void()> done) {
  asker_->pending.push_back(std::move(done));
  if (!asker_->timer.Pending()) asker_->timer.Start(0);
}

void WaitForDrain(OutputConnection& connection, std::chrono::milliseconds bound) {
  Clock& clock = SystemClock();
  const uint64_t deadline = clock.NowMicroseconds() + static_cast<uint64_t>(bound.count()) * 1000;
  while (!connection.Drained() && clock.NowMicroseconds() < deadline) clock.SleepMilliseconds(1);
}

}  // namespace kfw
