// The message set: the header and its address, every command byte for byte with its trace banner,
// the program-block layout and checksum, and the judgement of the module's answer to a block.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KFW_UNDER_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KFW_UNDER_SANITIZER 1
#endif

#include <sys/resource.h>

#include "image/report.h"
#include "image/waiting.h"
#include "midi/reception.h"
#include "protocol/messages.h"
#include "tests/protocol/protocol_fixture.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

using test::Bytes;
using test::ModuleReply;

Bytes WithHeader(std::initializer_list<uint8_t> rest, uint16_t company = 0x7F7F,
                 uint8_t product = 0x7F) {
  Bytes message = {
      0xF0,    0x00, static_cast<uint8_t>(company >> 8), static_cast<uint8_t>(company & 0xFF),
      product, 0x7F};
  for (uint8_t byte : rest) message.push_back(byte);
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

std::string TxLine(const Bytes& message) {
  std::string line = "TX: ";
  char digits[4];
  for (uint8_t byte : message) {
    std::snprintf(digits, sizeof digits, "%.2x ", byte);
    line += digits;
  }
  return line + "\n";
}

TEST(SysExHeader, StartsAddressedToAnyModuleAndTakesEachAddressUnmasked) {
  EXPECT_EQ(SysExHeader, (std::array<uint8_t, 6>{0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F}));
  const std::pair<std::pair<uint16_t, uint8_t>, std::array<uint8_t, 6>> cases[] = {
      {{0x0123, 0x45}, {0xF0, 0x00, 0x01, 0x23, 0x45, 0x7F}},
      {{0x0021, 0x0A}, {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F}},
      {{0xFFFF, 0xFF}, {0xF0, 0x00, 0xFF, 0xFF, 0xFF, 0x7F}},
      {{0x8000, 0x80}, {0xF0, 0x00, 0x80, 0x00, 0x80, 0x7F}},
      {{0x7F7F, 0x7F}, {0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F}},
  };
  for (const auto& [address, header] : cases) {
    SetDeviceAddress(address.first, address.second);
    EXPECT_EQ(SysExHeader, header);
  }
}

using Messages = test::ProtocolTest;

TEST_F(Messages, EachCommandGoesOutByteForByteAfterItsBanner) {
  struct Case {
    const char* name;
    std::function<void()> send;
    Bytes message;
    const char* banner;
  };
  const Case cases[] = {
      {"reset 2 to any module", [] { SendReset(2); }, WithHeader({0x10, 0x02, 0xF7}),
       "--- Resetting QX-412 ---\n"},
      {"reset 0 to the module",
       [] {
         SetDeviceAddress(0x0021, 0x0A);
         SendReset(0);
       },
       WithHeader({0x10, 0x00, 0xF7}, 0x0021, 0x0A), "--- Resetting QX-412 ---\n"},
      {"a reset argument is not masked", [] { SendReset(0x85); }, WithHeader({0x10, 0x85, 0xF7}),
       "--- Resetting QX-412 ---\n"},
      {"get status to the module",
       [] {
         SetDeviceAddress(0x0021, 0x0A);
         SendGetStatus();
       },
       {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x11, 0xF7},
       "--- QX-412 get status request ---\n"},
      {"prepare area", [] { SendPrepareArea(0); }, WithHeader({0x13, 0x00, 0xF7}),
       "--- Prepare area ---\n"},
      {"a prepare argument is not masked", [] { SendPrepareArea(0xFF); },
       WithHeader({0x13, 0xFF, 0xF7}), "--- Prepare area ---\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    internal::ResetMessageState();
    EnableTrace();
    const size_t sentBefore = device.Sent().size();
    c.send();
    ASSERT_EQ(device.Sent().size(), sentBefore + 1);
    EXPECT_EQ(device.Sent().back(), c.message);
    EXPECT_EQ(test::ReadFileText(TraceFilePath()), c.banner + TxLine(c.message));
  }
}

TEST_F(Messages, CommandsDoNotEmptyTheRingBeforeSending) {
  device.Deliver(ModuleReply({0x10}));
  SendReset(2);
  SendGetStatus();
  SendPrepareArea(0);
  EXPECT_EQ(ReplyRingUnreadCount(), 2u);
}

struct BlockCase {
  const char* name;
  uint32_t number;
  Bytes data;
  Bytes afterHeader;  // from the command code to F7
};

TEST_F(Messages, AProgramBlockIsLaidOutWithSevenBitPairsAndAFourteenBitSum) {
  const BlockCase cases[] = {
      {"block 0 with 7F 7F 7F",
       0,
       {0x7F, 0x7F, 0x7F},
       {0x15, 0x00, 0x00, 0x00, 0x03, 0x7F, 0x7F, 0x7F, 0x03, 0x00, 0xF7}},
      {"final block 300", 300, {}, {0x15, 0x02, 0x2C, 0x00, 0x00, 0x00, 0x2E, 0xF7}},
      {"block 16384 goes out as 0", 16384, {}, {0x15, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7}},
      {"block 16385", 16385, {0x01}, {0x15, 0x00, 0x01, 0x00, 0x01, 0x01, 0x00, 0x03, 0xF7}},
      {"block 128", 128, {0x00}, {0x15, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x02, 0xF7}},
  };
  SetDeviceAddress(0x0021, 0x0A);
  AnswerWith({ModuleReply({0x16, 0x00})});
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SendProgramBlock(c.number, c.data.data(), static_cast<uint32_t>(c.data.size())), kOk);
    Bytes expected = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F};
    for (uint8_t byte : c.afterHeader) expected.push_back(byte);
    EXPECT_EQ(device.Sent().back(), expected);
    EXPECT_EQ(expected.size(), c.data.size() + 14);
  }
}

TEST_F(Messages, ALongBlockCarriesItsLengthAsAPairAndOnlyTheLowFourteenBitsOfItsSum) {
  const Bytes data(200, 0x7F);  // length 01 48; sum 1 + 72 + 200 * 127 = 25473 = 0x6381
  AnswerWith({ModuleReply({0x16, 0x00})});
  ASSERT_EQ(SendProgramBlock(0, data.data(), 200), kOk);
  const Bytes sent = device.Sent().back();
  ASSERT_EQ(sent.size(), 214u);
  EXPECT_EQ(Bytes(sent.begin() + 6, sent.begin() + 11), (Bytes{0x15, 0x00, 0x00, 0x01, 0x48}));
  EXPECT_EQ(Bytes(sent.begin() + 11, sent.begin() + 211), data);
  EXPECT_EQ(Bytes(sent.end() - 3, sent.end()), (Bytes{0x47, 0x01, 0xF7}));
}

struct JudgementCase {
  const char* name;
  Bytes reply;
  ResultCode expected;
};

const JudgementCase kJudgements[] = {
    {"16 00", {0x16, 0x00}, kOk},
    {"16 alone", {0x16}, kOk},
    {"16 07", {0x16, 0x07}, kOk},
    {"16 07 00", {0x16, 0x07, 0x00}, kResponseUnknown},
    {"16 00 00", {0x16, 0x00, 0x00}, kOk},
    {"16 01", {0x16, 0x01}, kDeviceBadChecksum},
    {"16 02", {0x16, 0x02}, kDeviceBadLength},
    {"16 03", {0x16, 0x03}, kDeviceBadSequence},
    {"16 04", {0x16, 0x04}, kResponseUnknown},
    {"16 05", {0x16, 0x05}, kDeviceProgrammingFault},
    {"16 06", {0x16, 0x06}, kDeviceBadCheckcode},
    {"16 08", {0x16, 0x08}, kDeviceBadLength},
    {"16 09", {0x16, 0x09}, kResponseUnknown},
    {"16 7F", {0x16, 0x7F}, kResponseUnknown},
    {"16 05 with more bytes", {0x16, 0x05, 0x01, 0x02}, kDeviceProgrammingFault},
    {"a status reply first", {0x12, 0x00, 0x01, 0x03}, kResponseUnknown},
    {"a reset answer first", {0x10}, kResponseUnknown},
    {"an empty reply", {}, kResponseUnknown},
};

TEST(DeviceStatusTable, HoldsTheSevenCodesInOrder) {
  const std::pair<uint8_t, ResultCode> expected[] = {
      {1, kDeviceBadChecksum}, {2, kDeviceBadLength},        {3, kDeviceBadSequence},
      {4, kResponseUnknown},   {5, kDeviceProgrammingFault}, {6, kDeviceBadCheckcode},
      {8, kDeviceBadLength},
  };
  ASSERT_EQ(DeviceStatusTable.size(), std::size(expected));
  for (size_t i = 0; i < DeviceStatusTable.size(); ++i) {
    EXPECT_EQ(DeviceStatusTable[i].status, expected[i].first);
    EXPECT_EQ(DeviceStatusTable[i].result, expected[i].second);
  }
}

TEST_F(Messages, TheAnswerToABlockIsJudgedByItsCodeAndStatus) {
  const Bytes data = {1, 2, 3};
  for (const JudgementCase& c : kJudgements) {
    SCOPED_TRACE(c.name);
    FlushReplies();
    AnswerWith({ModuleReply(c.reply)});
    EXPECT_EQ(SendProgramBlock(0, data.data(), 3), c.expected);
    EXPECT_EQ(JudgeProgramBlockReply(c.reply.data(), static_cast<uint32_t>(c.reply.size())),
              c.expected);
    EXPECT_EQ(ReplyRingUnreadCount(), 0u);
  }
}

TEST_F(Messages, ExactlyOneReplyIsReadPerBlock) {
  const Bytes data = {1};
  AnswerWith({ModuleReply({0x16, 0x00}), ModuleReply({0x16, 0x01})});
  EXPECT_EQ(SendProgramBlock(0, data.data(), 1), kOk);
  EXPECT_EQ(ReplyRingUnreadCount(), 3u);  // 16 01 F7 waits for the next block
  device.onSend = nullptr;
  EXPECT_EQ(SendProgramBlock(1, data.data(), 1), kDeviceBadChecksum);

  // A reply of another code is not passed over: it is the answer, and what follows stays.
  AnswerWith({ModuleReply({0x12, 0x00}), ModuleReply({0x16, 0x00})});
  EXPECT_EQ(SendProgramBlock(2, data.data(), 1), kResponseUnknown);
  EXPECT_EQ(ReplyRingUnreadCount(), 3u);
}

TEST_F(Messages, AReplyLongerThanTheBufferIsTooLong) {
  const Bytes data = {1};
  Bytes fortyNine = {0x16, 0x00};
  fortyNine.resize(49, 0x00);
  AnswerInPieces(ModuleReply(fortyNine), 30);
  EXPECT_EQ(SendProgramBlock(0, data.data(), 1), kOk);
  Bytes fifty = fortyNine;
  fifty.push_back(0x00);
  AnswerInPieces(ModuleReply(fifty), 30);
  EXPECT_EQ(SendProgramBlock(1, data.data(), 1), kResponseTooLong);
  EXPECT_EQ(RingContents(), Bytes{0xF7});
}

TEST_F(Messages, NoAnswerWithinOneHundredTicksIsATimeOut) {
  const Bytes data = {1};
  EXPECT_EQ(SendProgramBlock(0, data.data(), 1), kResponseTimeout);
  EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(100, 100));
}

TEST_F(Messages, CancelEndsTheWaitForTheAnswer) {
  const Bytes data = {1};
  clock.onSleep = [](uint32_t sleeps) {
    if (sleeps == 7) RequestCancel();
  };
  EXPECT_EQ(SendProgramBlock(0, data.data(), 1), kCanceled);
  EXPECT_EQ(clock.sleeps.size(), 7u);
}

TEST_F(Messages, TheTraceHoldsTheBlockMessageButNoBannerOfItsOwn) {
  EnableTrace();
  const Bytes data = {0x7F, 0x7F, 0x7F};
  AnswerWith({ModuleReply({0x16, 0x00})});
  ASSERT_EQ(SendProgramBlock(0, data.data(), 3), kOk);
  const std::string trace = test::ReadFileText(TraceFilePath());
  EXPECT_EQ(trace.rfind("TX: f0 00 7f 7f 7f 7f 15 00 00 00 03 7f 7f 7f 03 00 f7 \n", 0), 0u);
  EXPECT_EQ(trace.find("---"), std::string::npos);
}

using MessagesDeathTest = test::ProtocolTest;

#ifndef KFW_UNDER_SANITIZER
// In a process whose address space is capped at 1 GB, a message of 4 GB cannot be had. The data
// pointer is never read: the allocation fails first. Exits 0 when nothing was sent.
[[noreturn]] void SendAHugeBlockWithLittleMemory(test::TestDevice& device) {
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = 1ul << 30;
  setrlimit(RLIMIT_AS, &limit);
  const uint8_t byte = 0;
  const ResultCode result = SendProgramBlock(0, &byte, 0xFFFFFFF0u);
  std::_Exit(result == kOutOfMemory && device.Sent().empty() ? 0 : 2);
}
#endif

TEST_F(MessagesDeathTest, ABlockThatCannotBeBuiltIsOutOfMemoryAndNothingIsSent) {
#ifdef KFW_UNDER_SANITIZER
  GTEST_SKIP() << "needs a limit on the address space, which the sanitizers' runtimes cannot run "
                  "under; the plain build runs this test";
#else
  EXPECT_EXIT(SendAHugeBlockWithLittleMemory(device), testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace kfw
