// Transmission: the message traced before it is sent, the failures of each call with their texts,
// and the wait for a device that is still playing, with its bound.
#include "midi/transmission.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/report.h"
#include "tests/support/counting_clock.h"
#include "tests/support/doubles.h"
#include "tests/support/test_device.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kReset = {0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x10, 0x02, 0xF7};
const char* const kResetLine = "TX: f0 00 7f 7f 7f 7f 10 02 f7 \n";

class Transmission : public testing::Test {
 protected:
  void SetUp() override {
    HMidiOut handle = nullptr;
    ASSERT_EQ(MidiOutOpen(&handle, 0, 0, 0, kCallbackNull), kMmNoError);
    midiOut = handle;
  }

  void Send(const Bytes& message) {
    SendSysEx(message.data(), static_cast<uint32_t>(message.size()));
  }

  std::string TraceText() { return test::ReadFileText(TraceFilePath()); }

  test::TestDevice device;
  test::CountingClock clock;
};

TEST_F(Transmission, SendsTheWholeMessageOnceAndReturnsAtOnceWhenTheDeviceIsDone) {
  Send(kReset);
  EXPECT_EQ(device.Sent(), std::vector<Bytes>{kReset});
  EXPECT_EQ(device.Calls(), (std::vector<std::string>{"midiOutOpen", "midiOutPrepareHeader",
                                                      "midiOutLongMsg", "midiOutUnprepareHeader"}));
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(Transmission, TracesTheMessageBeforeSendingIt) {
  EnableTrace();
  std::string traceAtSend;
  device.onSend = [&](const Bytes&) { traceAtSend = TraceText(); };
  Send(kReset);
  EXPECT_EQ(traceAtSend, kResetLine);
  EXPECT_EQ(TraceText(), kResetLine);
}

TEST_F(Transmission, WithTheTraceOffWritesNoFile) {
  std::filesystem::remove(TraceFilePath());
  Send(kReset);
  EXPECT_FALSE(std::filesystem::exists(TraceFilePath()));
}

TEST_F(Transmission, WaitsOneTickPerStillPlayingRepeat) {
  for (uint32_t stillPlaying : {0u, 1u, 2u, 5u}) {
    test::CountingClock counting;
    test::TestDevice fresh;
    HMidiOut handle = nullptr;
    ASSERT_EQ(MidiOutOpen(&handle, 0, 0, 0, kCallbackNull), kMmNoError);
    midiOut = handle;
    fresh.stillPlayingCount = stillPlaying;
    Send(kReset);
    EXPECT_EQ(counting.sleeps, std::vector<uint32_t>(stillPlaying, 100)) << stillPlaying;
    EXPECT_EQ(fresh.CountCalls("midiOutUnprepareHeader"), stillPlaying + 1) << stillPlaying;
  }
}

TEST_F(Transmission, ADeviceStillPlayingAtTheBoundIsWaitedFor) {
  device.stillPlayingCount = kMaxStillPlayingRepeats;
  Send(kReset);
  EXPECT_EQ(clock.sleeps.size(), kMaxStillPlayingRepeats);
  EXPECT_EQ(device.CountCalls("midiOutUnprepareHeader"), kMaxStillPlayingRepeats + 1);
}

TEST_F(Transmission, ADeviceThatNeverFinishesEndsWithTheUnprepareTextAfterTheBound) {
  test::RecordingBoxes boxes;
  device.stillPlayingCount = 1'000'000;
  EXPECT_THROW(Send(kReset), test::FatalEnded);
  EXPECT_EQ(boxes.Fatals(),
            std::vector<std::string>{"midiOutUnprepareHeader call failed - code 00000041\n"});
  EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(kMaxStillPlayingRepeats, 100));
  EXPECT_EQ(device.CountCalls("midiOutUnprepareHeader"), kMaxStillPlayingRepeats + 1);
}

struct FailureCase {
  const char* call;
  MmResult code;
  const char* text;
  std::vector<std::string> callsMade;
};

TEST_F(Transmission, EachFailingCallEndsWithItsTextAndCodeAfterTheTrace) {
  const FailureCase cases[] = {
      {"midiOutPrepareHeader",
       5,
       "midiOutPrepareHeader call failed - code 00000005\n",
       {"midiOutPrepareHeader"}},
      {"midiOutLongMsg",
       11,
       "midiOutLongMsg call failed - code 0000000b\n",
       {"midiOutPrepareHeader", "midiOutLongMsg"}},
      {"midiOutLongMsg",
       7,
       "midiOutLongMsg call failed - code 00000007\n",
       {"midiOutPrepareHeader", "midiOutLongMsg"}},
      {"midiOutUnprepareHeader",
       0x40,
       "midiOutUnprepareHeader call failed - code 00000040\n",
       {"midiOutPrepareHeader", "midiOutLongMsg", "midiOutUnprepareHeader"}},
      {"midiOutUnprepareHeader",
       0xFFFFFFFF,
       "midiOutUnprepareHeader call failed - code ffffffff\n",
       {"midiOutPrepareHeader", "midiOutLongMsg", "midiOutUnprepareHeader"}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.text);
    test::TestDevice fresh;
    HMidiOut handle = nullptr;
    ASSERT_EQ(MidiOutOpen(&handle, 0, 0, 0, kCallbackNull), kMmNoError);
    midiOut = handle;
    test::RecordingBoxes boxes;
    EnableTrace();
    fresh.FailNext(c.call, c.code);
    EXPECT_THROW(Send(kReset), test::FatalEnded);
    EXPECT_EQ(boxes.Fatals(), std::vector<std::string>{c.text});
    std::vector<std::string> calls = fresh.Calls();
    calls.erase(calls.begin());  // midiOutOpen
    EXPECT_EQ(calls, c.callsMade);
    EXPECT_EQ(TraceText(), kResetLine);
  }
}

TEST_F(Transmission, AStillPlayingDeviceThatThenFailsEndsWithThatCode) {
  test::RecordingBoxes boxes;
  device.FailNext("midiOutUnprepareHeader", kMidiErrStillPlaying);
  device.FailNext("midiOutUnprepareHeader", kMidiErrStillPlaying);
  device.FailNext("midiOutUnprepareHeader", kMmInvalidHandle);
  EXPECT_THROW(Send(kReset), test::FatalEnded);
  EXPECT_EQ(boxes.Fatals(),
            std::vector<std::string>{"midiOutUnprepareHeader call failed - code 00000005\n"});
  EXPECT_EQ(clock.sleeps.size(), 2u);
}

TEST_F(Transmission, AFailedSendEndsTheProcessWithStatusOne) {
  device.FailNext("midiOutLongMsg", 11);
  EXPECT_EXIT(Send(kReset), testing::ExitedWithCode(1),
              "^midiOutLongMsg call failed - code 0000000b\n$");
}

}  // namespace
}  // namespace kfw
