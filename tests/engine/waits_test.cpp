// The engine's four reply waits near their deadlines, in both modes and on both kinds of link, in
// virtual time: whatever moment a reply arrives at, a reply the normal mode takes is taken by the
// fast mode too, and the fast mode gives up no sooner than the normal mode and at most two ticks
// after it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/waiting.h"
#include "engine/connect.h"
#include "engine/process_state.h"
#include "engine/transfer.h"
#include "image/image_writer.h"
#include "midi/reception.h"
#include "protocol/device_status.h"
#include "protocol/messages.h"
#include "tests/engine/engine_helpers.h"

namespace kfw {
namespace {

constexpr int64_t kTick = 100'000;  // microseconds

enum class Wait { kConnectAttempt, kStatus, kPrepareAnswer, kBlockAnswer };

struct WaitCase {
  const char* name;
  Wait wait;
};

// What one wait did: whether it took the reply, and when it gave up, counted from the moment its
// command began to be sent.
struct WaitOutcome {
  bool taken = false;
  uint64_t gaveUpAfter = 0;
};

// The module stays silent; the reply to the wait's command (framed as the module frames it)
// reaches the ring `replyAt` microseconds after the command began to be sent, if at all.
WaitOutcome RunWait(Wait wait, uint32_t baud, bool fast, std::optional<uint64_t> replyAt) {
  ResetProcessState();
  fastMode = fast;  // before the rig opens the ports: the fast mode opens them its own way
  test::SimRig rig({.faults = {.silent = true}, .link = {.baud = baud}});
  test::ModuleWatch watch(rig);
  std::vector<uint8_t> body;
  switch (wait) {
    case Wait::kConnectAttempt:
      body = {0x10};
      break;
    case Wait::kStatus:
      body = rig.module.StatusReplyBody();
      break;
    case Wait::kPrepareAnswer:
      body = {0x14, 0x00};
      break;
    case Wait::kBlockAnswer:
      body = {0x16, 0x00};
      break;
  }
  const uint64_t start = rig.Now();
  if (replyAt) {
    std::vector<uint8_t> reply = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F};
    reply.insert(reply.end(), body.begin(), body.end());
    reply.push_back(0xF7);
    rig.time.At(start + *replyAt, [reply] {
      for (uint8_t byte : reply) FeedReceivedByte(byte);
    });
  }

  WaitOutcome outcome;
  DeviceInfo info;
  switch (wait) {
    case Wait::kConnectAttempt: {
      // The first attempt took the reply when the status was asked for next, not another reset.
      Connect(info);
      outcome.taken = watch.Names().rfind("R2 S", 0) == 0;
      const std::vector<uint64_t> resets = watch.TimesOf("R2");
      if (resets.size() > 1) outcome.gaveUpAfter = resets[1] - resets[0];
      break;
    }
    case Wait::kStatus:
      outcome.taken = ReadDeviceStatus(info) == kOk;
      outcome.gaveUpAfter = rig.Now() - start;
      break;
    case Wait::kPrepareAnswer: {
      // An empty image record: once the answer is taken, only the final block follows.
      const std::vector<uint8_t> file =
          ImageWriter::Version1(0x0021, 0x0A).Image(2, 0, std::vector<uint8_t>{}).Bytes();
      RecordWalker walk(file.data(), static_cast<uint32_t>(file.size()), 6);
      ImageRecord record;
      walk.Next(record);
      const uint8_t* cursor = file.data() + 7;
      uint32_t remaining = static_cast<uint32_t>(file.size() - 7);
      info.blockSize = 256;
      TransferImage(record, cursor, remaining, info);
      outcome.taken = watch.Names() == "P0 F0";
      outcome.gaveUpAfter = rig.Now() - start;
      break;
    }
    case Wait::kBlockAnswer: {
      // A block of 256 bytes is 86.4 ms on the wire at 31250 baud: a send that ends inside a tick.
      const std::vector<uint8_t> data = test::ImageData(256);
      outcome.taken = SendProgramBlock(0, data.data(), 256) == kOk;
      outcome.gaveUpAfter = rig.Now() - start;
      break;
    }
  }
  return outcome;
}

const char* ModeName(bool fast) {
  return fast ? "fast" : "normal";
}

TEST(ReplyWaitsNearTheirDeadlines, WhatTheNormalModeTakesTheFastModeTakesAndAtMostTwoTicksMore) {
  const WaitCase waits[] = {
      {"a connect attempt (30 ticks)", Wait::kConnectAttempt},
      {"the status read (30 ticks)", Wait::kStatus},
      {"the prepare-area answer (88 ticks)", Wait::kPrepareAnswer},
      {"a program block's answer (100 ticks)", Wait::kBlockAnswer},
  };
  // Moments around the instant the normal mode gives up, in microseconds: its last poll is a tick
  // before it; the fast mode's end at most two ticks after it.
  // clang-format off
  const int64_t offsets[] = {
      -2 * kTick, -kTick - 1, -kTick, -kTick + 1, -kTick / 2, -kTick / 4, -1, 0, 1, kTick / 4,
      kTick / 2, kTick, 3 * kTick / 2, 2 * kTick - 1, 2 * kTick, 2 * kTick + 1, 5 * kTick / 2,
      3 * kTick};
  // clang-format on
  for (const WaitCase& w : waits) {
    for (uint32_t baud : {31250u, 0u}) {
      SCOPED_TRACE(std::string(w.name) + (baud ? " at 31250 baud" : " on an unlimited link"));
      uint64_t gaveUpAfter[2];
      for (bool fast : {false, true}) {
        const WaitOutcome silent = RunWait(w.wait, baud, fast, std::nullopt);
        ASSERT_FALSE(silent.taken) << ModeName(fast);
        gaveUpAfter[fast] = silent.gaveUpAfter;
      }
      // Never sooner than the normal mode, at most two ticks later.
      EXPECT_GE(gaveUpAfter[1], gaveUpAfter[0]);
      EXPECT_LE(gaveUpAfter[1], gaveUpAfter[0] + 2 * static_cast<uint64_t>(kTick));

      for (const int64_t offset : offsets) {
        const uint64_t at = static_cast<uint64_t>(static_cast<int64_t>(gaveUpAfter[0]) + offset);
        SCOPED_TRACE("reply " + std::to_string(offset) + " us from the normal mode's end");
        const bool normal = RunWait(w.wait, baud, false, at).taken;
        const bool fast = RunWait(w.wait, baud, true, at).taken;
        EXPECT_TRUE(!normal || fast);
        EXPECT_TRUE(!fast || offset < 2 * kTick);
        // The sweep reaches on both sides of each mode's deadline.
        if (offset == offsets[0]) {
          EXPECT_TRUE(normal && fast);
        }
        if (offset == std::end(offsets)[-1]) {
          EXPECT_FALSE(normal || fast);
        }
      }
    }
  }
}

}  // namespace
}  // namespace kfw
