// SysEx reception and transmission: the receive parser, the reply ring, reading one reply with its
// time-out and Cancel, the input callback as the driver calls it; sending one message, traced
// first, waiting for a device still playing, and the fatal text of each failing call.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "base/report.h"
#include "base/waiting.h"
#include "midi/ports.h"
#include "midi/reception.h"
#include "midi/transmission.h"
#include "tests/midi/hex.h"
#include "tests/support/counting_clock.h"
#include "tests/support/doubles.h"
#include "tests/support/test_device.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Hex;

// Feeds the parser as the input callback does.
void Feed(const std::string& hex) {
  for (uint8_t byte : Hex(hex)) FeedReceivedByte(byte);
}

std::string Identifiers() {
  char text[16];
  std::snprintf(text, sizeof text, "%04X/%02X", receivedCompanyId.load(), receivedProductId.load());
  return text;
}

// Every body the ring gives, then the identifiers received.
std::string Drain() {
  std::string text;
  uint8_t body[50];
  uint32_t count = 0;
  while (ReadReply(body, sizeof body, &count, 1) == kOk) {
    text += "[" + test::HexText(Bytes(body, body + count)) + "] ";
  }
  return text + Identifiers();
}

// One read into a buffer of `capacity` bytes: its result, the count, and the whole buffer.
std::string ReadOne(uint32_t capacity, uint32_t timeoutTicks = 1) {
  Bytes buffer(capacity, 0xAA);
  uint32_t count = 99;
  const ResultCode result = ReadReply(buffer.data(), capacity, &count, timeoutTicks);
  return std::string(ResultText(result)) + ", " + std::to_string(count) + ": " +
         test::HexText(buffer);
}

TEST(ReceiveParser, RecordsTheIdentifiersAsEachHeaderByteArrives) {
  std::string seen;
  for (uint8_t byte : Hex("F0 00 12 34 05 7F 16 F7 F0 00 00 21 0A")) {
    FeedReceivedByte(byte);
    seen += Identifiers() + " ";
  }
  EXPECT_EQ(seen,
            "7F7F/7F 7F7F/7F 127F/7F 1234/7F 1234/05 1234/05 1234/05 1234/05 1234/05 1234/05 "
            "0034/05 0021/05 0021/0A ");
}

TEST(ReceiveParser, StripsTheHeaderOfF000MessagesAndKeepsTheirBodies) {
  test::CountingClock clock;
  const std::pair<const char*, const char*> cases[] = {
      {"F0 00 12 34 05 7F 16 00 F7", "[16 00] 1234/05"},
      {"F0 00 12 34 05 7F F7 F0 00 12 34 06 7F 12 F7", "[] [12] 1234/06"},
      // One-byte manufacturer identifiers, and bytes outside SysEx.
      {"F0 43 10 4C 00 00 F7 F0 7E 00 06 01 F7 90 40 7F", "7F7F/7F"},
      {"F0 F0 00 12 34 05 7F 01 F7", "[01] 1234/05"},
      // F7 taken as a header byte, and the next F0 too.
      {"F0 00 F7 F0 0A 7F 33 F7", "[33] F7F0/0A"},
      // An abandoned body stays in the ring without its F7 and runs on into the next one.
      {"F0 00 12 34 05 7F 16 F8 00 F7 F0 00 00 21 0A 7F 20 F7", "[16 20] 0021/0A"},
      {"F0 00 12 34 05 7F 16 F0 00 00 21 0A 7F F7", "[16 F0 00 00 21 0A 7F] 1234/05"},
  };
  for (const auto& [stream, bodies] : cases) {
    internal::ResetReceptionState();
    Feed(stream);
    EXPECT_EQ(Drain(), bodies) << stream;
  }
}

TEST(ReplyRing, SixtyBodyBytesLeaveTheLastFortyNine) {
  Feed("F0 00 12 34 05 7F");
  Bytes body;
  for (uint8_t i = 0; i < 60; ++i) body.push_back(i);
  for (uint8_t byte : body) FeedReceivedByte(byte);
  EXPECT_EQ(ReplyRingUnreadCount(), 49u);
  FeedReceivedByte(0xF7);  // makes room by dropping the oldest byte again
  body.erase(body.begin(), body.end() - 48);
  EXPECT_EQ(ReadOne(49), "No error, 48: " + test::HexText(body) + " 00");
}

TEST(ReadReply, TakesABodyShorterThanItsBufferAndStopsAtCapacity) {
  test::CountingClock clock;
  Feed("F0 00 12 34 05 7F 01 02 03 F7 F0 00 12 34 05 7F 04 05 06 07 F7");
  EXPECT_EQ(ReadOne(4), "No error, 3: 01 02 03 00");
  EXPECT_EQ(ReadOne(4), "MIDI Response too long, 4: 04 05 06 07");
  // The F7 left behind is an empty reply.
  EXPECT_EQ(ReadOne(4), "No error, 0: 00 00 00 00");
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST(ReadReply, CountsOnlyEmptyPollsAgainstTheTimeOut) {
  // 16, 00 and F7 arrive one per tick: three empty polls before the F7 can be read. The bytes
  // taken stay in the buffer on a time-out too.
  for (const auto& [ticks, expected] : {std::pair{3u, "MIDI Response timeout, 2: 16 00 00"},
                                        std::pair{4u, "No error, 2: 16 00 00"}}) {
    internal::ResetReceptionState();
    test::CountingClock clock;
    Feed("F0 00 12 34 05 7F");
    clock.onSleep = [](uint32_t sleeps) {
      if (sleeps <= 3) FeedReceivedByte(Hex("16 00 F7")[sleeps - 1]);
    };
    EXPECT_EQ(ReadOne(3, ticks), expected);
    EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(3, 100));
  }
}

TEST(ReadReply, CancelWinsAndTakesNothingAndZeroTicksTakeNothing) {
  test::CountingClock clock;
  Feed("F0 00 12 34 05 7F 16 00 F7");
  EXPECT_EQ(ReadOne(3, 0), "MIDI Response timeout, 0: 00 00 00");
  RequestCancel();
  EXPECT_EQ(ReadOne(3, 0), "Operation canceled, 0: 00 00 00");
  EXPECT_EQ(ReadOne(3, 100), "Operation canceled, 0: 00 00 00");
  EXPECT_EQ(ReplyRingUnreadCount(), 3u);
  EXPECT_TRUE(clock.sleeps.empty());
  // Cancel raised during the last tick wins over the time-out ending with it.
  FlushReplies();
  ClearCancel();
  clock.onSleep = [](uint32_t sleeps) {
    if (sleeps == 5) RequestCancel();
  };
  EXPECT_EQ(ReadOne(3, 5), "Operation canceled, 0: 00 00 00");
}

TEST(FlushReplies, EmptiesTheRingAndRestartsTheParserButKeepsTheIdentifiers) {
  test::CountingClock clock;
  Feed("F0 00 12 34 05 7F 10 00 F7 F0 00 21");
  FlushReplies();
  // The rest of the broken header falls on an idle parser.
  Feed("0A 7F 10 F7");
  EXPECT_EQ(Drain(), "2134/05");
}

// The ports opened as the program opens them (the input with its callback and buffer queued),
// with the trace on.
class PortsOpen : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenPorts(0, 0));
    EnableTrace();
  }

  test::TestDevice device;
  test::CountingClock clock;
  test::RecordingBoxes boxes;  // a fatal failure throws instead of ending the test program
};
using InputCallback = PortsOpen;
using Transmission = PortsOpen;

TEST_F(InputCallback, ParsesAndTracesEachFilledBufferAndQueuesItAgainCleared) {
  ASSERT_TRUE(device.Deliver(Hex("F0 00 12")));
  ASSERT_TRUE(device.Deliver(Hex("34 05 7F 16 00 F7")));
  EXPECT_EQ(test::ReadFileText(TraceFilePath()), "RX: f0 00 12 \nRX: 34 05 7f 16 00 f7 \n");
  EXPECT_TRUE(device.BufferQueued());
  EXPECT_EQ(device.CountCalls("midiInAddBuffer"), 3u);
  EXPECT_EQ(inputHeader.dwBytesRecorded, 0u);
  EXPECT_EQ(Bytes(inputBuffer, inputBuffer + kInputBufferSize), Bytes(kInputBufferSize, 0));
  EXPECT_EQ(Drain(), "[16 00] 1234/05");
}

TEST_F(InputCallback, ALongErrorIsIgnoredAndAnEmptyBufferTracedButNeitherQueuedAgain) {
  const Bytes message = Hex("F0 00 12 34 05 7F 16 F7");
  std::copy(message.begin(), message.end(), inputBuffer);
  inputHeader.dwBytesRecorded = static_cast<uint32_t>(message.size());
  ASSERT_TRUE(device.DeliverMessage(kMimLongError));
  EXPECT_FALSE(device.BufferQueued());
  EXPECT_EQ(Drain(), "7F7F/7F");
  ASSERT_EQ(MidiInAddBuffer(midiIn.load(), &inputHeader, sizeof(MidiHdr)), kMmNoError);
  ASSERT_TRUE(device.DeliverEmpty());
  EXPECT_FALSE(device.BufferQueued());
  EXPECT_EQ(test::ReadFileText(TraceFilePath()), "RX: \n");
}

TEST_F(InputCallback, FailingToQueueTheBufferAgainIsFatal) {
  device.FailNext("midiInAddBuffer", kMmInvalidHandle);
  EXPECT_THROW(device.Deliver(Hex("F0 00 12 34 05 7F 16 00 F7")), test::FatalEnded);
  EXPECT_EQ(boxes.Fatals(), std::vector<std::string>{"midiInAddBuffer returned 00000005\n"});
}

TEST_F(InputCallback, ARecordedCountBeyondTheBufferIsNotReadPastIt) {
  inputHeader.dwBytesRecorded = kInputBufferSize + 500;
  ASSERT_TRUE(device.DeliverMessage(kMimLongData));
  EXPECT_EQ(test::ReadFileText(TraceFilePath()).size(), 4u + 3u * kInputBufferSize + 1u);
}

const Bytes kReset = Hex("F0 00 7F 7F 7F 7F 10 02 F7");
const char* const kResetLine = "TX: f0 00 7f 7f 7f 7f 10 02 f7 \n";

void Send() {
  SendSysEx(kReset.data(), static_cast<uint32_t>(kReset.size()));
}

TEST_F(Transmission, SleepsOneTickAfterEachRepeatedUnprepareWhileStillPlaying) {
  for (uint32_t stillPlaying : {0u, 1u, 2u, kMaxStillPlayingRepeats}) {
    clock.sleeps.clear();
    device.stillPlayingCount = stillPlaying;
    Send();
    EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(stillPlaying, 100)) << stillPlaying;
  }
}

// The message is traced before anything is sent: a failing prepare call finds it in the trace.
TEST_F(Transmission, EachFailureEndsWithItsCallsTextAndCodeAfterTheTrace) {
  const std::pair<const char*, MmResult> failures[] = {
      {"midiOutPrepareHeader", 5}, {"midiOutLongMsg", 11}, {"midiOutUnprepareHeader", 0x40}};
  const char* const texts[] = {"midiOutPrepareHeader call failed - code 00000005\n",
                               "midiOutLongMsg call failed - code 0000000b\n",
                               "midiOutUnprepareHeader call failed - code 00000040\n",
                               "midiOutUnprepareHeader call failed - code 00000041\n"};
  for (const auto& [call, code] : failures) {
    EnableTrace();
    device.FailNext(call, code);
    EXPECT_THROW(Send(), test::FatalEnded) << call;
    EXPECT_EQ(test::ReadFileText(TraceFilePath()), kResetLine) << call;
  }
  // A device still playing after the bound counts as failing with the still-playing code.
  clock.sleeps.clear();
  device.stillPlayingCount = kMaxStillPlayingRepeats + 1;
  EXPECT_THROW(Send(), test::FatalEnded);
  EXPECT_EQ(clock.sleeps.size(), kMaxStillPlayingRepeats);
  EXPECT_EQ(boxes.Fatals(), std::vector<std::string>(std::begin(texts), std::end(texts)));
}

// The limit a procedure checks its messages against: the open output's, and no limit whenever the
// layer cannot tell, so that sending goes on as it would without the question.
TEST_F(Transmission, TheLargestSendableMessageIsTheOpenOutputsOrNoLimit) {
  device.largestMessage = 16379;
  EXPECT_EQ(LargestSendableMessage(), 16379u);
  device.FailNext("midiOutGetLargestMessage", kMmNotSupported);
  EXPECT_EQ(LargestSendableMessage(), kNoMessageLimit);
  ClosePorts();
  EXPECT_EQ(LargestSendableMessage(), kNoMessageLimit);
}

}  // namespace
}  // namespace kfw
