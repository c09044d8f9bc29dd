#include "midi/backends/drain.h"

#include <algorithm>
#include <thread>

namespace kfw {

uint64_t WireTimeEstimate::Now() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void WireTimeEstimate::Sent(uint32_t byteCount) {
  std::lock_guard lock(mutex_);
  const uint64_t now = Now();
  // Bytes queue behind those still on the wire; the latency is paid once per burst.
  const uint64_t wireStart = std::max(now, doneAt_ > latencyMicros_ ? doneAt_ - latencyMicros_ : 0);
  doneAt_ = wireStart + byteCount * kMidiByteMicros + latencyMicros_;
}

bool WireTimeEstimate::Drained() {
  return RemainingMicros() == 0;
}

uint64_t WireTimeEstimate::RemainingMicros() {
  std::lock_guard lock(mutex_);
  const uint64_t now = Now();
  return doneAt_ > now ? doneAt_ - now : 0;
}

DrainNotifier::DrainNotifier(std::function<bool()> drained,
                             std::function<std::chrono::microseconds()> lookAgainIn)
    : drained_(std::move(drained)), lookAgainIn_(std::move(lookAgainIn)) {}

DrainNotifier::~DrainNotifier() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void DrainNotifier::Request(std::function<void()> done) {
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(done));
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  wake_.notify_all();
}

void DrainNotifier::Run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (pending_.empty()) {
      wake_.wait(lock);
      continue;
    }
    // A yes answers only the requests taken before the question: one that comes while the device
    // is asked may stand for bytes sent after the question began, and waits for the next yes.
    std::vector<std::function<void()>> due = std::move(pending_);
    pending_.clear();
    lock.unlock();
    const bool drained = drained_();
    lock.lock();
    if (stopping_) return;
    if (!drained) {
      pending_.insert(pending_.begin(), std::make_move_iterator(due.begin()),
                      std::make_move_iterator(due.end()));
      wake_.wait_for(lock, lookAgainIn_());
      continue;
    }
    lock.unlock();
    for (auto& done : due) done();
    lock.lock();
  }
}

void WaitForDrain(OutputConnection& connection, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!connection.Drained() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace kfw
