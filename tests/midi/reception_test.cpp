// Reception: the receive parser byte by byte, the reply ring, reading one reply with its time-out
// and Cancel, and the input callback as the driver calls it.
#include "midi/reception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/report.h"
#include "image/waiting.h"
#include "tests/support/counting_clock.h"
#include "tests/support/doubles.h"
#include "tests/support/test_device.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;
using test::CountingClock;

void Feed(const Bytes& bytes) {
  for (uint8_t byte : bytes) FeedReceivedByte(byte);
}

// F0 00, the sender's identifiers, 7F, the body, F7.
Bytes Message(const Bytes& body, uint16_t company = 0x1234, uint8_t product = 0x05) {
  Bytes message = {
      0xF0,    0x00, static_cast<uint8_t>(company >> 8), static_cast<uint8_t>(company & 0xFF),
      product, 0x7F};
  message.insert(message.end(), body.begin(), body.end());
  message.push_back(0xF7);
  return message;
}

// The unread bytes of the ring, oldest first, without taking them.
Bytes RingContents() {
  Bytes bytes;
  uint32_t index = ReplyRing.readPos.load() & 0xFF;
  const uint32_t write = ReplyRing.writePos.load();
  while (index != write) {
    bytes.push_back(ReplyRing.bytes[index].load());
    index = (index + 1) % kReplyRingSize;
  }
  return bytes;
}

uint32_t ParserState() {
  return receiveParserState.load();
}

struct Read {
  ResultCode result;
  Bytes body;
  uint32_t count;
  Bytes buffer;  // the whole buffer, to see what follows the body
};

Read ReadOne(uint32_t capacity, uint32_t timeoutTicks = 1) {
  Read read{kOk, {}, 0, Bytes(capacity, 0xAA)};
  read.result = ReadReply(read.buffer.data(), capacity, &read.count, timeoutTicks);
  read.body.assign(read.buffer.begin(), read.buffer.begin() + read.count);
  return read;
}

// ---- The parser -------------------------------------------------------------------------------

// The bytes that bring a fresh parser into each state.
const Bytes kPrefixes[] = {
    {},                                    // Idle
    {0xF0},                                // StartSeen
    {0xF0, 0x00},                          // CompanyHigh
    {0xF0, 0x00, 0x12},                    // CompanyLow
    {0xF0, 0x00, 0x12, 0x34},              // ProductByte
    {0xF0, 0x00, 0x12, 0x34, 0x05},        // SkipByte
    {0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F},  // Body
};

struct ParserRow {
  uint32_t state;
  uint8_t byte;
  uint32_t next;
  bool appended;
  uint16_t company;  // receivedCompanyId afterwards
  uint8_t product;   // receivedProductId afterwards
};

// The identifiers each prefix leaves: the header bytes update them as they arrive.
constexpr uint16_t kC0 = 0x7F7F, kC1 = 0x127F, kC2 = 0x1234;
constexpr uint8_t kP0 = 0x7F, kP1 = 0x05;

const ParserRow kParserRows[] = {
    // Idle: only F0 starts a message.
    {kParserIdle, 0xF0, kParserStartSeen, false, kC0, kP0},
    {kParserIdle, 0x00, kParserIdle, false, kC0, kP0},
    {kParserIdle, 0x12, kParserIdle, false, kC0, kP0},
    {kParserIdle, 0xF7, kParserIdle, false, kC0, kP0},
    {kParserIdle, 0x90, kParserIdle, false, kC0, kP0},
    {kParserIdle, 0xF8, kParserIdle, false, kC0, kP0},
    // StartSeen: 00 (a three-byte manufacturer identifier) or a new F0.
    {kParserStartSeen, 0x00, kParserCompanyHigh, false, kC0, kP0},
    {kParserStartSeen, 0xF0, kParserStartSeen, false, kC0, kP0},
    {kParserStartSeen, 0x43, kParserIdle, false, kC0, kP0},
    {kParserStartSeen, 0x7E, kParserIdle, false, kC0, kP0},
    {kParserStartSeen, 0x7F, kParserIdle, false, kC0, kP0},
    {kParserStartSeen, 0xF7, kParserIdle, false, kC0, kP0},
    {kParserStartSeen, 0x90, kParserIdle, false, kC0, kP0},
    {kParserStartSeen, 0xFE, kParserIdle, false, kC0, kP0},
    // CompanyHigh: any byte but a status byte other than F0/F7 is the high company byte.
    {kParserCompanyHigh, 0x21, kParserCompanyLow, false, 0x217F, kP0},
    {kParserCompanyHigh, 0x00, kParserCompanyLow, false, 0x007F, kP0},
    {kParserCompanyHigh, 0xF0, kParserCompanyLow, false, 0xF07F, kP0},
    {kParserCompanyHigh, 0xF7, kParserCompanyLow, false, 0xF77F, kP0},
    {kParserCompanyHigh, 0x90, kParserIdle, false, kC0, kP0},
    {kParserCompanyHigh, 0xF8, kParserIdle, false, kC0, kP0},
    // CompanyLow.
    {kParserCompanyLow, 0x34, kParserProductByte, false, 0x1234, kP0},
    {kParserCompanyLow, 0xF7, kParserProductByte, false, 0x12F7, kP0},
    {kParserCompanyLow, 0xF0, kParserProductByte, false, 0x12F0, kP0},
    {kParserCompanyLow, 0xC0, kParserIdle, false, kC1, kP0},
    // ProductByte.
    {kParserProductByte, 0x05, kParserSkipByte, false, kC2, 0x05},
    {kParserProductByte, 0xF7, kParserSkipByte, false, kC2, 0xF7},
    {kParserProductByte, 0xF0, kParserSkipByte, false, kC2, 0xF0},
    {kParserProductByte, 0xB0, kParserIdle, false, kC2, kP0},
    // SkipByte: the sixth header byte is dropped unread.
    {kParserSkipByte, 0x7F, kParserBody, false, kC2, kP1},
    {kParserSkipByte, 0x00, kParserBody, false, kC2, kP1},
    {kParserSkipByte, 0xF7, kParserBody, false, kC2, kP1},
    {kParserSkipByte, 0xF0, kParserBody, false, kC2, kP1},
    {kParserSkipByte, 0xF2, kParserIdle, false, kC2, kP1},
    // Body: everything up to F7 is stored, F7 too; other status bytes abandon the message.
    {kParserBody, 0x16, kParserBody, true, kC2, kP1},
    {kParserBody, 0x00, kParserBody, true, kC2, kP1},
    {kParserBody, 0x7F, kParserBody, true, kC2, kP1},
    {kParserBody, 0xF0, kParserBody, true, kC2, kP1},
    {kParserBody, 0xF7, kParserIdle, true, kC2, kP1},
    {kParserBody, 0x80, kParserIdle, false, kC2, kP1},
    {kParserBody, 0xEF, kParserIdle, false, kC2, kP1},
    {kParserBody, 0xF1, kParserIdle, false, kC2, kP1},
    {kParserBody, 0xF6, kParserIdle, false, kC2, kP1},
    {kParserBody, 0xF8, kParserIdle, false, kC2, kP1},
    {kParserBody, 0xFF, kParserIdle, false, kC2, kP1},
};

TEST(ReceiveParser, TakesEachStateAndByteClassWhereTheTableSays) {
  for (const ParserRow& row : kParserRows) {
    internal::ResetReceptionState();
    Feed(kPrefixes[row.state]);
    ASSERT_EQ(ParserState(), row.state);
    const Bytes before = RingContents();
    FeedReceivedByte(row.byte);
    SCOPED_TRACE(testing::Message()
                 << "state " << row.state << ", byte 0x" << std::hex << static_cast<int>(row.byte));
    EXPECT_EQ(ParserState(), row.next);
    Bytes expectedRing = before;
    if (row.appended) expectedRing.push_back(row.byte);
    EXPECT_EQ(RingContents(), expectedRing);
    EXPECT_EQ(receivedCompanyId.load(), row.company);
    EXPECT_EQ(receivedProductId.load(), row.product);
  }
}

TEST(ReceiveParser, UpdatesTheIdentifiersAsEachHeaderByteArrives) {
  const std::pair<uint8_t, std::pair<uint16_t, uint8_t>> steps[] = {
      {0xF0, {0x7F7F, 0x7F}},
      {0x00, {0x7F7F, 0x7F}},
      {0x12, {0x127F, 0x7F}},
      {0x34, {0x1234, 0x7F}},
      {0x05, {0x1234, 0x05}},
      {0x7F, {0x1234, 0x05}},
      {0x16, {0x1234, 0x05}},
      {0xF7, {0x1234, 0x05}},
      // The next message changes one byte at a time, whatever its body.
      {0xF0, {0x1234, 0x05}},
      {0x00, {0x1234, 0x05}},
      {0x00, {0x0034, 0x05}},
      {0x21, {0x0021, 0x05}},
      {0x0A, {0x0021, 0x0A}},
  };
  for (const auto& [byte, ids] : steps) {
    FeedReceivedByte(byte);
    EXPECT_EQ(receivedCompanyId.load(), ids.first);
    EXPECT_EQ(receivedProductId.load(), ids.second);
  }
}

TEST(ReceiveParser, ShortMessageLeavesTheParserInsideTheHeader) {
  // F0 00 F7: F7 becomes the high company byte, and the next message's F0 the low one.
  Feed({0xF0, 0x00, 0xF7});
  EXPECT_EQ(ParserState(), kParserCompanyLow);
  EXPECT_EQ(receivedCompanyId.load(), 0xF77F);
  FeedReceivedByte(0xF0);
  EXPECT_EQ(ParserState(), kParserProductByte);
  EXPECT_EQ(receivedCompanyId.load(), 0xF7F0);
}

struct StreamCase {
  const char* name;
  Bytes stream;
  std::vector<Bytes> bodies;  // read one after the other, each with kOk
  uint16_t company;
  uint8_t product;
};

TEST(ReceiveParser, StreamsGiveTheirBodiesAndIdentifiers) {
  const StreamCase cases[] = {
      {"the example reply",
       {0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F, 0x16, 0x00, 0xF7},
       {{0x16, 0x00}},
       0x1234,
       0x05},
      {"an empty body", {0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F, 0xF7}, {{}}, 0x1234, 0x05},
      {"one-byte manufacturer identifiers are ignored",
       {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0xF7, 0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7},
       {},
       0x7F7F,
       0x7F},
      {"a second F0 starts the header",
       {0xF0, 0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F, 0x01, 0xF7},
       {{0x01}},
       0x1234,
       0x05},
      {"bytes outside messages are dropped",
       {0x90, 0x40, 0x7F, 0x12, 0xF7, 0xF8, 0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F, 0x02, 0xF7, 0x33},
       {{0x02}},
       0x1234,
       0x05},
      {"clock inside a body abandons the message, its bytes run on into the next body",
       {0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F, 0x16, 0xF8, 0x00, 0xF7, 0xF0, 0x00, 0x00, 0x21, 0x0A,
        0x7F, 0x20, 0xF7},
       {{0x16, 0x20}},
       0x0021,
       0x0A},
      {"a message without F7 swallows the next one",
       {0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F, 0x16, 0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x20, 0xF7},
       {{0x16, 0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x20}},
       0x1234,
       0x05},
      {"two replies read one at a time",
       {0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F, 0x10, 0x00, 0xF7, 0xF0, 0x00, 0x12, 0x34, 0x06, 0x7F,
        0x12, 0xF7},
       {{0x10, 0x00}, {0x12}},
       0x1234,
       0x06},
  };
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    internal::ResetReceptionState();
    Feed(c.stream);
    EXPECT_EQ(receivedCompanyId.load(), c.company);
    EXPECT_EQ(receivedProductId.load(), c.product);
    for (const Bytes& body : c.bodies) {
      const Read read = ReadOne(50);
      EXPECT_EQ(read.result, kOk);
      EXPECT_EQ(read.body, body);
      EXPECT_EQ(read.count, body.size());
    }
    EXPECT_EQ(ReplyRingUnreadCount(), 0u);
  }
}

// ---- The ring and ReadReply -------------------------------------------------------------------

TEST(ReplyRing, SixtyBodyBytesLeaveTheLastFortyNine) {
  Feed({0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F});
  Bytes body;
  for (uint8_t i = 0; i < 60; ++i) body.push_back(i);
  Feed(body);
  EXPECT_EQ(ReplyRingUnreadCount(), 49u);
  EXPECT_EQ(RingContents(), Bytes(body.end() - 49, body.end()));

  FeedReceivedByte(0xF7);  // the oldest byte goes again to make room
  EXPECT_EQ(ReplyRingUnreadCount(), 49u);
  const Read read = ReadOne(60);
  EXPECT_EQ(read.result, kOk);
  EXPECT_EQ(read.body, Bytes(body.end() - 48, body.end()));
}

TEST(ReplyRing, WrapsRoundWithoutLosingAByteWhileItIsRead) {
  CountingClock clock;
  for (int round = 0; round < 20; ++round) {
    const Bytes body = {static_cast<uint8_t>(round), 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    Feed(Message(body));
    const Read read = ReadOne(50);
    ASSERT_EQ(read.result, kOk) << round;
    EXPECT_EQ(read.body, body) << round;
  }
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST(ReadReply, BodyOfCapacityLessOneIsWholeAndFollowedByAZero) {
  CountingClock clock;
  Feed(Message({1, 2, 3}));
  const Read read = ReadOne(4);
  EXPECT_EQ(read.result, kOk);
  EXPECT_EQ(read.count, 3u);
  EXPECT_EQ(read.buffer, (Bytes{1, 2, 3, 0}));
}

TEST(ReadReply, BodyOfCapacityIsTooLongAndItsF7FollowsAsAnEmptyReply) {
  CountingClock clock;
  Feed(Message({1, 2, 3, 4}));
  Read read = ReadOne(4);
  EXPECT_EQ(read.result, kResponseTooLong);
  EXPECT_EQ(read.count, 4u);
  EXPECT_EQ(read.buffer, (Bytes{1, 2, 3, 4}));
  read = ReadOne(4);
  EXPECT_EQ(read.result, kOk);
  EXPECT_EQ(read.count, 0u);
  EXPECT_EQ(read.buffer, Bytes(4, 0));
}

TEST(ReadReply, TheRestOfALongBodyStaysInTheRing) {
  CountingClock clock;
  Feed(Message({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(ReadOne(4).result, kResponseTooLong);
  EXPECT_EQ(RingContents(), (Bytes{5, 6, 0xF7}));
  const Read read = ReadOne(4);
  EXPECT_EQ(read.result, kOk);
  EXPECT_EQ(read.body, (Bytes{5, 6}));
}

TEST(ReadReply, CapacityOneTakesOnlyAnEmptyBody) {
  CountingClock clock;
  Feed(Message({}));
  Feed(Message({9}));
  EXPECT_EQ(ReadOne(1).result, kOk);
  const Read read = ReadOne(1);
  EXPECT_EQ(read.result, kResponseTooLong);
  EXPECT_EQ(read.body, Bytes{9});
}

TEST(ReadReply, WorksWithoutACount) {
  CountingClock clock;
  Feed(Message({0x16, 0x00}));
  uint8_t buffer[8];
  std::memset(buffer, 0xAA, sizeof buffer);
  EXPECT_EQ(ReadReply(buffer, sizeof buffer, nullptr, 1), kOk);
  EXPECT_EQ(Bytes(buffer, buffer + 8), (Bytes{0x16, 0x00, 0, 0, 0, 0, 0, 0}));
}

TEST(ReadReply, TimesOutAfterAsManyEmptyPollsAsTicksEachOneTickLong) {
  for (uint32_t ticks : {1u, 2u, 30u, 100u}) {
    CountingClock clock;
    EXPECT_EQ(ReadOne(10, ticks).result, kResponseTimeout);
    EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(ticks, 100)) << ticks;
  }
}

TEST(ReadReply, OnlyEmptyPollsCountAgainstTheTimeOut) {
  CountingClock clock;
  // A long reply is waiting: copying it costs no tick.
  Feed(Message(Bytes(40, 0x11)));
  const Read read = ReadOne(50, 1);
  EXPECT_EQ(read.result, kOk);
  EXPECT_EQ(read.count, 40u);
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST(ReadReply, ABodyTricklingInOneByteATickNeedsATickPerByte) {
  // 16, 00 and F7 arrive one per tick: three empty polls before the F7 can be read.
  for (const auto& [ticks, expected] :
       {std::pair{3u, kResponseTimeout}, std::pair{4u, kOk}, std::pair{10u, kOk}}) {
    internal::ResetReceptionState();
    CountingClock clock;
    Feed({0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F});
    const Bytes trickle = {0x16, 0x00, 0xF7};
    clock.onSleep = [&](uint32_t sleeps) {
      if (sleeps <= trickle.size()) FeedReceivedByte(trickle[sleeps - 1]);
    };
    const Read read = ReadOne(10, ticks);
    EXPECT_EQ(read.result, expected) << ticks;
    EXPECT_EQ(clock.sleeps.size(), 3u) << ticks;
    // On a time-out the bytes taken stay in the buffer and are gone from the ring.
    EXPECT_EQ(read.body, (Bytes{0x16, 0x00})) << ticks;
    EXPECT_EQ(RingContents(), expected == kOk ? Bytes{} : Bytes{0xF7}) << ticks;
  }
}

TEST(ReadReply, ZeroTicksReturnsAtOnceAndLeavesTheRingAlone) {
  CountingClock clock;
  Feed(Message({0x16, 0x00}));
  EXPECT_EQ(ReadOne(10, 0).result, kResponseTimeout);
  EXPECT_EQ(RingContents(), (Bytes{0x16, 0x00, 0xF7}));
  RequestCancel();
  EXPECT_EQ(ReadOne(10, 0).result, kCanceled);
  EXPECT_EQ(RingContents(), (Bytes{0x16, 0x00, 0xF7}));
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST(ReadReply, CancelWinsOverAWaitingReplyAndTakesNothing) {
  CountingClock clock;
  Feed(Message({0x16, 0x00}));
  RequestCancel();
  const Read read = ReadOne(10, 100);
  EXPECT_EQ(read.result, kCanceled);
  EXPECT_EQ(read.count, 0u);
  EXPECT_EQ(read.buffer, Bytes(10, 0));
  EXPECT_EQ(RingContents(), (Bytes{0x16, 0x00, 0xF7}));
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST(ReadReply, CancelDuringAWaitEndsItAfterThatTick) {
  CountingClock clock;
  clock.onSleep = [](uint32_t sleeps) {
    if (sleeps == 4) RequestCancel();
  };
  EXPECT_EQ(ReadOne(10, 100).result, kCanceled);
  EXPECT_EQ(clock.sleeps.size(), 4u);
}

TEST(ReadReply, CancelOnTheLastTickWinsOverTheTimeOut) {
  CountingClock clock;
  clock.onSleep = [](uint32_t sleeps) {
    if (sleeps == 5) RequestCancel();
  };
  EXPECT_EQ(ReadOne(10, 5).result, kCanceled);
}

TEST(ReadReply, ABodyInterruptedByCancelKeepsWhatWasTaken) {
  CountingClock clock;
  Feed({0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F, 0x16, 0x01});
  clock.onSleep = [](uint32_t) { RequestCancel(); };
  const Read read = ReadOne(10, 100);
  EXPECT_EQ(read.result, kCanceled);
  EXPECT_EQ(read.body, (Bytes{0x16, 0x01}));
}

TEST(FlushReplies, EmptiesTheRingAndRestartsTheParserButKeepsTheIdentifiers) {
  Feed(Message({0x10, 0x00}));
  Feed({0xF0, 0x00, 0x21});  // inside the next header
  ASSERT_EQ(ParserState(), kParserCompanyLow);
  FlushReplies();
  EXPECT_EQ(ParserState(), kParserIdle);
  EXPECT_EQ(ReplyRingUnreadCount(), 0u);
  EXPECT_EQ(ReplyRing.readPos.load() & 0xFF, 0u);
  EXPECT_EQ(ReplyRing.writePos.load(), 0u);
  EXPECT_EQ(receivedCompanyId.load(), 0x2134);
  EXPECT_EQ(receivedProductId.load(), 0x05);
  // The rest of the broken header is dropped in Idle; the next message is read whole.
  Feed({0x0A, 0x7F, 0x10, 0xF7});
  EXPECT_EQ(ReplyRingUnreadCount(), 0u);
  Feed(Message({0x14, 0x00}, 0x0021, 0x0A));
  CountingClock clock;
  const Read read = ReadOne(30);
  EXPECT_EQ(read.result, kOk);
  EXPECT_EQ(read.body, (Bytes{0x14, 0x00}));
}

// ---- The input callback -----------------------------------------------------------------------

class InputCallback : public testing::Test {
 protected:
  void SetUp() override {
    HMidiIn handle = nullptr;
    ASSERT_EQ(MidiInOpen(&handle, 0, MidiInputCallback, 0, kCallbackFunction), kMmNoError);
    midiIn = handle;
    inputHeader = MidiHdr{};
    inputHeader.lpData = inputBuffer;
    inputHeader.dwBufferLength = kInputBufferSize;
    ASSERT_EQ(MidiInPrepareHeader(handle, &inputHeader, sizeof(MidiHdr)), kMmNoError);
    ASSERT_EQ(MidiInAddBuffer(handle, &inputHeader, sizeof(MidiHdr)), kMmNoError);
  }

  std::string TraceText() { return test::ReadFileText(TraceFilePath()); }

  test::TestDevice device;
  CountingClock clock;
};

TEST_F(InputCallback, ParsesTracesAndQueuesTheBufferAgain) {
  EnableTrace();
  ASSERT_TRUE(device.Deliver(Message({0x16, 0x00})));
  EXPECT_EQ(TraceText(), "RX: f0 00 12 34 05 7f 16 00 f7 \n");
  EXPECT_TRUE(device.BufferQueued());
  EXPECT_EQ(device.CountCalls("midiInAddBuffer"), 2u);
  EXPECT_EQ(inputHeader.lpData, inputBuffer);
  EXPECT_EQ(inputHeader.dwBufferLength, kInputBufferSize);
  EXPECT_EQ(inputHeader.dwBytesRecorded, 0u);
  EXPECT_EQ(Bytes(inputBuffer, inputBuffer + kInputBufferSize), Bytes(kInputBufferSize, 0));
  const Read read = ReadOne(50);
  EXPECT_EQ(read.result, kOk);
  EXPECT_EQ(read.body, (Bytes{0x16, 0x00}));
  EXPECT_EQ(receivedCompanyId.load(), 0x1234);
}

TEST_F(InputCallback, AMessageOverSeveralBuffersGivesOneLineEach) {
  EnableTrace();
  Bytes first = {0xF0, 0x00, 0x12};
  Bytes second = {0x34, 0x05, 0x7F, 0x12, 0x00};
  Bytes third = {0x01, 0xF7};
  for (const Bytes& part : {first, second, third}) ASSERT_TRUE(device.Deliver(part));
  EXPECT_EQ(TraceText(), "RX: f0 00 12 \nRX: 34 05 7f 12 00 \nRX: 01 f7 \n");
  const Read read = ReadOne(50);
  EXPECT_EQ(read.result, kOk);
  EXPECT_EQ(read.body, (Bytes{0x12, 0x00, 0x01}));
}

TEST_F(InputCallback, ABufferFullOfBytesIsParsedWhole) {
  // 2500 bytes: F0 00 .. header, then a body the ring cannot hold, then a short reply.
  Bytes stream = {0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F};
  for (int i = 0; i < 2480; ++i) stream.push_back(static_cast<uint8_t>(i & 0x7F));
  stream.push_back(0xF7);
  const Bytes reply = Message({0x16, 0x00}, 0x0021, 0x0A);
  stream.insert(stream.end(), reply.begin(), reply.end());
  stream.resize(2500, 0x00);
  ASSERT_TRUE(device.Deliver(stream));
  EXPECT_EQ(device.CountCalls("midiInAddBuffer"), 4u);  // the first queuing and three returns
  EXPECT_EQ(receivedCompanyId.load(), 0x0021);
  // The ring keeps the newest 49 bytes: the tail of the long body, its F7 and the reply's body.
  Bytes appended(stream.begin() + 6, stream.begin() + 6 + 2481);
  appended.insert(appended.end(), {0x16, 0x00, 0xF7});
  EXPECT_EQ(RingContents(), Bytes(appended.end() - 49, appended.end()));
}

TEST_F(InputCallback, AnEmptyBufferIsTracedAndNotQueuedAgain) {
  EnableTrace();
  ASSERT_TRUE(device.DeliverEmpty());
  EXPECT_EQ(TraceText(), "RX: \n");
  EXPECT_FALSE(device.BufferQueued());
  EXPECT_EQ(device.CountCalls("midiInAddBuffer"), 1u);
}

TEST_F(InputCallback, OtherMessagesAreIgnoredAndTheBufferIsNotQueuedAgain) {
  for (uint32_t message : {kMimLongError, kMimData, kMimOpen, kMimClose, kMimError}) {
    EnableTrace();
    if (!device.BufferQueued()) {
      ASSERT_EQ(MidiInAddBuffer(midiIn.load(), &inputHeader, sizeof(MidiHdr)), kMmNoError);
    }
    std::memcpy(inputBuffer, Message({0x16}).data(), 8);
    inputHeader.dwBytesRecorded = 8;
    const uint32_t queued = device.CountCalls("midiInAddBuffer");
    ASSERT_TRUE(device.DeliverMessage(message));
    EXPECT_FALSE(device.BufferQueued()) << message;
    EXPECT_EQ(device.CountCalls("midiInAddBuffer"), queued) << message;
    EXPECT_EQ(ReplyRingUnreadCount(), 0u) << message;
    EXPECT_EQ(receivedCompanyId.load(), 0x7F7F) << message;
    EXPECT_EQ(TraceText(), "") << message;
  }
}

TEST_F(InputCallback, WithTheTraceOffWritesNoFile) {
  std::filesystem::remove(TraceFilePath());
  ASSERT_TRUE(device.Deliver(Message({0x16, 0x00})));
  ASSERT_TRUE(device.DeliverEmpty());
  EXPECT_FALSE(std::filesystem::exists(TraceFilePath()));
}

TEST_F(InputCallback, ARecordedCountBeyondTheBufferIsNotReadPastIt) {
  device.Deliver(Message({0x16, 0x00}));  // uses the queued buffer; it is queued again
  std::memset(inputBuffer, 0x11, sizeof inputBuffer);
  inputHeader.dwBytesRecorded = kInputBufferSize + 500;
  EnableTrace();
  MidiInputCallback(midiIn.load(), kMimLongData, 0, reinterpret_cast<uintptr_t>(&inputHeader), 0);
  // One line of exactly the buffer's 1000 bytes.
  EXPECT_EQ(TraceText().size(), 4u + 3u * kInputBufferSize + 1u);
}

TEST_F(InputCallback, FailingToQueueTheBufferAgainIsFatal) {
  test::RecordingBoxes boxes;
  device.FailNext("midiInAddBuffer", kMmInvalidHandle);
  EXPECT_THROW(device.Deliver(Message({0x16, 0x00})), test::FatalEnded);
  EXPECT_EQ(boxes.Fatals(), std::vector<std::string>{"midiInAddBuffer returned 00000005\n"});
  // The bytes were parsed before the buffer was handed back.
  EXPECT_EQ(ReplyRingUnreadCount(), 3u);
}

TEST_F(InputCallback, FailingToQueueTheBufferAgainEndsTheProcessWithStatusOne) {
  device.FailNext("midiInAddBuffer", 0x41);
  EXPECT_EXIT(device.Deliver(Message({0x16, 0x00})), testing::ExitedWithCode(1),
              "^midiInAddBuffer returned 00000041\n$");
}

}  // namespace
}  // namespace kfw
