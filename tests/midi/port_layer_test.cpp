// The port layer over a byte-stream backend: how received bytes are framed into the queued buffer
// and handed back, what stop, reset and close do with that buffer, and how an output reports
// "still playing". The test itself plays the backend's thread.
#include "midi/port_layer.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/midi/hex.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;

// The backend's side of the ports, as the test plays it.
struct Wire {
  ByteSink sink;
  bool perDelivery = false;
  bool drained = true;
  uint32_t largestMessage = kNoMessageLimit;
  // The done notices an output asked for, for the test to give.
  std::vector<std::function<void()>> drainNotices;
};

class FakeBackend final : public PortBackend {
 public:
  explicit FakeBackend(Wire& wire) : wire_(wire) {}
  std::string Name() const override { return "fake"; }
  void ListPorts(std::vector<std::string>& inputs, std::vector<std::string>& outputs) override {
    inputs.push_back("In");
    outputs.push_back("Out");
  }
  MmResult OpenInput(const std::string&, ByteSink sink,
                     std::unique_ptr<InputConnection>& connection) override {
    wire_.sink = std::move(sink);
    connection = std::make_unique<Input>(wire_);
    return kMmNoError;
  }
  MmResult OpenOutput(const std::string&, std::unique_ptr<OutputConnection>& connection) override {
    connection = std::make_unique<Output>(wire_);
    return kMmNoError;
  }
  bool ReturnsBufferPerDelivery() const override { return wire_.perDelivery; }

 private:
  struct Input final : InputConnection {
    explicit Input(Wire& wire) : wire_(wire) {}
    ~Input() override { wire_.sink = nullptr; }
    Wire& wire_;
  };
  struct Output final : OutputConnection {
    explicit Output(Wire& wire) : wire_(wire) {}
    MmResult Send(const uint8_t*, uint32_t) override { return kMmNoError; }
    bool Drained() override { return wire_.drained; }
    void WhenDrained(std::function<void()> done) override {
      wire_.drainNotices.push_back(std::move(done));
    }
    uint32_t LargestMessage() const override { return wire_.largestMessage; }
    Wire& wire_;
  };
  Wire& wire_;
};

// What the callback was handed, in order; a filled buffer is queued again, as the program does.
std::vector<std::string> returned;
PortsDeviceLayer* layerOfCallback = nullptr;

void Callback(HMidiIn handle, uint32_t, uintptr_t, uintptr_t param1, uintptr_t) {
  auto* header = reinterpret_cast<MidiHdr*>(param1);
  returned.push_back(
      test::HexText(Bytes(header->lpData, header->lpData + header->dwBytesRecorded)));
  if (header->dwBytesRecorded > 0) layerOfCallback->InAddBuffer(handle, header, sizeof(MidiHdr));
}

class PortLayer : public testing::Test {
 protected:
  void SetUp() override {
    returned.clear();
    layerOfCallback = &layer;
    layer.AddBackend(std::make_unique<FakeBackend>(wire));
  }

  // Opens the input with one buffer of `size` bytes queued and starts it.
  void Open(uint32_t size = 1000) {
    buffer.assign(size, 0);
    header = MidiHdr{};
    header.lpData = buffer.data();
    header.dwBufferLength = size;
    ASSERT_EQ(layer.InOpen(&input, 0, Callback, 0, kCallbackFunction), kMmNoError);
    ASSERT_EQ(layer.InPrepareHeader(input, &header, sizeof(MidiHdr)), kMmNoError);
    ASSERT_EQ(layer.InAddBuffer(input, &header, sizeof(MidiHdr)), kMmNoError);
    ASSERT_EQ(layer.InStart(input), kMmNoError);
  }

  // Bytes from the backend's thread.
  void Deliver(const char* hex) {
    const Bytes bytes = test::Hex(hex);
    if (wire.sink) wire.sink(bytes.data(), bytes.size());
  }

  Wire wire;
  PortsDeviceLayer layer;
  HMidiIn input = nullptr;
  Bytes buffer;
  MidiHdr header;
};

TEST_F(PortLayer, FramesSysExIntoTheBufferAndHandsItBackWhereItShould) {
  // What happens, whether the backend asks for a buffer per delivery, the buffer's size, the
  // deliveries, and the buffers handed back.
  // clang-format off
  const std::tuple<const char*, bool, uint32_t, std::vector<const char*>, std::vector<std::string>>
      cases[] = {
      {"at F7, over deliveries", false, 1000, {"F0 00 00", "21 0A 7F 16", "00 F7"},
       {"F0 00 00 21 0A 7F 16 00 F7"}},
      {"longer than the buffer", false, 4, {"F0 00 00 21 0A", "7F 16 00 F7"},
       {"F0 00 00 21", "0A 7F 16 00", "F7"}},
      {"real-time bytes stripped, others outside SysEx dropped", false, 1000,
       {"FE 90 40 7F F8 12 F7 F0 00 F8 00 21 FE 0A 7F FA 16 00 FF F7 F8 33"},
       {"F0 00 00 21 0A 7F 16 00 F7"}},
      {"status byte breaks off", false, 1000, {"F0 00 00 90 40 F0 01 F7"},
       {"F0 00 00 90", "F0 01 F7"}},
      {"per delivery", true, 1000, {"F0 00 00", "21 0A 7F 16", "00 F7 F0 00", "F8"},
       {"F0 00 00", "21 0A 7F 16", "00 F7", "F0 00"}},
  };
  // clang-format on
  for (const auto& [name, perDelivery, bufferSize, deliveries, returns] : cases) {
    wire.perDelivery = perDelivery;
    returned.clear();
    Open(bufferSize);
    for (const char* bytes : deliveries) Deliver(bytes);
    EXPECT_EQ(returned, returns) << name;
    ASSERT_EQ(layer.InReset(input), kMmNoError);
    ASSERT_EQ(layer.InClose(input), kMmNoError);
  }
}

TEST_F(PortLayer, StopResetAndCloseGiveTheBufferBackAsWinMMDoes) {
  Open();
  // Close is refused while a buffer is queued; input goes on.
  EXPECT_EQ(layer.InClose(input), kMidiErrStillPlaying);
  EXPECT_TRUE(wire.sink);
  // Stop hands back a partly filled buffer; nothing arrives while stopped.
  Deliver("F0 00 00");
  ASSERT_EQ(layer.InStop(input), kMmNoError);
  Deliver("21 0A 7F 10 F7 F0 00 00 21 0A 7F 10 F7");
  EXPECT_EQ(returned, std::vector<std::string>{"F0 00 00"});
  // Reset hands the buffer back empty, and then close succeeds.
  ASSERT_EQ(layer.InReset(input), kMmNoError);
  EXPECT_EQ(returned, (std::vector<std::string>{"F0 00 00", ""}));
  EXPECT_EQ(layer.InUnprepareHeader(input, &header, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(layer.InClose(input), kMmNoError);
  EXPECT_FALSE(wire.sink);
}

TEST_F(PortLayer, AnOutputIsStillPlayingUntilTheBackendHasDrained) {
  HMidiOut out = nullptr;
  ASSERT_EQ(layer.OutOpen(&out, 0, 0, 0, kCallbackNull), kMmNoError);
  Bytes bytes = test::Hex("F0 00 7F 7F 7F 7F 10 02 F7");
  MidiHdr message{};
  message.lpData = bytes.data();
  message.dwBufferLength = static_cast<uint32_t>(bytes.size());
  ASSERT_EQ(layer.OutPrepareHeader(out, &message, sizeof(MidiHdr)), kMmNoError);
  wire.drained = false;
  ASSERT_EQ(layer.OutLongMsg(out, &message, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(layer.OutUnprepareHeader(out, &message, sizeof(MidiHdr)), kMidiErrStillPlaying);
  wire.drained = true;
  EXPECT_EQ(layer.OutUnprepareHeader(out, &message, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(layer.OutClose(out), kMmNoError);
}

// What an output's callback was told, as "message header".
std::vector<std::pair<uint32_t, uintptr_t>> outputNotices;
void OutputCallback(HMidiOut, uint32_t message, uintptr_t, uintptr_t param1, uintptr_t) {
  outputNotices.emplace_back(message, param1);
}

TEST_F(PortLayer, AnOutputOpenedWithACallbackIsToldEachMessageDoneUntilItCloses) {
  outputNotices.clear();
  HMidiOut out = nullptr;
  EXPECT_EQ(layer.OutOpen(&out, 0, 0, 0, kCallbackFunction), kMmInvalidFlag);
  EXPECT_EQ(layer.OutOpen(&out, 0, reinterpret_cast<uintptr_t>(&OutputCallback), 0, 0x50000),
            kMmInvalidFlag);
  ASSERT_EQ(
      layer.OutOpen(&out, 0, reinterpret_cast<uintptr_t>(&OutputCallback), 0, kCallbackFunction),
      kMmNoError);
  Bytes bytes = test::Hex("F0 00 7F 7F 7F 7F 10 02 F7");
  MidiHdr message{};
  message.lpData = bytes.data();
  message.dwBufferLength = static_cast<uint32_t>(bytes.size());
  ASSERT_EQ(layer.OutPrepareHeader(out, &message, sizeof(MidiHdr)), kMmNoError);
  ASSERT_EQ(layer.OutLongMsg(out, &message, sizeof(MidiHdr)), kMmNoError);
  // The notice is asked of the backend with the send, and given when the backend gives it.
  ASSERT_EQ(wire.drainNotices.size(), 1u);
  EXPECT_TRUE(outputNotices.empty());
  wire.drainNotices[0]();
  const auto done = std::make_pair(kMomDone, reinterpret_cast<uintptr_t>(&message));
  EXPECT_EQ(outputNotices, (std::vector<std::pair<uint32_t, uintptr_t>>{done}));
  EXPECT_EQ(layer.OutUnprepareHeader(out, &message, sizeof(MidiHdr)), kMmNoError);
  // A notice that comes after the close reaches nobody.
  ASSERT_EQ(layer.OutPrepareHeader(out, &message, sizeof(MidiHdr)), kMmNoError);
  ASSERT_EQ(layer.OutLongMsg(out, &message, sizeof(MidiHdr)), kMmNoError);
  ASSERT_EQ(layer.OutClose(out), kMmNoError);
  ASSERT_EQ(wire.drainNotices.size(), 2u);
  wire.drainNotices[1]();
  EXPECT_EQ(outputNotices.size(), 1u);
  // An output opened without a callback asks for no notice.
  message.dwFlags = 0;  // the closed output kept it queued
  ASSERT_EQ(layer.OutOpen(&out, 0, 0, 0, kCallbackNull), kMmNoError);
  ASSERT_EQ(layer.OutPrepareHeader(out, &message, sizeof(MidiHdr)), kMmNoError);
  ASSERT_EQ(layer.OutLongMsg(out, &message, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(wire.drainNotices.size(), 2u);
  ASSERT_EQ(layer.OutClose(out), kMmNoError);
}

TEST_F(PortLayer, AnOutputTellsTheLargestMessageItsBackendTakes) {
  HMidiOut out = nullptr;
  for (uint32_t largest : {kNoMessageLimit, 16379u, 0u}) {
    wire.largestMessage = largest;
    ASSERT_EQ(layer.OutOpen(&out, 0, 0, 0, kCallbackNull), kMmNoError);
    uint32_t told = 12345;
    EXPECT_EQ(layer.OutGetLargestMessage(out, told), kMmNoError);
    EXPECT_EQ(told, largest);
    ASSERT_EQ(layer.OutClose(out), kMmNoError);
    // A closed output is no longer known.
    EXPECT_EQ(layer.OutGetLargestMessage(out, told), kMmInvalidHandle);
  }
}

}  // namespace
}  // namespace kfw
