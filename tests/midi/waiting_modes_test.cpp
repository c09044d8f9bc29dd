// Waiting for the module in both modes, in virtual time: a reply wait ends at the tick after the
// reply (normal) or at the reply itself (fast), and gives up after its time-out (the fast mode two
// ticks later, which its earlier start takes back: see tests/engine/waits_test.cpp); a send ends
// at the tick after its output is done (normal) or when the output says so (fast), and gives up
// after the same 30 s; Cancel is seen within a tick in both.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "base/report.h"
#include "base/waiting.h"
#include "midi/port_layer.h"
#include "midi/ports.h"
#include "midi/reception.h"
#include "midi/transmission.h"
#include "sim/link.h"
#include "sim/module.h"
#include "sim/timeline.h"
#include "tests/midi/hex.h"
#include "tests/support/counting_clock.h"
#include "tests/support/doubles.h"
#include "tests/support/sim_rig.h"
#include "tests/support/test_device.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Hex;

const char* ModeName(bool fast) {
  return fast ? "fast" : "normal";
}

// A byte for the ring at a virtual instant, as the input side delivers it.
struct Arrival {
  uint64_t at;
  const char* bytes;
};

struct ReplyWaitCase {
  const char* name;
  std::vector<Arrival> arrivals;
  uint32_t timeoutTicks;
  uint64_t cancelAt;  // 0: no Cancel
  // The result and the instant ReadReply returned, in each mode.
  ResultCode normalResult;
  uint64_t normalEnd;
  ResultCode fastResult;
  uint64_t fastEnd;
};

// clang-format off
const ReplyWaitCase kReplyWaits[] = {
    {"nothing comes", {}, 30, 0, kResponseTimeout, 3'000'000, kResponseTimeout, 3'200'000},
    {"a reply in the middle of a tick", {{1'234'567, "16 00 F7"}}, 30, 0,
     kOk, 1'300'000, kOk, 1'234'567},
    {"a reply at the start of the last tick", {{2'900'000, "16 00 F7"}}, 30, 0,
     kOk, 2'900'000, kOk, 2'900'000},
    // Just as the time-out runs out: left in the ring by the normal mode; the fast one waits two
    // ticks more, and leaves in the ring only what comes as those run out.
    {"a reply as the time-out ends", {{3'000'000, "16 00 F7"}}, 30, 0,
     kResponseTimeout, 3'000'000, kOk, 3'000'000},
    {"a reply as the fast mode's two ticks more end", {{3'200'000, "16 00 F7"}}, 30, 0,
     kResponseTimeout, 3'000'000, kResponseTimeout, 3'200'000},
    // Only the time spent on an empty ring counts: 50 + 200 + 50 ms of it, in three waits, use up
    // the normal mode's three ticks before the F7 comes; 50 + 200 + 250 ms the fast mode's five.
    {"bytes apart, the F7 too late", {{50'000, "16"}, {250'000, "00"}, {650'000, "F7"}}, 3, 0,
     kResponseTimeout, 300'000, kResponseTimeout, 500'000},
    {"bytes apart, the F7 in time", {{50'000, "16"}, {250'000, "00"}, {450'000, "F7"}}, 6, 0,
     kOk, 500'000, kOk, 450'000},
    // A poll that finds the ring empty counts a whole tick, though the byte came 50 ms into it:
    // five of them by the F7. The fast mode has waited 450 ms of its 700.
    {"bytes apart, the F7 in the last tick", {{50'000, "16"}, {250'000, "00"}, {450'000, "F7"}},
     5, 0, kResponseTimeout, 500'000, kOk, 450'000},
    {"Cancel while waiting", {}, 100, 1'230'000, kCanceled, 1'300'000, kCanceled, 1'230'000},
    {"no time-out at all", {{0, "16 00 F7"}}, 0, 0, kResponseTimeout, 0, kResponseTimeout, 0},
};
// clang-format on

TEST(ReplyWait, EndsAtTheReplyInTheFastModeAndGivesUpAfterItsTimeOutInBoth) {
  for (const ReplyWaitCase& c : kReplyWaits) {
    for (bool fast : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + ", " + ModeName(fast));
      internal::ResetReceptionState();
      ClearCancel();
      fastMode = fast;
      VirtualTime time;
      InstallClock(&time);
      for (uint8_t byte : Hex("F0 00 00 21 0A 7F")) FeedReceivedByte(byte);
      for (const Arrival& arrival : c.arrivals) {
        time.At(arrival.at, [bytes = Hex(arrival.bytes)] {
          for (uint8_t byte : bytes) FeedReceivedByte(byte);
        });
      }
      if (c.cancelAt) time.At(c.cancelAt, [] { RequestCancel(); });
      uint8_t reply[50];
      const ResultCode result = ReadReply(reply, sizeof reply, nullptr, c.timeoutTicks);
      EXPECT_EQ(result, fast ? c.fastResult : c.normalResult);
      EXPECT_EQ(time.NowMicroseconds(), fast ? c.fastEnd : c.normalEnd);
      InstallClock(nullptr);
    }
  }
}

// A clock that nobody can wake (the system clock is woken by the input side, never by Cancel,
// which a signal handler raises): the fast mode still waits in ticks, so it sleeps exactly as the
// normal mode does, and sees the bytes and the Cancel brought by each sleep at the same tick.
TEST(ReplyWait, WithoutWakingTheFastModeWaitsTickByTickAsTheNormalMode) {
  for (bool fast : {false, true}) {
    for (uint32_t cancelAtSleep : {0u, 2u}) {
      SCOPED_TRACE(std::string(ModeName(fast)) + (cancelAtSleep ? ", canceled" : ""));
      internal::ResetReceptionState();
      ClearCancel();
      fastMode = fast;
      test::CountingClock clock;
      for (uint8_t byte : Hex("F0 00 00 21 0A 7F")) FeedReceivedByte(byte);
      clock.onSleep = [cancelAtSleep](uint32_t sleeps) {
        if (sleeps == cancelAtSleep) RequestCancel();
        if (sleeps <= 3) FeedReceivedByte(Hex("16 00 F7")[sleeps - 1]);
      };
      uint8_t reply[3];
      uint32_t count = 0;
      const ResultCode result = ReadReply(reply, sizeof reply, &count, 4);
      EXPECT_EQ(result, cancelAtSleep ? kCanceled : kOk);
      EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(cancelAtSleep ? 2 : 3, 100));
    }
  }
}

// Sends `length` bytes (F0, padding, F7: nothing the module answers) on the simulated link and
// returns how long SendSysEx took.
uint64_t TimedSend(test::SimRig& rig, uint32_t length) {
  Bytes message(length, 0x01);
  message.front() = 0xF0;
  message.back() = 0xF7;
  const uint64_t start = rig.Now();
  SendSysEx(message.data(), length);
  return rig.Now() - start;
}

struct SendCase {
  uint32_t baud;
  uint32_t length;
  uint64_t normal;  // microseconds SendSysEx takes
  uint64_t fast;
};

// The normal mode sleeps a tick after each repeated unprepare call, the one that succeeds too:
// two ticks for any message that is still on the wire at the first call. The fast mode ends when
// the last byte has reached the module: 320 microseconds a byte at 31250 baud.
TEST(SendOnTheLink, EndsWhenTheOutputIsDoneInTheFastModeAndAtTheTickAfterInTheNormalMode) {
  const SendCase cases[] = {
      {31250, 9, 200'000, 2'880},
      {31250, 270, 200'000, 86'400},
      {31250, 1000, 500'000, 320'000},
      {0, 270, 0, 0},
  };
  for (const SendCase& c : cases) {
    for (bool fast : {false, true}) {
      SCOPED_TRACE(std::to_string(c.length) + " bytes at " + std::to_string(c.baud) + ", " +
                   ModeName(fast));
      fastMode = fast;  // before the ports open: the fast mode opens the output with its callback
      test::SimRig rig({.link = {.baud = c.baud}});
      ASSERT_TRUE(rig.opened());
      EXPECT_EQ(TimedSend(rig, c.length), fast ? c.fast : c.normal);
      // A second message waits for the first on the wire in both modes.
      EXPECT_EQ(TimedSend(rig, c.length), fast ? c.fast : c.normal);
    }
  }
}

// An output opened without the done callback (the mode was switched on after the ports were
// opened) gives no notice: the fast mode then finds the message done at the next tick.
TEST(SendOnTheLink, WithoutTheDoneNoticeTheFastModeLooksAgainEveryTick) {
  test::SimRig rig;
  fastMode = true;
  EXPECT_EQ(TimedSend(rig, 270), 100'000u);
}

// A device that answers "still playing" for ever: the same 30 s of waiting in both modes, then the
// unprepare call's fatal text with the still-playing code.
TEST(SendBound, ADeviceStillPlayingEndsWithTheSameFatalTextAfterTheSame30Seconds) {
  for (bool fast : {false, true}) {
    SCOPED_TRACE(ModeName(fast));
    fastMode = fast;
    test::TestDevice device;
    test::CountingClock clock;
    test::RecordingBoxes boxes;
    ASSERT_TRUE(OpenPorts(0, 0));
    const Bytes reset = Hex("F0 00 7F 7F 7F 7F 10 02 F7");
    device.stillPlayingCount = 2;
    SendSysEx(reset.data(), static_cast<uint32_t>(reset.size()));
    EXPECT_EQ(std::accumulate(clock.sleeps.begin(), clock.sleeps.end(), 0u), 200u);
    clock.sleeps.clear();
    device.stillPlayingCount = kMaxStillPlayingRepeats + 1;
    EXPECT_THROW(SendSysEx(reset.data(), static_cast<uint32_t>(reset.size())), test::FatalEnded);
    EXPECT_EQ(std::accumulate(clock.sleeps.begin(), clock.sleeps.end(), 0u), 30'000u);
    EXPECT_EQ(boxes.Fatals(),
              std::vector<std::string>{"midiOutUnprepareHeader call failed - code 00000041\n"});
    ClosePorts();
  }
}

}  // namespace
}  // namespace kfw
