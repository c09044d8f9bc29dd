// The web build's one thread and its event loop, which the single-threaded counterparts of the
// clock (waiting_web.cpp), the real-time timeline (sim/timeline_web.cpp) and the drain notices
// (midi/backends/drain_web.cpp) share. Web builds only.
//
// A page has one thread for its work: the procedures, the MIDI message events, the timers and
// the buttons' clicks all run on it. A procedure's wait hands the thread back to the event loop
// (Asyncify unwinds the procedure's stack and rewinds it later), and meanwhile the events run:
// they call into the core (FeedReceivedByte and Wake, a timeline's deliveries, RequestCancel) as
// the driver's and the progress thread's callbacks do elsewhere.
//
// Asyncify keeps one suspended call stack only. What an event calls while a procedure waits must
// therefore never wait itself; the core's callbacks do not (they store bytes, raise flags and
// wake), and Suspend ends the program with a message rather than corrupt the waiting procedure
// if one ever did.
#pragma once

#include <functional>

namespace kfw::web {

// Hands the thread to the event loop for `milliseconds` (at least; timers may run late: the page's
// own, which a hidden tab runs once a second or less, where no worker can give them), or, when
// `wakeable`, until ResumeSuspended is called from an event, whichever comes first. True when it
// was resumed. The procedure goes on only once the event that resumed it has returned, and nothing
// of the core is on the stack: the event's own work is done before the waiter looks at its
// condition again.
bool Suspend(double milliseconds, bool wakeable);

// Ends a wakeable Suspend. Harmless when nothing waits, or when the wait cannot be woken.
void ResumeSuspended();

// True while a procedure is suspended in Suspend, that is, when what runs now is an event.
bool ProcedureSuspended();

// A one-shot timer of the event loop: `action` runs from the event loop once the time given to
// Start has passed (in a browser, a worker's timer, which a hidden tab does not slow; see
// event_loop_web.cpp). Start again replaces the pending run; destroying the timer cancels it. The
// action may start the timer again, but must not destroy it.
class Timer {
 public:
  explicit Timer(std::function<void()> action);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void Start(double milliseconds);
  void Stop();
  bool Pending() const { return pending_; }

  // Runs the action: called from the event loop when the time has passed, never by the core.
  static void Fire(void* timer);

 private:
  std::function<void()> action_;
  double handle_ = 0;  // the timer source's
  bool pending_ = false;
};

}  // namespace kfw::web
