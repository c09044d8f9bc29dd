// The drain notices and the drain wait where the program has threads: the notifier asks on a
// thread of its own, the wait sleeps the closing thread. The web build's counterpart is
// drain_web.cpp.
#include <condition_variable>
#include <thread>
#include <vector>

#include "midi/backends/drain.h"

namespace kfw {

struct DrainNotifier::Asker {
  Asker(std::function<bool()> isDrained, std::function<std::chrono::microseconds()> again)
      : drained(std::move(isDrained)), lookAgainIn(std::move(again)) {}

  ~Asker() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
  }

  void Run() {
    std::unique_lock lock(mutex);
    while (!stopping) {
      if (pending.empty()) {
        wake.wait(lock);
        continue;
      }
      // A yes answers only the requests taken before the question: one that comes while the
      // device is asked may stand for bytes sent after the question began, and waits for the next
      // yes.
      std::vector<std::function<void()>> due = std::move(pending);
      pending.clear();
      lock.unlock();
      const bool yes = drained();
      lock.lock();
      if (stopping) return;
      if (!yes) {
        pending.insert(pending.begin(), std::make_move_iterator(due.begin()),
                       std::make_move_iterator(due.end()));
        wake.wait_for(lock, lookAgainIn());
        continue;
      }
      lock.unlock();
      for (auto& done : due) done();
      lock.lock();
    }
  }

  std::function<bool()> drained;
  std::function<std::chrono::microseconds()> lookAgainIn;
  std::mutex mutex;
  std::condition_variable wake;
  std::vector<std::function<void()>> pending;
  bool stopping = false;
  std::thread thread;
};

DrainNotifier::DrainNotifier(std::function<bool()> drained,
                             std::function<std::chrono::microseconds()> lookAgainIn)
    : asker_(std::make_unique<Asker>(std::move(drained), std::move(lookAgainIn))) {}

DrainNotifier::~DrainNotifier() = default;

void DrainNotifier::Request(std::function<void()> done) {
  {
    std::lock_guard lock(asker_->mutex);
    asker_->pending.push_back(std::move(done));
    if (!asker_->thread.joinable()) {
      asker_->thread = std::thread([asker = asker_.get()] { asker->Run(); });
    }
  }
  asker_->wake.notify_all();
}

void WaitForDrain(OutputConnection& connection, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!connection.Drained() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace kfw
