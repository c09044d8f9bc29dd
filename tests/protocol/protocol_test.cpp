// The message set and the device status against the scriptable device: every command byte for
// byte, the program block and the judgement of its answer, and the reading of the status record.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "base/waiting.h"
#include "midi/ports.h"
#include "midi/reception.h"
#include "protocol/device_status.h"
#include "protocol/messages.h"
#include "tests/midi/hex.h"
#include "tests/support/counting_clock.h"
#include "tests/support/doubles.h"
#include "tests/support/test_device.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Hex;

// A reply from the module of company 0x0021, product 0x0A.
Bytes Reply(const std::string& body) {
  return Hex("F0 00 00 21 0A 7F " + body + " F7");
}

class Protocol : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(OpenPorts(0, 0)); }

  // Every message sent is answered with these replies, one input buffer each.
  void AnswerWith(std::vector<Bytes> replies) {
    device.onSend = [this, replies](const Bytes&) {
      for (const Bytes& reply : replies) device.Deliver(reply);
    };
  }

  test::TestDevice device;
  test::CountingClock clock;
};

// Their trace banners are pinned with the whole trace of an update, among the engine's tests.
TEST_F(Protocol, EachCommandGoesOutByteForByteToTheAddressAsItStands) {
  const std::tuple<uint16_t, uint8_t, void (*)(), const char*> cases[] = {
      {0x7F7F, 0x7F, [] { SendReset(2); }, "F0 00 7F 7F 7F 7F 10 02 F7"},
      {0x7F7F, 0x7F, [] { SendPrepareArea(0); }, "F0 00 7F 7F 7F 7F 13 00 F7"},
      {0x0123, 0x45, [] { SendGetStatus(); }, "F0 00 01 23 45 7F 11 F7"},
      // Neither the address nor the arguments are masked to 7 bits.
      {0xFFFF, 0xFF, [] { SendReset(0x85); }, "F0 00 FF FF FF 7F 10 85 F7"},
  };
  for (const auto& [company, product, send, message] : cases) {
    SetDeviceAddress(company, product);
    send();
    EXPECT_EQ(device.Sent().back(), Hex(message));
  }
}

TEST_F(Protocol, AProgramBlockCarriesSevenBitPairsAndTheLowFourteenBitsOfItsSum) {
  std::string long7F;
  for (int i = 0; i < 200; ++i) long7F += "7F ";
  // Block number, data, and what the message holds after the header.
  const std::tuple<uint32_t, std::string, std::string> cases[] = {
      {0, "7F 7F 7F", "15 00 00 00 03 7F 7F 7F 03 00 F7"},
      {300, "", "15 02 2C 00 00 00 2E F7"},
      {16384, "", "15 00 00 00 00 00 00 F7"},
      {0, long7F, "15 00 00 01 48 " + long7F + "47 01 F7"},  // sum 0x6381
  };
  SetDeviceAddress(0x0021, 0x0A);
  AnswerWith({Reply("16 00")});
  for (const auto& [number, data, message] : cases) {
    const Bytes bytes = Hex(data);
    EXPECT_EQ(SendProgramBlock(number, bytes.data(), static_cast<uint32_t>(bytes.size())), kOk);
    EXPECT_EQ(device.Sent().back(), Hex("F0 00 00 21 0A 7F " + message)) << number;
  }
}

TEST_F(Protocol, TheFirstReplyToABlockIsJudgedByItsCodeAndStatus) {
  // clang-format off
  const std::pair<const char*, ResultCode> cases[] = {
      {"16 00", kOk}, {"16", kOk}, {"16 07", kOk}, {"16 07 00", kResponseUnknown},
      {"16 01", kDeviceBadChecksum}, {"16 02", kDeviceBadLength}, {"16 03", kDeviceBadSequence},
      {"16 04", kResponseUnknown}, {"16 05", kDeviceProgrammingFault},
      {"16 06", kDeviceBadCheckcode}, {"16 08", kDeviceBadLength}, {"16 09", kResponseUnknown},
      {"12 00", kResponseUnknown},
  };
  // clang-format on
  const uint8_t data = 1;
  for (const auto& [reply, expected] : cases) {
    AnswerWith({Reply(reply)});
    EXPECT_EQ(SendProgramBlock(0, &data, 1), expected) << reply;
  }
  // Exactly one reply per block: a second one waits for the next block.
  AnswerWith({Reply("16 00"), Reply("16 01")});
  EXPECT_EQ(SendProgramBlock(0, &data, 1), kOk);
  device.onSend = nullptr;
  EXPECT_EQ(SendProgramBlock(1, &data, 1), kDeviceBadChecksum);
}

// The status reply up to the name, then the name.
Bytes StatusReply(const std::string& name) {
  Bytes message = Reply("12 00 01 03 00 40 00 21 0A 00 00 00 00 01 02 03 04 05 06");
  message.insert(message.end() - 1, name.begin(), name.end());
  return message;
}

std::string Describe(const DeviceInfo& info) {
  char text[160];
  std::snprintf(text, sizeof text, "%d %d.%d %u %04x %02x %u %u %u %s [%s] [%s]", info.state,
                info.versionMajor, info.versionMinor, info.blockSize, info.companyId,
                info.productId, info.auxByte1, info.auxByte2, info.auxWord, info.serialText,
                info.versionText, info.productName);
  return text;
}

TEST_F(Protocol, TheStatusReplyFillsTheRecordAndAddressesTheModule) {
  const char* const kExample = "12 00 01 03 00 40 00 21 0A 00 00 00 00 01 02 03 04 05 06 41 42";
  const char* const kRecord = "0 1.3 64 0021 0a 0 0 0 010203040506 [1.3] [AB]";
  // clang-format off
  const std::tuple<std::vector<const char*>, const char*, const char*> cases[] = {
      {{kExample}, kRecord, "00 21 0A"},
      // Sizes are 7-bit pairs, the company a byte pair.
      {{"12 01 01 03 01 00 01 00 0A 09 0A 01 02 7F 0A 00 10 2B 3C 51 58"},
       "1 1.3 128 0100 0a 9 10 130 7f0a00102b3c [] [QX]", "01 00 0A"},
      {{"12 00 0A 0C 00 40 00 21 0A 00 00 00 00 01 02 03 04 05 06"},
       "0 10.12 64 0021 0a 0 0 0 010203040506 [10.12] []", "00 21 0A"},
      {{"12 05"}, "5 0.0 0 0000 00 0 0 0 000000000000 [] []", "00 00 00"},
      // Replies of other codes are passed over.
      {{"10 00", "14 00", kExample}, kRecord, "00 21 0A"},
  };
  // clang-format on
  for (const auto& [replies, record, address] : cases) {
    internal::ResetMessageState();
    std::vector<Bytes> messages;
    for (const char* body : replies) messages.push_back(Reply(body));
    AnswerWith(messages);
    DeviceInfo info;
    ASSERT_EQ(ReadDeviceStatus(info), kOk) << record;
    EXPECT_EQ(device.Sent().back(), Hex("F0 00 7F 7F 7F 7F 11 F7"));
    EXPECT_EQ(Describe(info), record);
    EXPECT_EQ(Bytes(SysExHeader.begin(), SysExHeader.end()),
              Hex(std::string("F0 00 ") + address + " 7F"));
  }
}

TEST_F(Protocol, AFailedStatusReadLeavesTheRecordClearedAndTheAddressAsItWas) {
  // 154 bytes before the F7, handed over 40 bytes a tick so that the ring never overflows.
  const Bytes tooLong = StatusReply(std::string(154 - 19, 'N'));
  // clang-format off
  const std::tuple<std::function<void(uint32_t)>, ResultCode, size_t> cases[] = {
      // A reply passed over starts a fresh time-out.
      {[this](uint32_t tick) { if (tick == 29) device.Deliver(Reply("10")); }, kResponseTimeout,
       59},
      {[](uint32_t) { RequestCancel(); }, kCanceled, 1},
      {[&](uint32_t tick) {
         if (tick <= 4) device.Deliver(Bytes(&tooLong[40 * (tick - 1)], &tooLong[40 * tick]));
       }, kResponseTooLong, 4},
  };
  // clang-format on
  for (const auto& [onTick, expected, ticks] : cases) {
    ClearCancel();
    FlushReplies();
    SetDeviceAddress(0x0033, 0x0B);
    clock.sleeps.clear();
    clock.onSleep = onTick;
    DeviceInfo info;
    info.state = 9;
    std::snprintf(info.productName, sizeof info.productName, "old");
    EXPECT_EQ(ReadDeviceStatus(info), expected);
    EXPECT_EQ(clock.sleeps.size(), ticks);
    EXPECT_EQ(Describe(info), Describe(DeviceInfo{}));
    EXPECT_EQ(Bytes(SysExHeader.begin(), SysExHeader.end()), Hex("F0 00 00 33 0B 7F"));
  }
}

TEST(ParseDeviceStatus, CutsANameLongerThanTwentyNineCharacters) {
  for (size_t length : {29u, 30u, 134u}) {
    const Bytes message = StatusReply(std::string(length, 'N'));
    DeviceInfo info;
    ParseDeviceStatus(&message[6], static_cast<uint32_t>(message.size() - 7), info);
    EXPECT_EQ(std::string(info.productName), std::string(29, 'N')) << length;
  }
}

}  // namespace
}  // namespace kfw
