// Reception across threads: a thread playing the driver feeds the reply ring while the program's
// thread reads it, and the port layer delivers from a backend thread while the program opens,
// reads and closes its ports. These run under the thread sanitizer too (label "concurrency").
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/waiting.h"
#include "midi/backends/drain.h"
#include "midi/combined_layer.h"
#include "midi/port_layer.h"
#include "midi/ports.h"
#include "midi/reception.h"
#include "tests/support/counting_clock.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// The body of message m: its number in two bytes, then 0 to 18 bytes derived from it.
Bytes BodyOf(uint32_t m) {
  Bytes body = {static_cast<uint8_t>((m >> 7) & 0x7F), static_cast<uint8_t>(m & 0x7F)};
  for (uint32_t i = 0; i < m % 19; ++i) body.push_back(static_cast<uint8_t>((m * 3 + i) & 0x7F));
  return body;
}

TEST(RingAcrossThreads, EveryMessageArrivesWholeAndInOrder) {
  constexpr uint32_t kMessages = 20000;
  // A tick of 20 us, so a reader waiting for the other thread polls quickly.
  test::CountingClock clock;
  clock.onSleep = [](uint32_t) { test::PauseFor(20us); };
  std::atomic<bool> stop{false};
  std::thread driver([&stop] {
    for (uint32_t m = 0; m < kMessages && !stop; ++m) {
      const Bytes body = BodyOf(m);
      // Never more than the ring holds: nothing may be dropped here.
      while (!stop && ReplyRingUnreadCount() + body.size() + 1 > kReplyRingSize - 1) {
        std::this_thread::yield();
      }
      for (uint8_t byte : {0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F}) FeedReceivedByte(byte);
      for (uint8_t byte : body) FeedReceivedByte(byte);
      FeedReceivedByte(0xF7);
    }
  });
  uint32_t received = 0;
  for (; received < kMessages; ++received) {
    uint8_t buffer[30];
    uint32_t count = 0;
    if (ReadReply(buffer, sizeof buffer, &count, 50000) != kOk) break;
    if (Bytes(buffer, buffer + count) != BodyOf(received)) break;
  }
  stop = true;
  driver.join();
  EXPECT_EQ(received, kMessages);
  EXPECT_EQ(ReplyRingUnreadCount(), 0u);
}

// The driver streams replies while the program flushes again and again. Right after a flush the
// ring may hold only bytes the driver stored since the flush began (and the one it was storing
// then). A flush that wrote the write position itself lost to a driver caught between loading and
// storing it: the driver published its old position again, and up to 49 bytes from before the
// flush were readable once more.
TEST(FlushAcrossThreads, NoByteReceivedBeforeTheFlushCanBeReadAfterIt) {
  constexpr uint32_t kFlushes = 300000;
  std::atomic<uint64_t> stored{0};  // bytes fed that go to the ring: bodies and their F7s
  std::atomic<bool> stop{false};
  std::thread driver([&] {
    while (!stop.load(std::memory_order_relaxed)) {
      for (uint8_t byte : {0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F}) FeedReceivedByte(byte);
      for (uint8_t byte : {0x16, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xF7}) {
        FeedReceivedByte(byte);
        stored.fetch_add(1, std::memory_order_release);
      }
    }
  });
  std::string failure;
  for (uint32_t flush = 0; flush < kFlushes && failure.empty(); ++flush) {
    // Let some bytes arrive between flushes, so there is something old to bring back.
    const uint64_t last = stored.load(std::memory_order_acquire);
    for (int spin = 0; spin < 2000 && stored.load(std::memory_order_acquire) < last + 12; ++spin) {
    }
    const uint64_t before = stored.load(std::memory_order_acquire);
    FlushReplies();
    // A driver caught mid-store publishes its stale position a moment after the flush returns:
    // look once it has stored a few more bytes.
    for (int spin = 0; spin < 2000 && stored.load(std::memory_order_acquire) < before + 3; ++spin) {
    }
    const uint32_t unread = ReplyRingUnreadCount();
    const uint64_t after = stored.load(std::memory_order_acquire);
    if (unread > after - before + 1) {
      failure = "flush " + std::to_string(flush) + ": " + std::to_string(unread) +
                " bytes readable, " + std::to_string(after - before) + " stored since";
    }
  }
  stop = true;
  driver.join();
  EXPECT_EQ(failure, "");
}

std::atomic<int> openInputs{0};

// Its input runs a thread that delivers the same reply again and again, in two pieces, until the
// input is closed.
class StreamingBackend final : public PortBackend {
 public:
  std::string Name() const override { return "streaming"; }
  void ListPorts(std::vector<std::string>& inputs, std::vector<std::string>& outputs) override {
    inputs.push_back("Stream In");
    outputs.push_back("Stream Out");
  }
  MmResult OpenInput(const std::string&, ByteSink sink,
                     std::unique_ptr<InputConnection>& connection) override {
    connection = std::make_unique<Input>(std::move(sink));
    return kMmNoError;
  }
  MmResult OpenOutput(const std::string&, std::unique_ptr<OutputConnection>& connection) override {
    connection = std::make_unique<Output>();
    return kMmNoError;
  }

 private:
  struct Input final : InputConnection {
    explicit Input(ByteSink sink) {
      ++openInputs;
      thread = std::thread([this, sink = std::move(sink)] {
        const Bytes reply = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x10, 0x00, 0xF7};
        while (!stop) {
          sink(reply.data(), 4);
          sink(reply.data() + 4, reply.size() - 4);
          std::this_thread::sleep_for(10us);
        }
      });
    }
    ~Input() override {
      stop = true;
      thread.join();
      --openInputs;
    }
    std::atomic<bool> stop{false};
    std::thread thread;
  };
  struct Output final : OutputConnection {
    MmResult Send(const uint8_t*, uint32_t) override { return kMmNoError; }
    bool Drained() override { return true; }
  };
};

TEST(PortLayerAcrossThreads, TheProgramOpensReadsAndClosesWhileTheDriverDelivers) {
  test::CountingClock clock;
  clock.onSleep = [](uint32_t) { test::PauseFor(20us); };
  // The port layer alone, and behind a combined layer after a part without devices, as the
  // simulated module sits after WinMM's devices: there the callback queues the buffer again
  // through the combined layer while the program's close waits for the callback to end.
  for (bool combined : {false, true}) {
    SCOPED_TRACE(combined ? "combined" : "alone");
    auto ports = std::make_unique<PortsDeviceLayer>();
    ports->AddBackend(std::make_unique<StreamingBackend>());
    std::unique_ptr<MidiDeviceLayer> layer = std::move(ports);
    if (combined) {
      std::vector<std::unique_ptr<MidiDeviceLayer>> parts;
      parts.push_back(std::make_unique<PortsDeviceLayer>());
      parts.push_back(std::move(layer));
      layer = std::make_unique<CombinedDeviceLayer>(std::move(parts));
    }
    InstallMidiDeviceLayer(layer.get());
    for (int round = 0; round < 100; ++round) {
      ASSERT_TRUE(OpenPorts(0, 0)) << round;
      // The driver streams faster than this reader takes, so the ring drops the oldest bytes and
      // a body may start anywhere in a reply; every read still ends at an F7.
      for (int reply = 0; reply < 3; ++reply) {
        uint8_t buffer[30];
        uint32_t count = 0;
        ASSERT_EQ(ReadReply(buffer, sizeof buffer, &count, 10000), kOk) << round;
      }
      ClosePorts();
      ASSERT_EQ(openInputs.load(), 0) << round;
    }
    InstallMidiDeviceLayer(nullptr);
  }
}

// The fast mode's reader on the system clock, woken by the driver after each message as the
// input callback wakes it: every message arrives whole and in order. A wake lost between the
// reader's look at the ring and its wait would cost a tick each time it happened.
TEST(RingAcrossThreads, TheFastReaderIsWokenForEveryMessage) {
  constexpr uint32_t kMessages = 5000;
  fastMode = true;
  std::atomic<bool> stop{false};
  std::thread driver([&stop] {
    for (uint32_t m = 0; m < kMessages && !stop; ++m) {
      const Bytes body = BodyOf(m);
      while (!stop && ReplyRingUnreadCount() + body.size() + 1 > kReplyRingSize - 1) {
        std::this_thread::yield();
      }
      for (uint8_t byte : {0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F}) FeedReceivedByte(byte);
      for (uint8_t byte : body) FeedReceivedByte(byte);
      FeedReceivedByte(0xF7);
      CurrentClock().Wake();
    }
  });
  uint32_t received = 0;
  for (; received < kMessages; ++received) {
    uint8_t buffer[30];
    uint32_t count = 0;
    if (ReadReply(buffer, sizeof buffer, &count, 600) != kOk) break;
    if (Bytes(buffer, buffer + count) != BodyOf(received)) break;
  }
  stop = true;
  driver.join();
  EXPECT_EQ(received, kMessages);
}

// The system clock's wait with no deadline worth the name: it can end only by a wake. A wake lost
// between the waiter's look at its condition and its sleep would leave it waiting for an hour (and
// the test hanging until ctest's time-out), whichever side comes first in each round.
TEST(SystemClockWait, NoWakeIsLostWhicheverSideComesFirst) {
  Clock& clock = SystemClock();
  std::atomic<uint32_t> published{0};
  for (uint32_t round = 1; round <= 20000; ++round) {
    std::thread waker([&clock, &published, round] {
      if (round % 2) std::this_thread::yield();
      published.store(round, std::memory_order_release);
      clock.Wake();
    });
    const bool ready = clock.WaitUntil(clock.NowMicroseconds() + 3'600'000'000ull, [&] {
      return published.load(std::memory_order_acquire) == round;
    });
    waker.join();
    ASSERT_TRUE(ready) << round;
  }
}

// The drain notifier's thread: a notice waits for a yes from the device, a request made while the
// device is being asked waits for the next yes, and none is given once the notifier is gone.
TEST(DrainNotifier, GivesEachNoticeAtTheFirstYesAskedAfterIt) {
  std::mutex mutex;
  std::condition_variable changed;
  int asked = 0;        // questions begun
  int answers = 0;      // answers released by the test
  bool answer = false;  // what the released answers say
  auto drained = [&] {
    std::unique_lock lock(mutex);
    const int question = ++asked;
    changed.notify_all();
    changed.wait(lock, [&] { return answers >= question; });
    return answer;
  };
  auto release = [&](int count, bool says) {
    std::lock_guard lock(mutex);
    answers += count;
    answer = says;
    changed.notify_all();
  };
  auto waitAsked = [&](int count) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return asked >= count; });
  };
  std::promise<void> first, second;
  std::future<void> secondDone = second.get_future();
  std::atomic<int> late{0};
  {
    DrainNotifier notifier(drained, [] { return std::chrono::microseconds(0); });
    notifier.Request([&] { first.set_value(); });
    waitAsked(1);
    release(1, false);  // not yet: asked again
    waitAsked(2);
    notifier.Request([&] { second.set_value(); });  // while the second question is open
    release(1, true);
    first.get_future().wait();
    waitAsked(3);  // the second request needs a yes of its own
    EXPECT_EQ(secondDone.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    release(1, true);
    secondDone.wait();
    notifier.Request([&] { ++late; });
    waitAsked(4);
    // Never drained from now on: the notifier is destroyed with the notice pending.
    release(std::numeric_limits<int>::max() / 2, false);
  }
  EXPECT_EQ(late.load(), 0);
}

}  // namespace
}  // namespace kfw
