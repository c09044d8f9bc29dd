// The web build's one thread: the system clock's waits hand it to the event loop and end at the
// event that wakes them, the real-time timeline runs its actions as timers, and the drain notices
// come from a timer. JavaScript timers play the browser's MIDI message events here, calling into
// the core while the test's procedure is suspended, as the page's events will.
#include <emscripten/emscripten.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/event_loop_web.h"
#include "base/waiting.h"
#include "midi/backends/drain.h"
#include "midi/port_layer.h"
#include "midi/ports.h"
#include "midi/reception.h"
#include "sim/timeline.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

constexpr uint64_t kTickMicros = uint64_t{kTickMilliseconds} * 1000;

// What the JavaScript event did, and when by the system clock.
struct Event {
  ByteSink sink;      // the open input's, to feed a reply through the port layer
  bool wakes = true;  // for a bare event: whether it calls Wake after raising `happened`
  bool happened = false;
  bool whileSuspended = false;
  uint64_t at = 0;
};
Event* event = nullptr;

extern "C" EMSCRIPTEN_KEEPALIVE void kfw_test_event() {
  event->at = SystemClock().NowMicroseconds();
  event->whileSuspended = web::ProcedureSuspended();
  event->happened = true;
  if (event->sink) {
    // A status reply as a MIDI message event brings it: header, code 0x12, a byte, F7.
    const uint8_t reply[] = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x00, 0x12, 0x05, 0xF7};
    event->sink(reply, sizeof reply);
  } else if (event->wakes) {
    SystemClock().Wake();
  }
}

// clang-format off
EM_JS(void, EventAfter, (int milliseconds), {
  setTimeout(() => Module["_kfw_test_event"](), milliseconds);
});
// clang-format on

// An input the test's event feeds, and an output that is always drained.
class EventBackend final : public PortBackend {
 public:
  std::string Name() const override { return "event"; }
  void ListPorts(std::vector<std::string>& inputs, std::vector<std::string>& outputs) override {
    inputs.push_back("In");
    outputs.push_back("Out");
  }
  MmResult OpenInput(const std::string&, ByteSink sink,
                     std::unique_ptr<InputConnection>& connection) override {
    event->sink = std::move(sink);
    connection = std::make_unique<InputConnection>();
    return kMmNoError;
  }
  MmResult OpenOutput(const std::string&, std::unique_ptr<OutputConnection>& connection) override {
    connection = std::make_unique<Output>();
    return kMmNoError;
  }

 private:
  struct Output final : OutputConnection {
    MmResult Send(const uint8_t*, uint32_t) override { return kMmNoError; }
    bool Drained() override { return true; }
  };
};

// A wait for a condition ends at the event that makes it true and wakes the clock, once the event
// has returned; an event that does not wake leaves the wait to its deadline.
TEST(EventLoopClock, AWaitEndsAtTheEventThatWakesIt) {
  for (const bool wakes : {true, false}) {
    SCOPED_TRACE(wakes ? "waking" : "not waking");
    Event happening;
    happening.wakes = wakes;
    event = &happening;
    Clock& clock = SystemClock();
    const uint64_t start = clock.NowMicroseconds();
    const uint64_t deadline = start + 10 * kTickMicros;
    EventAfter(30);
    EXPECT_TRUE(clock.WaitUntil(deadline, [&] { return happening.happened; }));
    const uint64_t end = clock.NowMicroseconds();
    EXPECT_TRUE(happening.whileSuspended);
    EXPECT_FALSE(web::ProcedureSuspended());
    if (wakes) {
      EXPECT_LT(end - happening.at, kTickMicros / 5);
    } else {
      EXPECT_GE(end, deadline);
    }
  }
}

// The reply wait of a procedure, with the reply fed by a MIDI event through the port layer and
// the input callback: in the fast mode it ends at the event, far below a tick; in the normal mode
// at the empty poll's tick.
TEST(EventLoopClock, AFastReplyWaitEndsAtTheMidiEventTheNormalOneAtItsTick) {
  for (const bool fast : {true, false}) {
    SCOPED_TRACE(fast ? "fast" : "normal");
    Event reply;
    event = &reply;
    test::RecordingBoxes boxes;
    test::RecordingPortLists lists;
    PortsDeviceLayer layer;
    layer.AddBackend(std::make_unique<EventBackend>());
    InstallMidiDeviceLayer(&layer);
    ASSERT_TRUE(FillPortLists());
    ASSERT_TRUE(OpenPorts(InputDeviceAt(1), OutputDeviceAt(1)));
    fastMode = fast;

    Clock& clock = SystemClock();
    const uint64_t start = clock.NowMicroseconds();
    EventAfter(30);
    uint8_t buffer[50];
    uint32_t count = 0;
    EXPECT_EQ(ReadReply(buffer, sizeof buffer, &count, 10), kOk);
    const uint64_t end = clock.NowMicroseconds();
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + count), (std::vector<uint8_t>{0x12, 0x05}));
    EXPECT_TRUE(reply.whileSuspended);
    if (fast) {
      EXPECT_LT(end - reply.at, kTickMicros / 5);
    } else {
      EXPECT_GE(end - start, kTickMicros);
    }
    ClosePorts();
    InstallMidiDeviceLayer(nullptr);
    EXPECT_TRUE(boxes.Errors().empty());
  }
}

// The simulated module's time in a page: each action at its instant or later, in the order of
// their instants (scheduling order among equals), from the event loop while the procedure
// sleeps, one scheduled by another in the same round; none once the timeline is gone.
TEST(RealTimelineOnTheEventLoop, RunsEachActionAtItsInstantInOrderAndNoneOnceGone) {
  Clock& clock = SystemClock();
  struct Ran {
    std::string name;
    uint64_t due, at;
    bool whileSuspended;
  };
  std::vector<Ran> ran;
  auto timeline = std::make_unique<RealTimeline>();
  const uint64_t t0 = timeline->NowMicroseconds();
  // Each action wakes the test's wait, which looks for the one it waits for.
  const auto record = [&](std::string name, uint64_t due) {
    return [&ran, &clock, name, due] {
      ran.push_back({name, due, clock.NowMicroseconds(), web::ProcedureSuspended()});
      clock.Wake();
    };
  };
  const auto waitFor = [&](size_t count) {
    return clock.WaitUntil(clock.NowMicroseconds() + 5'000'000,
                           [&] { return ran.size() >= count; });
  };
  timeline->At(t0 + 30'000, record("late", t0 + 30'000));
  timeline->At(t0 + 10'000, record("first of two", t0 + 10'000));
  timeline->At(t0 + 10'000, [&] {
    record("second of two", t0 + 10'000)();
    timeline->At(t0 + 10'000, record("scheduled by it", t0 + 10'000));
  });
  timeline->At(t0 - 5'000, record("passed", t0));
  EXPECT_TRUE(ran.empty());  // never inside At
  ASSERT_TRUE(waitFor(5));

  std::vector<std::string> names;
  for (const Ran& action : ran) {
    names.push_back(action.name);
    EXPECT_GE(action.at, action.due) << action.name;
    EXPECT_TRUE(action.whileSuspended) << action.name;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"passed", "first of two", "second of two",
                                             "scheduled by it", "late"}));
  const uint64_t now = clock.NowMicroseconds();
  timeline->At(now + 10'000, record("dropped", 0));
  timeline.reset();
  RealTimeline other;
  other.At(now + 20'000, record("after the dropped one's instant", now + 20'000));
  ASSERT_TRUE(waitFor(6));
  EXPECT_EQ(ran.back().name, "after the dropped one's instant");
  EXPECT_EQ(ran.size(), 6u);
}

// The drain notices of an output that learns its drain only by asking: never from inside the
// request, given at the first yes after it, looked for again after the time the output names,
// and none once the notifier is gone.
TEST(DrainNotifierOnTheEventLoop, GivesEachNoticeAtTheFirstYesAndNoneOnceGone) {
  Clock& clock = SystemClock();
  int asked = 0;
  int firstYes = 3;                                  // the question that is answered yes first
  std::vector<std::pair<std::string, int>> notices;  // what, at which question
  // Every question and every notice wakes the test's wait, which looks for what it waits for.
  auto notifier = std::make_unique<DrainNotifier>(
      [&] {
        clock.Wake();
        return ++asked >= firstYes;
      },
      [] { return std::chrono::microseconds(5'000); });
  const auto notice = [&](std::string what) {
    return [&notices, &asked, &clock, what] {
      notices.push_back({what, asked});
      clock.Wake();
    };
  };
  const auto waitFor = [&](const std::function<bool()>& ready) {
    return clock.WaitUntil(clock.NowMicroseconds() + 5'000'000, ready);
  };
  notifier->Request(notice("first"));
  EXPECT_EQ(asked, 0);
  ASSERT_TRUE(waitFor([&] { return notices.size() == 1; }));
  notifier->Request(notice("second"));
  notifier->Request(notice("third"));
  ASSERT_TRUE(waitFor([&] { return notices.size() == 3; }));
  EXPECT_EQ(notices,
            (std::vector<std::pair<std::string, int>>{{"first", 3}, {"second", 4}, {"third", 4}}));
  firstYes = 1'000'000;  // never drained again
  notifier->Request(notice("late"));
  ASSERT_TRUE(waitFor([&] { return asked >= 6; }));  // asked again, and again
  notifier.reset();
  const int askedBeforeGone = asked;
  firstYes = 0;
  clock.SleepMilliseconds(30);
  EXPECT_EQ(asked, askedBeforeGone);
  EXPECT_EQ(notices.size(), 3u);
}

}  // namespace
}  // namespace kfw
