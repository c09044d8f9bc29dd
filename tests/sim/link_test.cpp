// The simulated link in virtual time: wire time each way (320 us a byte at 31250 baud, none when
// unlimited), "drained" meaning arrived, whole or chunked deliveries, and the ports it offers. Then
// the module, the link and the port layer together, as the procedures see them.
#include "sim/link.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "midi/reception.h"
#include "protocol/messages.h"
#include "sim/module.h"
#include "sim/timeline.h"
#include "tests/support/sim_rig.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kReset = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x10, 0x02, 0xF7};  // 9 bytes
const Bytes kResetReply = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x10, 0xF7};   // 8 bytes

struct Delivery {
  uint64_t at;
  Bytes bytes;
  bool operator==(const Delivery&) const = default;
};

void PrintTo(const Delivery& d, std::ostream* out) {
  *out << "{at " << d.at << ":";
  for (uint8_t b : d.bytes) *out << " " << std::hex << int(b) << std::dec;
  *out << "}";
}

class Link : public testing::Test {
 protected:
  void Make(LinkSettings settings, ModuleTiming timing = {}) {
    timeline = std::make_unique<VirtualTime>();
    module = std::make_unique<SimulatedModule>(ModuleIdentity{}, ModuleFaults{}, timing);
    module->SetObserver([this](const ModuleEvent& event) {
      arrivals.push_back({timeline->NowMicroseconds(), {event.command}});
    });
    backend = std::make_unique<SimulatedPortBackend>(*module, *timeline, settings);
    ASSERT_EQ(backend->OpenOutput(kSimulatedPortName, output), kMmNoError);
    ASSERT_EQ(
        backend->OpenInput(
            kSimulatedPortName,
            [this](const uint8_t* bytes, size_t count) {
              deliveries.push_back({timeline->NowMicroseconds(), Bytes(bytes, bytes + count)});
            },
            input),
        kMmNoError);
  }
  void TearDown() override {
    input.reset();
    output.reset();
    backend.reset();
  }

  void Send(const Bytes& message) {
    ASSERT_EQ(output->Send(message.data(), static_cast<uint32_t>(message.size())), kMmNoError);
  }

  std::unique_ptr<VirtualTime> timeline;
  std::unique_ptr<SimulatedModule> module;
  std::unique_ptr<SimulatedPortBackend> backend;
  std::unique_ptr<OutputConnection> output;
  std::unique_ptr<InputConnection> input;
  std::vector<Delivery> arrivals;  // when the module acted on each command
  std::vector<Delivery> deliveries;
};

TEST_F(Link, AMessageTakes320MicrosecondsAByteAt31250Baud) {
  Make({});
  Send(kReset);
  EXPECT_FALSE(output->Drained());
  timeline->RunUntil(9 * 320 - 1);
  EXPECT_FALSE(output->Drained());
  EXPECT_TRUE(arrivals.empty());
  timeline->RunUntil(9 * 320);
  EXPECT_TRUE(output->Drained());
  EXPECT_EQ(arrivals, (std::vector<Delivery>{{2880, {0x10}}}));
  // The answer: the module's work, then 8 bytes on the wire back, delivered whole.
  timeline->RunUntil(1'000'000);
  EXPECT_EQ(deliveries, (std::vector<Delivery>{{2880 + 1000 + 8 * 320, kResetReply}}));
  EXPECT_EQ(backend->BytesToModule(), 9u);
  EXPECT_EQ(backend->BytesToHost(), 8u);
}

TEST_F(Link, MessagesQueueOnTheWireOneAfterTheOther) {
  Make({});
  Send(kReset);
  Send(kReset);
  timeline->RunUntil(1'000'000);
  ASSERT_EQ(arrivals.size(), 2u);
  EXPECT_EQ(arrivals[0].at, 2880u);
  EXPECT_EQ(arrivals[1].at, 5760u);
  // The replies queue too: the second starts when the first has left.
  ASSERT_EQ(deliveries.size(), 2u);
  EXPECT_EQ(deliveries[0].at, 2880u + 1000 + 2560);
  EXPECT_EQ(deliveries[1].at, std::max<uint64_t>(5760 + 1000, deliveries[0].at) + 2560);
}

TEST_F(Link, AnUnlimitedLinkTakesNoTime) {
  Make({.baud = 0});
  Send(kReset);
  EXPECT_TRUE(output->Drained());
  timeline->RunUntil(0);
  EXPECT_EQ(arrivals, (std::vector<Delivery>{{0, {0x10}}}));
  timeline->RunUntil(1'000'000);
  EXPECT_EQ(deliveries, (std::vector<Delivery>{{1000, kResetReply}}));
}

TEST_F(Link, OtherBaudRatesScaleTheWireTime) {
  Make({.baud = 115200});
  Send(kReset);
  timeline->RunUntil(1'000'000);
  ASSERT_EQ(arrivals.size(), 1u);
  EXPECT_EQ(arrivals[0].at, 9u * (10'000'000 / 115200));
}

TEST_F(Link, ChunkedDeliveryHandsRepliesOnInPieces) {
  Make({.deliveryChunk = 3});
  EXPECT_TRUE(backend->ReturnsBufferPerDelivery());
  Send(kReset);
  timeline->RunUntil(1'000'000);
  const uint64_t start = 2880 + 1000;
  EXPECT_EQ(deliveries, (std::vector<Delivery>{{start + 3 * 320, {0xF0, 0x00, 0x00}},
                                               {start + 6 * 320, {0x21, 0x0A, 0x7F}},
                                               {start + 8 * 320, {0x10, 0xF7}}}));
}

TEST_F(Link, ChunksKeepTheirSpacing) {
  Make({.baud = 0, .deliveryChunk = 4, .chunkSpacingMicros = 5000});
  Send(kReset);
  Send(kReset);
  timeline->RunUntil(1'000'000);
  ASSERT_EQ(deliveries.size(), 4u);
  EXPECT_EQ(deliveries[0], (Delivery{1000, {0xF0, 0x00, 0x00, 0x21}}));
  EXPECT_EQ(deliveries[1], (Delivery{6000, {0x0A, 0x7F, 0x10, 0xF7}}));
  EXPECT_EQ(deliveries[2].at, 11000u);
  EXPECT_EQ(deliveries[3].at, 16000u);
}

TEST_F(Link, ChunksKeepTheirSpacingFromTheFirstInstantOn) {
  ModuleTiming instant;
  instant.answerMicros = 0;
  Make({.baud = 0, .deliveryChunk = 4, .chunkSpacingMicros = 5000}, instant);
  Send(kReset);
  timeline->RunUntil(1'000'000);
  EXPECT_EQ(deliveries, (std::vector<Delivery>{{0, {0xF0, 0x00, 0x00, 0x21}},
                                               {5000, {0x0A, 0x7F, 0x10, 0xF7}}}));
}

TEST_F(Link, WholeMessageDeliveryIsNotPerDelivery) {
  Make({});
  EXPECT_FALSE(backend->ReturnsBufferPerDelivery());
}

TEST_F(Link, OffersOnePortEachWayOpenedByName) {
  Make({});
  std::vector<std::string> inputs, outputs;
  backend->ListPorts(inputs, outputs);
  EXPECT_EQ(inputs, std::vector<std::string>{kSimulatedPortName});
  EXPECT_EQ(outputs, std::vector<std::string>{kSimulatedPortName});
  std::unique_ptr<InputConnection> second;
  EXPECT_EQ(backend->OpenInput(
                kSimulatedPortName, [](const uint8_t*, size_t) {}, second),
            kMmAllocated);
  EXPECT_EQ(backend->OpenInput(
                "Another port", [](const uint8_t*, size_t) {}, second),
            kMmBadDeviceId);
  std::unique_ptr<OutputConnection> otherOutput;
  EXPECT_EQ(backend->OpenOutput("Another port", otherOutput), kMmBadDeviceId);
}

TEST_F(Link, NothingReachesAClosedInput) {
  Make({});
  Send(kReset);
  input.reset();
  timeline->RunUntil(1'000'000);
  EXPECT_EQ(arrivals.size(), 1u);
  EXPECT_TRUE(deliveries.empty());
  // Open again: later replies arrive.
  ASSERT_EQ(backend->OpenInput(
                kSimulatedPortName,
                [this](const uint8_t* bytes, size_t count) {
                  deliveries.push_back({0, Bytes(bytes, bytes + count)});
                },
                input),
            kMmNoError);
  Send(kReset);
  timeline->RunUntil(2'000'000);
  EXPECT_EQ(deliveries.size(), 1u);
}

TEST_F(Link, RepliesPendingWhenTheLinkGoesAwayAreDropped) {
  Make({});
  Send(kReset);
  timeline->RunUntil(2880);  // the module has answered; the reply is on its way
  input.reset();
  output.reset();
  backend.reset();
  timeline->RunUntil(1'000'000);
  EXPECT_TRUE(deliveries.empty());
}

// ---- The module behind the port layer -------------------------------------------------------

TEST(SimulatedRig, AResetIsAnsweredThroughThePortLayerInVirtualTime) {
  test::SimRig rig;
  ASSERT_TRUE(rig.opened());
  SendReset(2);
  uint8_t reply[10];
  uint32_t count = 0;
  EXPECT_EQ(ReadReply(reply, sizeof reply, &count, 10), kOk);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(reply[0], 0x10);
  EXPECT_EQ(receivedCompanyId.load(), 0x0021);
  EXPECT_EQ(receivedProductId.load(), 0x0A);
  ASSERT_EQ(rig.module.Events().size(), 1u);
  EXPECT_EQ(rig.module.Events()[0].argument, 2);
}

TEST(SimulatedRig, NoiseDuplicatesAndChunksDoNotSpoilTheReplies) {
  test::SimRigOptions options;
  options.faults.noise = true;
  options.faults.duplicateReplies = true;
  options.link.deliveryChunk = 5;
  test::SimRig rig(options);
  ASSERT_TRUE(rig.opened());
  SendReset(2);
  for (int copy = 0; copy < 2; ++copy) {
    uint8_t reply[10];
    uint32_t count = 0;
    EXPECT_EQ(ReadReply(reply, sizeof reply, &count, 10), kOk) << copy;
    EXPECT_EQ(Bytes(reply, reply + count), Bytes{0x10}) << copy;
  }
}

}  // namespace
}  // namespace kfw
