// The simulated module on its own (its answers, its checks of program blocks, what it keeps, what
// each fault option does), and the simulated link that carries bytes to and from it in virtual
// time.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "sim/link.h"
#include "sim/module.h"
#include "sim/timeline.h"
#include "tests/midi/hex.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Hex;
using test::HexText;

std::string Framed(const std::string& body) {
  return "F0 00 00 21 0A 7F " + body + " F7";
}

class Module : public testing::Test {
 protected:
  // Sends every message (a body for the module at 0x0021 / 0x0A, or a whole message from F0) and
  // returns what the module emitted as "delay: bytes", a reply of its own as its body only.
  std::vector<std::string> Run(const std::vector<std::string>& messages) {
    std::vector<std::string> emitted;
    module->SetEmitter([&](Bytes bytes, uint64_t delay) {
      std::string text = HexText(bytes);
      if (text.starts_with("F0 00 00 21 0A 7F ") && text.ends_with(" F7")) {
        text = text.substr(18, text.size() - 21);
      }
      emitted.push_back(std::to_string(delay) + ": " + text);
    });
    for (const std::string& message : messages) {
      const Bytes bytes = Hex(message.starts_with("F0") ? message : Framed(message));
      module->Receive(bytes.data(), bytes.size());
    }
    module->SetEmitter(nullptr);
    return emitted;
  }

  std::unique_ptr<SimulatedModule> module = std::make_unique<SimulatedModule>();
};

TEST_F(Module, AnswersChecksEveryBlockAndMisbehavesOnRequest) {
  const std::string ok = "200000: 14 00";  // the prepare-area answer
  // The status of the erased area.
  const std::string erased = "12 01 01 02 00 04 00 21 0A 00 00 00 00 4B 58 04 12 00 01";
  const std::string block0 = "15 00 00 00 04 01 02 03 04 00 0E";
  // What is checked, the faults, the messages sent and what the module emits.
  // clang-format off
  const std::tuple<const char*, ModuleFaults, std::vector<std::string>, std::vector<std::string>>
      cases[] = {
      // Its own address and any module's; the final block takes the short answer time.
      {"answers", {}, {"10 02", "F0 00 7F 7F 7F 7F 10 00 F7", "F0 00 00 22 0A 7F 10 02 F7",
        "13 00", block0, "15 00 01 00 00 00 01"},
       {"1000: 10", "1000: 10", ok, "5000: 16 00", "1000: 16 00"}},
      {"sum +1", {}, {"13 00", "15 00 00 00 04 01 02 03 04 00 0F"}, {ok, "5000: 16 01"}},
      {"length +1", {}, {"13 00", "15 00 00 00 05 01 02 03 04 00 0F"}, {ok, "5000: 16 02"}},
      {"no numbers", {}, {"13 00", "15 00 00 00"}, {ok, "1000: 16 02"}},
      {"over the block size", {}, {"13 00", "15 00 00 00 05 01 02 03 04 05 00 14"},
       {ok, "5000: 16 08"}},
      {"before prepare", {}, {block0}, {"5000: 16 03"}},
      {"first is 1", {}, {"13 00", "15 00 01 00 04 01 02 03 04 00 0F"}, {ok, "5000: 16 03"}},
      {"repeated", {}, {"13 00", block0, block0}, {ok, "5000: 16 00", "5000: 16 03"}},
      // Each fault.
      {"silent", {.silent = true}, {"10 02", "11", "13 00", block0}, {}},
      {"status ignored", {.ignoreStatusRequests = true}, {"11", "10 02"}, {"1000: 10"}},
      {"first resets ignored", {.ignoreFirstResets = 2}, {"10 02", "10 02", "10 02"}, {"1000: 10"}},
      {"late, twice, padded", {.extraReplyDelayMicros = 5000, .duplicateReplies = true,
        .paddingInReplies = 2}, {"10 02"}, {"6000: 10 00 00", "6000: 10 00 00"}},
      {"unrelated before the prepare answer", {.unrelatedBeforePrepareAnswer = true}, {"13 00"},
       {"200000: 10", "200000: " + erased, ok}},
      {"unrelated before block 0", {.unrelatedBeforeBlock = 0}, {"13 00", block0},
       {ok, "5000: 10", "5000: " + erased, "5000: 16 00"}},
      {"erase fails", {.eraseResult = 1}, {"13 00", block0}, {"200000: 14 01", "5000: 16 03"}},
      {"block refused", {.rejectBlock = 0, .rejectStatus = 6}, {"13 00", block0},
       {ok, "5000: 16 06"}},
      {"status cut and broken", {.statusByteInStatusReply = 3, .secondF0InStatusReply = 5,
        .statusReplyCut = 6}, {"11"}, {"1000: 12 00 01 90 02 00 F0 04"}},
      {"the other way round", {.statusByteInStatusReply = 5, .secondF0InStatusReply = 3,
        .statusReplyCut = 6}, {"11"}, {"1000: 12 00 01 F0 02 00 90 04"}},
      {"noise", {.noise = true}, {"10 02"},
       {"1000: FE F0 43 10 4C 00 00 F7 F8", "1000: F0 00 00 F8 21 0A 7F 10 F7"}},
  };
  // clang-format on
  for (const auto& [name, faults, messages, emitted] : cases) {
    module = std::make_unique<SimulatedModule>(ModuleIdentity{.productName = "", .blockSize = 4},
                                               faults);
    EXPECT_EQ(Run(messages), emitted) << name;
  }
}

TEST_F(Module, KeepsWhatItIsProgrammedWithAndTakesTheVersionTheFirmwareNames) {
  const auto version = [this] {
    const ModuleIdentity identity = module->Identity();
    return std::to_string(identity.state) + " " + std::to_string(identity.versionMajor) + "." +
           std::to_string(identity.versionMinor);
  };
  module->SetVersionAfterUpdate(3, 4);
  Run({"13 00", "15 00 00 00 03 01 02 03 00 09"});
  EXPECT_EQ(version(), "1 1.2");  // nothing verified in an erased area
  Run({"15 00 01 00 00 00 01"});
  EXPECT_EQ(version(), "0 3.4");
  // "QXFW", then the major and minor numbers.
  Run({"13 00", "15 00 00 00 07 51 58 46 57 05 06 07 02 5F", "15 00 01 00 00 00 01"});
  EXPECT_EQ(version(), "0 5.6");
  EXPECT_EQ(module->ProgrammedImages(),
            (std::vector<Bytes>{Hex("01 02 03"), Hex("51 58 46 57 05 06 07")}));
}

TEST(Link, CarriesBytesAtTheWireSpeedAndDeliversWholeOrInChunks) {
  // The link, the module's answer time, the resets sent, when the module acted on each, and
  // what reached the program when.
  // clang-format off
  const std::tuple<LinkSettings, uint64_t, int, std::vector<uint64_t>, std::vector<std::string>>
      cases[] = {
      // 320 us a byte at 31250 baud, each way; the module answers 1000 us after a reset.
      {{}, 1000, 2, {2880, 5760},
       {"6440: F0 00 00 21 0A 7F 10 F7", "9320: F0 00 00 21 0A 7F 10 F7"}},
      {{.baud = 0}, 1000, 1, {0}, {"1000: F0 00 00 21 0A 7F 10 F7"}},
      {{.deliveryChunk = 3}, 1000, 1, {2880}, {"4840: F0 00 00", "5800: 21 0A 7F", "6440: 10 F7"}},
      {{.baud = 0, .deliveryChunk = 4, .chunkSpacingMicros = 5000}, 1000, 2, {0, 0},
       {"1000: F0 00 00 21", "6000: 0A 7F 10 F7", "11000: F0 00 00 21", "16000: 0A 7F 10 F7"}},
      {{.baud = 0, .deliveryChunk = 4, .chunkSpacingMicros = 5000}, 0, 1, {0},
       {"0: F0 00 00 21", "5000: 0A 7F 10 F7"}},
  };
  // clang-format on
  for (const auto& [link, answerMicros, resets, expectedArrivals, expectedDeliveries] : cases) {
    VirtualTime time;
    SimulatedModule module({}, {}, {.answerMicros = answerMicros});
    std::vector<uint64_t> arrivals;
    std::vector<std::string> deliveries;
    module.SetObserver([&](const ModuleEvent&) { arrivals.push_back(time.NowMicroseconds()); });
    SimulatedPortBackend backend(module, time, link);
    std::unique_ptr<OutputConnection> output;
    std::unique_ptr<InputConnection> input;
    ASSERT_EQ(backend.OpenOutput(kSimulatedPortName, output), kMmNoError);
    const ByteSink sink = [&](const uint8_t* bytes, size_t count) {
      deliveries.push_back(std::to_string(time.NowMicroseconds()) + ": " +
                           HexText(Bytes(bytes, bytes + count)));
    };
    ASSERT_EQ(backend.OpenInput(kSimulatedPortName, sink, input), kMmNoError);
    const Bytes reset = Hex("F0 00 00 21 0A 7F 10 02 F7");
    for (int i = 0; i < resets; ++i) output->Send(reset.data(), 9);
    // Drained when the last byte has reached the module, not before.
    const uint64_t last = expectedArrivals.back();
    time.RunUntil(last ? last - 1 : 0);
    EXPECT_EQ(output->Drained(), last == 0);
    time.RunUntil(last);
    EXPECT_TRUE(output->Drained());
    time.RunUntil(1'000'000);
    EXPECT_EQ(arrivals, expectedArrivals);
    EXPECT_EQ(deliveries, expectedDeliveries);
  }
}

// The fast mode's done notice: given as an action of the timeline at the instant the last byte
// sent so far reaches the module, so a virtual wait for it ends exactly then.
TEST(Link, GivesTheDoneNoticeWhenTheLastByteSentHasArrived) {
  for (uint32_t baud : {31250u, 0u}) {
    VirtualTime time;
    SimulatedModule module;
    SimulatedPortBackend backend(module, time, {.baud = baud});
    std::unique_ptr<OutputConnection> output;
    ASSERT_EQ(backend.OpenOutput(kSimulatedPortName, output), kMmNoError);
    std::vector<uint64_t> notices;
    const Bytes message(270, 0x01);
    output->Send(message.data(), 270);
    output->WhenDrained([&] { notices.push_back(time.NowMicroseconds()); });
    output->Send(message.data(), 270);
    output->WhenDrained([&] { notices.push_back(time.NowMicroseconds()); });
    EXPECT_TRUE(notices.empty());
    time.RunUntil(1'000'000);
    const uint64_t byteMicros = baud ? 320 : 0;
    EXPECT_EQ(notices, (std::vector<uint64_t>{270 * byteMicros, 540 * byteMicros})) << baud;
  }
}

// The module behind a transport that carries bytes at once, as the peer on real ports runs it: it
// acts and answers when the modelled wire would have carried the bytes, as the simulated link does
// (the same figures as above), and at once on an unlimited wire.
TEST(PacedModule, ActsAndAnswersWhenTheWireWouldHaveCarriedTheBytes) {
  // The wire's rate, when each reset reaches the transport, when the module acted on each, and
  // what it wrote to the transport when.
  // clang-format off
  const std::tuple<uint32_t, std::vector<uint64_t>, std::vector<uint64_t>, std::vector<std::string>>
      cases[] = {
      {31250, {0, 0}, {2880, 5760},
       {"6440: F0 00 00 21 0A 7F 10 F7", "9320: F0 00 00 21 0A 7F 10 F7"}},
      // A reset that comes when the wire is free again starts on it at once.
      {31250, {0, 20'000}, {2880, 22'880},
       {"6440: F0 00 00 21 0A 7F 10 F7", "26440: F0 00 00 21 0A 7F 10 F7"}},
      {0, {0, 0}, {0, 0}, {"1000: F0 00 00 21 0A 7F 10 F7", "1000: F0 00 00 21 0A 7F 10 F7"}},
  };
  // clang-format on
  for (const auto& [baud, receivedAt, expectedArrivals, expectedWrites] : cases) {
    VirtualTime time;
    SimulatedModule module;
    std::vector<uint64_t> arrivals;
    std::vector<std::string> writes;
    module.SetObserver([&](const ModuleEvent&) { arrivals.push_back(time.NowMicroseconds()); });
    PacedModule paced(module, time, baud, [&](const Bytes& bytes) {
      writes.push_back(std::to_string(time.NowMicroseconds()) + ": " + HexText(bytes));
    });
    const Bytes reset = Hex("F0 00 00 21 0A 7F 10 02 F7");
    for (uint64_t at : receivedAt) {
      time.RunUntil(at);
      paced.Receive(reset.data(), reset.size());
    }
    time.RunUntil(1'000'000);
    EXPECT_EQ(arrivals, expectedArrivals) << baud;
    EXPECT_EQ(writes, expectedWrites) << baud;
  }
}

}  // namespace
}  // namespace kfw
