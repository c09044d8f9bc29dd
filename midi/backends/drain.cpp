#include "midi/backends/drain.h"

#include <algorithm>

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

}  // namespace kfw
