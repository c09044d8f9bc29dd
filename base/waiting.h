// Waiting: the clock every pause goes through, and the cancel flag every waiting loop polls.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace kfw {

// Every pause of the procedures goes through the installed clock, so tests and the benchmark can
// run them in virtual time while the simulated module answers at exact virtual instants.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void SleepMilliseconds(uint32_t milliseconds) = 0;
  // Monotonic time in microseconds, from an arbitrary origin.
  virtual uint64_t NowMicroseconds() = 0;

  // Waits until ready() holds or the clock reaches deadlineMicros, whichever comes first, and
  // says whether ready() held. ready() is looked at on entry and again after every Wake; it must
  // be cheap and take no lock the wakers hold. This default, for clocks that cannot be woken,
  // sleeps to the deadline in one go and looks once more.
  virtual bool WaitUntil(uint64_t deadlineMicros, const std::function<bool()>& ready);
  // Makes the waits in WaitUntil look at their condition again. Whoever makes a condition true
  // calls it after publishing what the condition reads (the input side after storing bytes in the
  // reply ring, an output's done notice). Harmless when nobody waits.
  virtual void Wake() {}
};

// The real clock: sleeps the calling thread (waiting_threads.cpp). The web build has one thread,
// and its real clock hands it to the page's event loop instead (waiting_web.cpp).
Clock& SystemClock();

// nullptr restores SystemClock().
void InstallClock(Clock* clock);
Clock& CurrentClock();

// One tick is 100 ms: the unit of every delay and reply time-out.
inline constexpr uint32_t kTickMilliseconds = 100;

// Sleeps n ticks. Only the low 8 bits of n count: at most 255 ticks, 25.5 s.
void WaitTicks(uint32_t n);

// The fast mode (--fast): the same messages in the same order, but a wait for a reply ends as
// soon as the reply is in the ring, and a send as soon as the output reports the message gone,
// instead of at the next 100 ms tick. A reply wait gives up no sooner than the normal mode's
// (ReadReply, kFastReplyGraceTicks). Pauses that belong to the protocol (WaitTicks) stay as they
// are. Set by the front end at start, before any port is opened; off by default and after
// ResetProcessState.
extern std::atomic<bool> fastMode;

// Set by the progress window's Cancel (RequestCancel) or the terminal's Ctrl-C (HoldCancel),
// cleared when a connect or update starts unless held, polled by every waiting loop.
extern std::atomic<uint8_t> CancelFlag;

// What the progress window's Cancel button does: raise CancelFlag, until the next procedure
// starts and clears it. Async-signal-safe.
void RequestCancel();

// What the terminal's first Ctrl-C does: raise CancelFlag and hold it raised, so that ClearCancel
// leaves it set from then on. The command line runs several procedures in a row (the update's
// own Connect follows the user's Connect), and a Ctrl-C that lands between two of them must not
// be cleared by the next one's start. Held until the process state is reset. Async-signal-safe.
void HoldCancel();

bool CancelRequested();
// Lowers CancelFlag, unless a cancel is held: that one stays raised, even when HoldCancel runs
// (on another thread, or in a signal handler) while this runs.
void ClearCancel();

namespace internal {
void ResetWaitingState();
}

}  // namespace kfw
