#include "base/event_loop_web.h"

#include <emscripten/emscripten.h>
#include <emscripten/eventloop.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Timers take whole milliseconds (a fraction is dropped); rounded up, they never end a wait early.
double WholeMilliseconds(double milliseconds) {
  return milliseconds > 0 ? std::ceil(milliseconds) : 0;
}

}  // namespace

// The suspension itself. Asyncify unwinds the procedure's stack when this returns its promise
// to the event loop, and rewinds it when the promise settles. The promise settles from a timer or
// from ResumeSuspended, which an event calls through compiled code; the rewind waits for the
// microtask after it, when the event has returned and no compiled code is on the stack, as
// Asyncify requires. Module.kfwResume is the one way to end a wakeable wait early, taken away as
// soon as the wait ends, so a late Wake finds nothing to do. The bodies are JavaScript, which
// clang-format would break (it splits => in two).
// clang-format off
EM_ASYNC_JS(int, kfw_suspend, (double milliseconds, int wakeable), {
  return await new Promise((resolve) => {
    let timer = 0;
    const end = (resumed) => {
      clearTimeout(timer);
      Module["kfwResume"] = null;
      resolve(resumed);
    };
    timer = setTimeout(() => end(0), milliseconds);
    if (wakeable) Module["kfwResume"] = () => end(1);
  });
});

EM_JS(void, kfw_resume, (), {
  const resume = Module["kfwResume"];
  if (resume) resume();
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
  id_ = emscripten_set_timeout(&Timer::Fire, WholeMilliseconds(milliseconds), this);
  pending_ = true;
}

void Timer::Stop() {
  if (pending_) emscripten_clear_timeout(id_);
  pending_ = false;
}

void Timer::Fire(void* timer) {
  auto* self = static_cast<Timer*>(timer);
  self->pending_ = false;
  self->action_();
}

}  // namespace kfw::web
