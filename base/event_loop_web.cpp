#include "base/event_loop_web.h"

#include <emscripten/emscripten.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Timers take whole milliseconds (a fraction is dropped); rounded up, they never end a wait early.
double WholeMilliseconds(double milliseconds) {
  return milliseconds > 0 ? std::ceil(milliseconds) : 0;
}

}  // namespace

// Where the timers come from. A page's own timers run once a second at most while its tab is
// hidden (Chromium measured here: a 10 ms timer took 1000 ms from about a second after the tab was
// covered), and after five minutes hidden as little as once a minute; a dedicated worker's timers
// are not slowed (the same measurement: 10 ms), and its message reaches the page as an event, which
// is not slowed either. So in a browser the timers run in a worker made from a Blob URL, with the
// page's own timers as the fallback where no worker can start (a policy that forbids Blob
// workers, or Node, which has no Worker). Module.kfwTimerSource = "window" asks for the page's own
// timers, to measure what they do. Module.kfwTimers: start(milliseconds, action) -> handle,
// stop(handle), kind.
// The bodies are JavaScript, which clang-format would break (it splits => in two); Emscripten
// 3.1.6's optimiser of the JavaScript it writes breaks destructuring in a for-of loop, which is
// left out.
// clang-format off
EM_JS(void, kfw_timers_install, (), {
  if (Module["kfwTimers"]) return;
  const own = {
    kind: "window",
    start: (milliseconds, action) => setTimeout(action, milliseconds),
    stop: (handle) => clearTimeout(handle),
  };
  Module["kfwTimers"] = own;
  if (Module["kfwTimerSource"] === "window" || typeof Worker != "function" ||
      typeof Blob != "function" || typeof URL == "undefined" || !URL.createObjectURL) {
    return;
  }
  const code = "const timers = new Map();" +
      "onmessage = (event) => { const [id, milliseconds] = event.data;" +
      "  if (milliseconds < 0) { clearTimeout(timers.get(id)); timers.delete(id); return; }" +
      "  timers.set(id, setTimeout(() => { timers.delete(id); postMessage(id); }, milliseconds)); };";
  let worker;
  try {
    worker = new Worker(URL.createObjectURL(new Blob([code], {type: "text/javascript"})));
  } catch (error) {
    return;
  }
  const pending = new Map();
  let next = 1;
  const fromWorker = {
    kind: "worker",
    start: (milliseconds, action) => {
      const id = next++;
      pending.set(id, {action: action, due: performance.now() + milliseconds, own: 0});
      worker.postMessage([id, milliseconds]);
      return id;
    },
    stop: (id) => {
      const timer = pending.get(id);
      if (!timer) return;
      pending.delete(id);
      if (timer.own) clearTimeout(timer.own); else worker.postMessage([id, -1]);
    },
  };
  worker.onmessage = (event) => {
    const timer = pending.get(event.data);
    if (!timer) return;
    pending.delete(event.data);
    timer.action();
  };
  // A worker that could be made but not started (its script refused after all): what it held
  // goes to the page's own timers, each at the instant it was due.
  worker.onerror = (event) => {
    event.preventDefault();
    if (Module["kfwTimers"] !== fromWorker) return;
    fromWorker.kind = "window";
    fromWorker.start = (milliseconds, action) => {
      const id = next++;
      const timer = {action: action, own: 0};
      timer.own = setTimeout(() => { pending.delete(id); action(); }, milliseconds);
      pending.set(id, timer);
      return id;
    };
    pending.forEach((timer, id) => {
      if (timer.own) return;
      timer.own = setTimeout(() => { pending.delete(id); timer.action(); },
                             Math.max(0, timer.due - performance.now()));
    });
  };
  Module["kfwTimers"] = fromWorker;
});

// The suspension itself. Asyncify unwinds the procedure's stack when this returns its promise
// to the event loop, and rewinds it when the promise settles. The promise settles from a timer or
// from ResumeSuspended, which an event calls through compiled code; the rewind waits for the
// microtask after it, when the event has returned and no compiled code is on the stack, as
// Asyncify requires. Module.kfwResume is the one way to end a wakeable wait early, taken away as
// soon as the wait ends, so a late Wake finds nothing to do.
EM_ASYNC_JS(int, kfw_suspend, (double milliseconds, int wakeable), {
  return await new Promise((resolve) => {
    const timers = Module["kfwTimers"];
    let timer = 0;
    const end = (resumed) => {
      timers.stop(timer);
      Module["kfwResume"] = null;
      resolve(resumed);
    };
    timer = timers.start(milliseconds, () => end(0));
    if (wakeable) Module["kfwResume"] = () => end(1);
  });
});

EM_JS(void, kfw_resume, (), {
  const resume = Module["kfwResume"];
  if (resume) resume();
});

// A timer's action runs compiled code from the event loop, as emscripten_set_timeout's would,
// and not once the program has ended (exit, or a fatal error that ended it).
EM_JS(double, kfw_timer_start, (double milliseconds, void* timer), {
  return Module["kfwTimers"].start(milliseconds, () => {
    if (ABORT) return;
    try {
      Module["_kfw_web_timer_fired"](timer);
    } catch (error) {
      if (!(error instanceof ExitStatus)) throw error;
    }
  });
});

EM_JS(void, kfw_timer_stop, (double handle), {
  Module["kfwTimers"].stop(handle);
});
// clang-format on

namespace kfw::web {

namespace {
bool suspended = false;
}  // namespace

bool Suspend(double milliseconds, bool wakeable) {
  if (suspended) {
    // A second unwind would overwrite the first one's saved stack: the waiting procedure could
    // never go on correctly. Only a fault of the program gets here (an event that waits).
    std::fputs("kfwupdate: a wait began in an event while a procedure was waiting\n", stderr);
    std::abort();
  }
  suspended = true;
  kfw_timers_install();
  const int resumed = kfw_suspend(WholeMilliseconds(milliseconds), wakeable ? 1 : 0);
  suspended = false;
  return resumed != 0;
}

void ResumeSuspended() {
  kfw_resume();
}

bool ProcedureSuspended() {
  return suspended;
}

Timer::Timer(std::function<void()> action) : action_(std::move(action)) {}

Timer::~Timer() {
  Stop();
}

void Timer::Start(double milliseconds) {
  Stop();
  kfw_timers_install();
  handle_ = kfw_timer_start(WholeMilliseconds(milliseconds), this);
  pending_ = true;
}

void Timer::Stop() {
  if (pending_) kfw_timer_stop(handle_);
  pending_ = false;
}

void Timer::Fire(void* timer) {
  auto* self = static_cast<Timer*>(timer);
  self->pending_ = false;
  self->action_();
}

}  // namespace kfw::web

extern "C" EMSCRIPTEN_KEEPALIVE void kfw_web_timer_fired(void* timer) {
  kfw::web::Timer::Fire(timer);
}
