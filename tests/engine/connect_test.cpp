// Connect against the simulated module, in virtual time.
#include "engine/connect.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "image/waiting.h"
#include "protocol/messages.h"
#include "tests/engine/engine_helpers.h"
#include "tests/support/doubles.h"
#include "tests/support/sim_rig.h"

namespace kfw {
namespace {

using test::ChunkedLink;

using Header = std::array<uint8_t, kSysExHeaderSize>;
constexpr Header kAnyModule = {0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F};
constexpr Header kOurModule = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F};
const std::string kConnecting = "Connecting...";

TEST(Connect, ModuleThatAnswersAtOnceIsReadAndAddressed) {
  test::RecordingProgress progress;
  test::SimRig rig;
  test::ModuleWatch watch(rig);
  SetDeviceAddress(0x0102, 0x03);  // left from an earlier module: Connect must address any module
  DeviceInfo info;
  ASSERT_EQ(Connect(info), kOk);

  EXPECT_EQ(watch.Names(), "R2 S");
  EXPECT_STREQ(info.productName, "QX-412");
  EXPECT_STREQ(info.serialText, "4b5804120001");
  EXPECT_STREQ(info.versionText, "1.2");
  EXPECT_EQ(info.blockSize, 256);
  EXPECT_EQ(SysExHeader, kOurModule);
  EXPECT_EQ(progress.Log(), (std::vector<std::string>{"open", "set Connecting... 0",
                                                      "set Connecting... 0", "close"}));
  // Each message waits for its bytes to drain (two 100 ms sleeps on a 31250-baud link), and each
  // reply is in the ring by then.
  EXPECT_EQ(rig.Now(), 400'000u);
}

TEST(Connect, ModuleThatAnswersAfterTheFourthResetShowsTheBarPerAttempt) {
  test::RecordingProgress progress;
  test::SimRig rig({.faults = {.ignoreFirstResets = 3}});
  test::ModuleWatch watch(rig);
  DeviceInfo info;
  ASSERT_EQ(Connect(info), kOk);

  EXPECT_EQ(watch.Names(), "R2 R2 R2 R2 S");
  EXPECT_EQ(progress.Percentages(kConnecting), (std::vector<uint32_t>{0, 0, 10, 20, 30}));
  const std::vector<uint64_t> resets = watch.TimesOf("R2");
  for (size_t i = 1; i < resets.size(); ++i) {
    // 30 ticks of waiting plus the reset's own drain wait.
    EXPECT_EQ(resets[i] - resets[i - 1], 3'200'000u) << "between resets " << i << " and " << i + 1;
  }
  EXPECT_STREQ(info.productName, "QX-412");
}

struct SilentCase {
  const char* name;
  LinkSettings link;
  uint64_t attemptMicros;  // from one reset to the next
};

class ConnectToNoModule : public testing::TestWithParam<SilentCase> {};

TEST_P(ConnectToNoModule, TenResetsThreeSecondsApartThenTimeout) {
  test::RecordingProgress progress;
  test::SimRig rig({.faults = {.silent = true}, .link = GetParam().link});
  test::ModuleWatch watch(rig);
  DeviceInfo info;
  std::strcpy(info.productName, "untouched");
  ASSERT_EQ(Connect(info), kResponseTimeout);

  const std::vector<uint64_t> resets = watch.TimesOf("R2");
  ASSERT_EQ(resets.size(), 10u);
  EXPECT_EQ(watch.Count("S"), 0u);
  for (size_t i = 1; i < resets.size(); ++i) {
    EXPECT_EQ(resets[i] - resets[i - 1], GetParam().attemptMicros);
  }
  EXPECT_EQ(rig.Now(), 10 * GetParam().attemptMicros);
  EXPECT_EQ(progress.Percentages(kConnecting),
            (std::vector<uint32_t>{0, 0, 10, 20, 30, 40, 50, 60, 70, 80, 90}));
  EXPECT_EQ(SysExHeader, kAnyModule);
  EXPECT_STREQ(info.productName, "untouched");  // the status read was never reached
  EXPECT_FALSE(progress.Showing());
}

INSTANTIATE_TEST_SUITE_P(Links, ConnectToNoModule,
                         testing::Values(SilentCase{"Unlimited", {.baud = 0}, 3'000'000},
                                         SilentCase{"Midi31250", {.baud = 31250}, 3'200'000}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Connect, StatusNotAnsweredTimesOutAndLeavesTheHeaderAddressingAnyModule) {
  test::RecordingProgress progress;
  test::SimRig rig({.faults = {.ignoreStatusRequests = true}});
  test::ModuleWatch watch(rig);
  DeviceInfo info;
  std::strcpy(info.productName, "stale");
  EXPECT_EQ(Connect(info), kResponseTimeout);
  EXPECT_EQ(watch.Names(), "R2 S");
  EXPECT_EQ(SysExHeader, kAnyModule);
  EXPECT_STREQ(info.productName, "");  // cleared by the status read
  EXPECT_FALSE(progress.Showing());
}

TEST(Connect, FirstReplyOfAnotherCodeStillEndsTheAttemptsAndTheStatusIsAskedAfresh) {
  test::RecordingProgress progress;
  test::SimRig rig({.faults = {.ignoreFirstResets = 1}});
  test::ModuleWatch watch(rig);
  // Someone else asks the module for its status during the first attempt: its status reply is the
  // first to arrive.
  rig.time.At(1'000'000, [&rig] {
    const uint8_t getStatus[] = {0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x11, 0xF7};
    rig.module.Receive(getStatus, sizeof getStatus);
  });
  DeviceInfo info;
  ASSERT_EQ(Connect(info), kOk);
  EXPECT_EQ(watch.Names(), "R2 S S");
  EXPECT_EQ(progress.Percentages(kConnecting), (std::vector<uint32_t>{0, 0}));
  EXPECT_STREQ(info.productName, "QX-412");
}

TEST(Connect, LeftoverCancelIsClearedAtTheStart) {
  test::SimRig rig;
  RequestCancel();
  DeviceInfo info;
  EXPECT_EQ(Connect(info), kOk);
  EXPECT_FALSE(CancelRequested());
}

struct ConnectCancelCase {
  const char* name;
  ModuleFaults faults;
  uint64_t cancelAt;
  const char* sent;  // what the module received
};

class ConnectCanceled : public testing::TestWithParam<ConnectCancelCase> {};

TEST_P(ConnectCanceled, EndsWithinOneTickAndSendsNothingMore) {
  test::RecordingProgress progress;
  test::SimRig rig({.faults = GetParam().faults});
  test::ModuleWatch watch(rig);
  test::CancelAt cancel(rig, GetParam().cancelAt);
  DeviceInfo info;
  EXPECT_EQ(Connect(info), kCanceled);
  EXPECT_LE(rig.Now() - cancel.when(), 100'000u);
  rig.time.RunUntil(rig.Now() + 10'000'000);  // anything still on its way arrives
  EXPECT_EQ(watch.Names(), GetParam().sent);
  EXPECT_EQ(SysExHeader, kAnyModule);
  EXPECT_TRUE(CancelRequested());  // left as the user set it
  EXPECT_FALSE(progress.Showing());
}

INSTANTIATE_TEST_SUITE_P(
    Waits, ConnectCanceled,
    testing::Values(ConnectCancelCase{"DuringSecondAttempt", {.silent = true}, 4'550'000, "R2 R2"},
                    ConnectCancelCase{
                        "DuringStatusRead", {.ignoreStatusRequests = true}, 1'550'000, "R2 S"}),
    [](const auto& p) { return std::string(p.param.name); });

// Reply lengths around each buffer of Connect: a body of capacity bytes is too long, one byte
// less is whole.
struct LongReplyCase {
  const char* name;
  bool inStatus;  // the status reply is padded, else the reset answer
  uint32_t bodyLength;
  ResultCode expected;
  const char* sent;
};

class ConnectLongReply : public testing::TestWithParam<LongReplyCase> {};

TEST_P(ConnectLongReply, BodyOfBufferSizeIsTooLong) {
  const LongReplyCase& c = GetParam();
  test::SimRig rig({.link = ChunkedLink()});
  test::ModuleWatch watch(rig);
  const uint32_t resetBody = 1;
  const uint32_t statusBody = static_cast<uint32_t>(rig.module.StatusReplyBody().size());
  if (c.inStatus) {
    watch.Once("R2", [&rig, &c, statusBody] {
      rig.module.SetFaults({.paddingInReplies = c.bodyLength - statusBody});
    });
  } else {
    rig.module.SetFaults({.paddingInReplies = c.bodyLength - resetBody});
    watch.Once("R2", [&rig] { rig.module.SetFaults({}); });
  }
  DeviceInfo info;
  EXPECT_EQ(Connect(info), c.expected);
  EXPECT_EQ(watch.Names(), c.sent);
  if (c.expected == kOk) {
    EXPECT_STREQ(info.productName, "QX-412");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ConnectLongReply,
    testing::Values(LongReplyCase{"ResetAnswer113", false, 113, kOk, "R2 S"},
                    LongReplyCase{"ResetAnswer114", false, 114, kResponseTooLong, "R2"},
                    LongReplyCase{"Status153", true, 153, kOk, "R2 S"},
                    LongReplyCase{"Status154", true, 154, kResponseTooLong, "R2 S"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace kfw
