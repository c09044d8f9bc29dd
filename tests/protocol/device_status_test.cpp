// The module's status: asking for it, passing over other replies, parsing the record, addressing
// later commands to the module, and what a failure leaves behind.
#include "protocol/device_status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

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

// The example status reply, then the name bytes.
Bytes StatusBody(uint8_t state = 0x00, const std::string& name = "AB") {
  Bytes body = {0x12, state, 0x01, 0x03, 0x00, 0x40, 0x00, 0x21, 0x0A, 0x00,
                0x00, 0x00,  0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  for (char c : name) body.push_back(static_cast<uint8_t>(c));
  return body;
}

using Header = std::array<uint8_t, 6>;
constexpr Header kAnyModule = {0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F};
constexpr Header kTheModule = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F};

DeviceInfo Junk() {
  DeviceInfo info;
  info.state = 9;
  info.versionMajor = 9;
  info.blockSize = 999;
  std::strcpy(info.serialText, "junk");
  std::strcpy(info.versionText, "9.9");
  std::strcpy(info.productName, "junk");
  info.companyId = 0x1111;
  return info;
}

void ExpectCleared(const DeviceInfo& info) {
  EXPECT_EQ(info.state, 0);
  EXPECT_EQ(info.versionMajor, 0);
  EXPECT_EQ(info.versionMinor, 0);
  EXPECT_EQ(info.blockSize, 0);
  EXPECT_EQ(info.auxByte1, 0);
  EXPECT_EQ(info.auxByte2, 0);
  EXPECT_EQ(info.auxWord, 0);
  EXPECT_STREQ(info.serialText, "");
  EXPECT_STREQ(info.versionText, "");
  EXPECT_STREQ(info.productName, "");
  EXPECT_EQ(info.productId, 0);
  EXPECT_EQ(info.companyId, 0);
}

using DeviceStatus = test::ProtocolTest;

TEST_F(DeviceStatus, TheExampleReplyFillsTheRecordAndAddressesTheModule) {
  EnableTrace();
  AnswerWith({ModuleReply(StatusBody())});
  DeviceInfo info = Junk();
  ASSERT_EQ(ReadDeviceStatus(info), kOk);
  EXPECT_EQ(device.Sent(), (std::vector<Bytes>{{0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x11, 0xF7}}));
  EXPECT_EQ(info.state, 0);
  EXPECT_EQ(info.versionMajor, 1);
  EXPECT_EQ(info.versionMinor, 3);
  EXPECT_STREQ(info.versionText, "1.3");
  EXPECT_EQ(info.blockSize, 64);
  EXPECT_EQ(info.companyId, 0x0021);
  EXPECT_EQ(info.productId, 0x0A);
  EXPECT_EQ(info.auxByte1, 0);
  EXPECT_EQ(info.auxByte2, 0);
  EXPECT_EQ(info.auxWord, 0);
  EXPECT_STREQ(info.serialText, "010203040506");
  EXPECT_STREQ(info.productName, "AB");
  EXPECT_EQ(SysExHeader, kTheModule);
  EXPECT_EQ(test::ReadFileText(TraceFilePath()).rfind("--- QX-412 get status request ---\n", 0),
            0u);
}

TEST_F(DeviceStatus, ANonZeroStateLeavesTheVersionTextEmpty) {
  AnswerWith({ModuleReply(StatusBody(0x01))});
  DeviceInfo info;
  ASSERT_EQ(ReadDeviceStatus(info), kOk);
  EXPECT_EQ(info.state, 1);
  EXPECT_EQ(info.versionMajor, 1);
  EXPECT_EQ(info.versionMinor, 3);
  EXPECT_STREQ(info.versionText, "");
  EXPECT_EQ(info.blockSize, 64);
  EXPECT_STREQ(info.serialText, "010203040506");
  EXPECT_STREQ(info.productName, "AB");
  EXPECT_EQ(SysExHeader, kTheModule);
}

TEST_F(DeviceStatus, ANineteenByteReplyHasNoName) {
  AnswerWith({ModuleReply(StatusBody(0x00, ""))});
  DeviceInfo info = Junk();
  ASSERT_EQ(ReadDeviceStatus(info), kOk);
  EXPECT_STREQ(info.productName, "");
  EXPECT_STREQ(info.serialText, "010203040506");
}

TEST_F(DeviceStatus, ATwoByteReplyIsAcceptedWithZeroesForTheRest) {
  SetDeviceAddress(0x0021, 0x0A);
  AnswerWith({ModuleReply({0x12, 0x05})});
  DeviceInfo info = Junk();
  ASSERT_EQ(ReadDeviceStatus(info), kOk);
  EXPECT_EQ(info.state, 5);
  EXPECT_EQ(info.versionMajor, 0);
  EXPECT_EQ(info.blockSize, 0);
  EXPECT_STREQ(info.serialText, "000000000000");
  EXPECT_STREQ(info.productName, "");
  EXPECT_STREQ(info.versionText, "");
  EXPECT_EQ(SysExHeader, (Header{0xF0, 0x00, 0x00, 0x00, 0x00, 0x7F}));
}

TEST_F(DeviceStatus, RepliesOfOtherCodesArePassedOver) {
  AnswerWith({ModuleReply({0x10, 0x00}), ModuleReply({0x10, 0x00}), ModuleReply(StatusBody())});
  DeviceInfo info;
  ASSERT_EQ(ReadDeviceStatus(info), kOk);
  EXPECT_STREQ(info.productName, "AB");
  EXPECT_EQ(ReplyRingUnreadCount(), 0u);
}

TEST_F(DeviceStatus, EachReplyPassedOverStartsAFreshTimeOut) {
  // Replies 29 ticks apart: each arrives one tick before its wait would end.
  const Bytes late = ModuleReply({0x10, 0x00});
  const Bytes status = ModuleReply(StatusBody());
  clock.onSleep = [&](uint32_t sleeps) {
    if (sleeps == 29 || sleeps == 58) device.Deliver(late);
    if (sleeps == 87) device.Deliver(status);
  };
  DeviceInfo info;
  EXPECT_EQ(ReadDeviceStatus(info), kOk);
  EXPECT_EQ(clock.sleeps.size(), 87u);
}

TEST_F(DeviceStatus, ThirtyEmptyTicksAfterAReplyPassedOverAreATimeOut) {
  const Bytes late = ModuleReply({0x10, 0x00});
  clock.onSleep = [&](uint32_t sleeps) {
    if (sleeps == 29) device.Deliver(late);
  };
  DeviceInfo info;
  EXPECT_EQ(ReadDeviceStatus(info), kResponseTimeout);
  EXPECT_EQ(clock.sleeps.size(), 59u);
}

TEST_F(DeviceStatus, AFailureLeavesTheRecordClearedAndTheAddressAsItWas) {
  struct Case {
    const char* name;
    ResultCode expected;
  };
  const Case cases[] = {
      {"no answer", kResponseTimeout},
      {"cancel", kCanceled},
      {"a reply of 154 bytes", kResponseTooLong},
  };
  for (const Header& before : {kAnyModule, Header{0xF0, 0x00, 0x00, 0x33, 0x0B, 0x7F}}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      ClearCancel();
      FlushReplies();
      SetDeviceAddress(static_cast<uint16_t>(before[2] << 8 | before[3]), before[4]);
      device.onSend = nullptr;
      clock.onSleep = nullptr;
      if (c.expected == kCanceled) {
        device.onSend = [](const Bytes&) { RequestCancel(); };
      }
      if (c.expected == kResponseTooLong) {
        AnswerInPieces(ModuleReply(StatusBody(0x00, std::string(154 - 19, 'N'))), 40);
      }
      DeviceInfo info = Junk();
      EXPECT_EQ(ReadDeviceStatus(info), c.expected);
      ExpectCleared(info);
      EXPECT_EQ(SysExHeader, before);
    }
  }
}

TEST_F(DeviceStatus, AReplyOf153BytesFits) {
  AnswerInPieces(ModuleReply(StatusBody(0x00, std::string(153 - 19, 'N'))), 40);
  DeviceInfo info;
  ASSERT_EQ(ReadDeviceStatus(info), kOk);
  EXPECT_EQ(std::string(info.productName), std::string(29, 'N'));
}

TEST(ParseDeviceStatus, CutsANameLongerThanTwentyNineCharacters) {
  const std::pair<size_t, size_t> lengths[] = {{0, 0},   {1, 1},   {28, 28}, {29, 29},
                                               {30, 29}, {60, 29}, {134, 29}};
  for (const auto& [given, kept] : lengths) {
    std::string name;
    for (size_t i = 0; i < given; ++i) name += static_cast<char>('a' + i % 26);
    const Bytes body = StatusBody(0x00, name);
    DeviceInfo info;
    ParseDeviceStatus(body.data(), static_cast<uint32_t>(body.size()), info);
    EXPECT_EQ(std::string(info.productName), name.substr(0, kept)) << given;
  }
}

TEST(ParseDeviceStatus, SizesAreSevenBitPairsAndTheCompanyIsABytePair) {
  Bytes body = {0x12, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00,
                0x00, 0x7F, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  DeviceInfo info;
  ParseDeviceStatus(body.data(), static_cast<uint32_t>(body.size()), info);
  EXPECT_EQ(info.blockSize, 128);
  EXPECT_EQ(info.companyId, 0x0100);
  EXPECT_EQ(info.auxWord, 16383);
  body[4] = 0x7F;
  body[5] = 0x7F;
  body[6] = 0x7F;
  body[7] = 0x7F;
  ParseDeviceStatus(body.data(), static_cast<uint32_t>(body.size()), info);
  EXPECT_EQ(info.blockSize, 16383);
  EXPECT_EQ(info.companyId, 0x7F7F);
}

TEST(ParseDeviceStatus, ReadsNothingBeyondTheReplyLength) {
  Bytes body = StatusBody(0x00, "NAME");
  // Only the first four bytes belong to the reply; the rest of the buffer is someone else's.
  DeviceInfo info;
  ParseDeviceStatus(body.data(), 4, info);
  EXPECT_EQ(info.versionMajor, 1);
  EXPECT_EQ(info.versionMinor, 3);
  EXPECT_EQ(info.blockSize, 0);
  EXPECT_EQ(info.companyId, 0);
  EXPECT_STREQ(info.serialText, "000000000000");
  EXPECT_STREQ(info.productName, "");
  EXPECT_STREQ(info.versionText, "1.3");
}

TEST(ParseDeviceStatus, WritesTheVersionInDecimalWithoutLeadingZeros) {
  const std::tuple<uint8_t, uint8_t, const char*> versions[] = {
      {1, 3, "1.3"}, {0, 0, "0.0"}, {10, 2, "10.2"}, {255, 255, "255.255"}, {127, 99, "127.99"}};
  for (const auto& [major, minor, text] : versions) {
    Bytes body = StatusBody();
    body[2] = major;
    body[3] = minor;
    DeviceInfo info;
    ParseDeviceStatus(body.data(), static_cast<uint32_t>(body.size()), info);
    EXPECT_STREQ(info.versionText, text);
  }
}

TEST(ParseDeviceStatus, WritesTheSerialAsLowerCaseHex) {
  Bytes body = StatusBody();
  const uint8_t serial[] = {0xAB, 0x0C, 0x7F, 0x00, 0xFF, 0x10};
  std::copy(std::begin(serial), std::end(serial), body.begin() + 13);
  DeviceInfo info;
  ParseDeviceStatus(body.data(), static_cast<uint32_t>(body.size()), info);
  EXPECT_STREQ(info.serialText, "ab0c7f00ff10");
}

}  // namespace
}  // namespace kfw
