// The port layer over a byte-stream backend: how received bytes are framed into the queued
// buffer and handed back, what stop, reset and close do with that buffer, how an output reports
// "still playing", and how ports are numbered and opened by name. The backend here is a tiny one
// in the test: the test itself plays the backend's thread.
#include "midi/port_layer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "midi/ports.h"
#include "midi/reception.h"
#include "midi/transmission.h"
#include "protocol/messages.h"
#include "tests/support/counting_clock.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;

class FakeBackend final : public PortBackend {
 public:
  struct OutputState {
    std::vector<Bytes> sent;
    bool drained = true;
    MmResult sendResult = kMmNoError;
    bool open = false;
  };

  explicit FakeBackend(std::string name, std::vector<std::string> inputNames = {"In A", "In B"},
                       std::vector<std::string> outputNames = {"Out A"})
      : inputs(std::move(inputNames)), outputs(std::move(outputNames)), name_(std::move(name)) {}

  std::string Name() const override { return name_; }
  void ListPorts(std::vector<std::string>& in, std::vector<std::string>& out) override {
    in.insert(in.end(), inputs.begin(), inputs.end());
    out.insert(out.end(), outputs.begin(), outputs.end());
  }
  MmResult OpenInput(const std::string& port, ByteSink sink,
                     std::unique_ptr<InputConnection>& connection) override;
  MmResult OpenOutput(const std::string& port,
                      std::unique_ptr<OutputConnection>& connection) override;
  bool ReturnsBufferPerDelivery() const override { return perDelivery; }

  // What the backend's thread does when bytes arrive.
  void Deliver(const Bytes& bytes) {
    if (sink_) sink_(bytes.data(), bytes.size());
  }
  bool InputOpen() const { return static_cast<bool>(sink_); }

  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
  bool perDelivery = false;
  MmResult openFailure = kMmNoError;
  std::vector<std::string> openedInputs;
  std::vector<std::string> openedOutputs;
  std::shared_ptr<OutputState> output = std::make_shared<OutputState>();

 private:
  class Input final : public InputConnection {
   public:
    explicit Input(FakeBackend& backend) : backend_(backend) {}
    ~Input() override { backend_.sink_ = nullptr; }

   private:
    FakeBackend& backend_;
  };
  class Output final : public OutputConnection {
   public:
    explicit Output(std::shared_ptr<OutputState> state) : state_(std::move(state)) {
      state_->open = true;
    }
    ~Output() override { state_->open = false; }
    MmResult Send(const uint8_t* bytes, uint32_t length) override {
      if (state_->sendResult != kMmNoError) return state_->sendResult;
      state_->sent.emplace_back(bytes, bytes + length);
      return kMmNoError;
    }
    bool Drained() override { return state_->drained; }

   private:
    std::shared_ptr<OutputState> state_;
  };

  std::string name_;
  ByteSink sink_;
};

MmResult FakeBackend::OpenInput(const std::string& port, ByteSink sink,
                                std::unique_ptr<InputConnection>& connection) {
  if (openFailure != kMmNoError) return openFailure;
  openedInputs.push_back(port);
  sink_ = std::move(sink);
  connection = std::make_unique<Input>(*this);
  return kMmNoError;
}

MmResult FakeBackend::OpenOutput(const std::string& port,
                                 std::unique_ptr<OutputConnection>& connection) {
  if (openFailure != kMmNoError) return openFailure;
  openedOutputs.push_back(port);
  connection = std::make_unique<Output>(output);
  return kMmNoError;
}

// What the callback was handed, in order.
struct Returned {
  HMidiIn handle;
  uint32_t message;
  uintptr_t instance;
  MidiHdr* header;
  Bytes bytes;
  uint32_t flags;
};
std::vector<Returned> returned;
PortsDeviceLayer* requeueLayer = nullptr;  // set: the callback queues a filled buffer again

void RecordingCallback(HMidiIn handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                       uintptr_t) {
  auto* header = reinterpret_cast<MidiHdr*>(param1);
  returned.push_back({handle, message, instance, header,
                      Bytes(header->lpData, header->lpData + header->dwBytesRecorded),
                      header->dwFlags});
  if (requeueLayer && header->dwBytesRecorded > 0) {
    requeueLayer->InAddBuffer(handle, header, sizeof(MidiHdr));
  }
}

class PortLayer : public testing::Test {
 protected:
  void SetUp() override {
    returned.clear();
    requeueLayer = &layer;
    auto fake = std::make_unique<FakeBackend>("fake");
    backend = fake.get();
    layer.AddBackend(std::move(fake));
  }
  void TearDown() override { requeueLayer = nullptr; }

  // Opens input 0 and queues one buffer of `size` bytes.
  void OpenInputWithBuffer(uint32_t size = 1000) {
    buffer.assign(size, 0);
    header = MidiHdr{};
    header.lpData = buffer.data();
    header.dwBufferLength = size;
    ASSERT_EQ(layer.InOpen(&input, 0, RecordingCallback, 77, kCallbackFunction), kMmNoError);
    ASSERT_EQ(layer.InPrepareHeader(input, &header, sizeof(MidiHdr)), kMmNoError);
    ASSERT_EQ(layer.InAddBuffer(input, &header, sizeof(MidiHdr)), kMmNoError);
    ASSERT_EQ(layer.InStart(input), kMmNoError);
  }

  std::vector<Bytes> ReturnedBytes() {
    std::vector<Bytes> all;
    for (const Returned& r : returned) all.push_back(r.bytes);
    return all;
  }

  PortsDeviceLayer layer;
  FakeBackend* backend = nullptr;
  HMidiIn input = nullptr;
  Bytes buffer;
  MidiHdr header;
};

const Bytes kReply = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x16, 0x00, 0xF7};

TEST_F(PortLayer, ReturnsTheBufferWhenTheMessageEnds) {
  OpenInputWithBuffer();
  backend->Deliver(kReply);
  ASSERT_EQ(returned.size(), 1u);
  EXPECT_EQ(returned[0].bytes, kReply);
  EXPECT_EQ(returned[0].message, kMimLongData);
  EXPECT_EQ(returned[0].instance, 77u);
  EXPECT_EQ(returned[0].handle, input);
  EXPECT_EQ(returned[0].header, &header);
  EXPECT_TRUE(returned[0].flags & kMhdrDone);
  EXPECT_FALSE(returned[0].flags & kMhdrInQueue);
}

TEST_F(PortLayer, FramesAMessageSplitOverDeliveriesIntoOneBuffer) {
  OpenInputWithBuffer();
  backend->Deliver({0xF0, 0x00, 0x00});
  backend->Deliver({0x21, 0x0A, 0x7F, 0x16});
  EXPECT_TRUE(returned.empty());
  backend->Deliver({0x00, 0xF7});
  EXPECT_EQ(ReturnedBytes(), std::vector<Bytes>{kReply});
}

TEST_F(PortLayer, ABackendThatSaysSoGetsABufferBackPerDelivery) {
  backend->perDelivery = true;
  OpenInputWithBuffer();
  backend->Deliver({0xF0, 0x00, 0x00});
  backend->Deliver({0x21, 0x0A, 0x7F, 0x16});
  backend->Deliver({0x00, 0xF7, 0xF0, 0x00});
  backend->Deliver({0xF8});  // nothing stored: nothing handed back
  EXPECT_EQ(ReturnedBytes(),
            (std::vector<Bytes>{
                {0xF0, 0x00, 0x00}, {0x21, 0x0A, 0x7F, 0x16}, {0x00, 0xF7}, {0xF0, 0x00}}));
}

TEST_F(PortLayer, ALongMessageArrivesAsConsecutiveFullBuffersInOrder) {
  OpenInputWithBuffer(1000);
  Bytes message = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F};
  while (message.size() < 2499) message.push_back(static_cast<uint8_t>(message.size() % 0x7F));
  message.push_back(0xF7);
  // Delivered in uneven pieces, as a driver might.
  for (size_t offset = 0; offset < message.size(); offset += 333) {
    const size_t end = std::min(message.size(), offset + 333);
    backend->Deliver(Bytes(message.begin() + static_cast<long>(offset),
                           message.begin() + static_cast<long>(end)));
  }
  ASSERT_EQ(returned.size(), 3u);
  EXPECT_EQ(returned[0].bytes.size(), 1000u);
  EXPECT_EQ(returned[1].bytes.size(), 1000u);
  EXPECT_EQ(returned[2].bytes.size(), 500u);
  Bytes joined;
  for (const Returned& r : returned) joined.insert(joined.end(), r.bytes.begin(), r.bytes.end());
  EXPECT_EQ(joined, message);
}

TEST_F(PortLayer, StripsRealTimeBytesAndDropsBytesOutsideSysEx) {
  OpenInputWithBuffer();
  backend->Deliver({0xFE, 0x90, 0x40, 0x7F, 0xF8, 0x12, 0xF7, 0xF0, 0x00, 0xF8, 0x00,
                    0x21, 0xFE, 0x0A, 0x7F, 0xFA, 0x16, 0x00, 0xFF, 0xF7, 0xF8, 0x33});
  EXPECT_EQ(ReturnedBytes(), std::vector<Bytes>{kReply});
}

TEST_F(PortLayer, AStatusByteBreaksTheMessageOffAndIsHandedOnWithIt) {
  OpenInputWithBuffer();
  backend->Deliver({0xF0, 0x00, 0x00, 0x90, 0x40, 0x7F});
  backend->Deliver(kReply);
  EXPECT_EQ(ReturnedBytes(), (std::vector<Bytes>{{0xF0, 0x00, 0x00, 0x90}, kReply}));
}

TEST_F(PortLayer, AnF0InsideAMessageIsKeptForTheParser) {
  OpenInputWithBuffer();
  backend->Deliver({0xF0, 0x00, 0x00, 0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x16, 0xF7});
  EXPECT_EQ(
      ReturnedBytes(),
      (std::vector<Bytes>{{0xF0, 0x00, 0x00, 0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x16, 0xF7}}));
}

TEST_F(PortLayer, BytesArrivingWithNoBufferQueuedAreLost) {
  requeueLayer = nullptr;
  OpenInputWithBuffer();
  backend->Deliver(kReply);
  ASSERT_EQ(returned.size(), 1u);
  backend->Deliver({0xF0, 0x00, 0x11, 0xF7});  // no buffer: lost
  ASSERT_EQ(layer.InAddBuffer(input, &header, sizeof(MidiHdr)), kMmNoError);
  backend->Deliver(kReply);
  EXPECT_EQ(ReturnedBytes(), (std::vector<Bytes>{kReply, kReply}));
}

TEST_F(PortLayer, NothingIsDeliveredBeforeStart) {
  buffer.assign(100, 0);
  header = MidiHdr{};
  header.lpData = buffer.data();
  header.dwBufferLength = 100;
  ASSERT_EQ(layer.InOpen(&input, 0, RecordingCallback, 0, kCallbackFunction), kMmNoError);
  ASSERT_EQ(layer.InPrepareHeader(input, &header, sizeof(MidiHdr)), kMmNoError);
  ASSERT_EQ(layer.InAddBuffer(input, &header, sizeof(MidiHdr)), kMmNoError);
  backend->Deliver(kReply);
  EXPECT_TRUE(returned.empty());
  ASSERT_EQ(layer.InStart(input), kMmNoError);
  backend->Deliver(kReply);
  EXPECT_EQ(ReturnedBytes(), std::vector<Bytes>{kReply});
}

TEST_F(PortLayer, ResetHandsTheBufferBackEmptyAndStopsInput) {
  OpenInputWithBuffer();
  ASSERT_EQ(layer.InReset(input), kMmNoError);
  ASSERT_EQ(returned.size(), 1u);
  EXPECT_TRUE(returned[0].bytes.empty());
  backend->Deliver(kReply);
  EXPECT_EQ(returned.size(), 1u);
  EXPECT_EQ(layer.InUnprepareHeader(input, &header, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(layer.InClose(input), kMmNoError);
  EXPECT_FALSE(backend->InputOpen());
}

TEST_F(PortLayer, ResetHandsAPartlyFilledBufferBackAndThenEmpty) {
  OpenInputWithBuffer();
  backend->Deliver({0xF0, 0x00, 0x00, 0x21});
  ASSERT_EQ(layer.InReset(input), kMmNoError);
  // The callback queued the filled buffer again; the reset then hands it back empty.
  EXPECT_EQ(ReturnedBytes(), (std::vector<Bytes>{{0xF0, 0x00, 0x00, 0x21}, {}}));
  EXPECT_EQ(layer.InClose(input), kMmNoError);
}

TEST_F(PortLayer, StopReturnsAPartlyFilledBufferAndKeepsAnEmptyOne) {
  OpenInputWithBuffer();
  ASSERT_EQ(layer.InStop(input), kMmNoError);
  EXPECT_TRUE(returned.empty());
  EXPECT_EQ(layer.InClose(input), kMidiErrStillPlaying);  // the buffer is still queued

  ASSERT_EQ(layer.InStart(input), kMmNoError);
  backend->Deliver({0xF0, 0x00, 0x00});
  ASSERT_EQ(layer.InStop(input), kMmNoError);
  EXPECT_EQ(ReturnedBytes(), (std::vector<Bytes>{{0xF0, 0x00, 0x00}}));
  backend->Deliver(kReply);  // stopped
  EXPECT_EQ(returned.size(), 1u);

  // Started again, the broken-off message is not continued: its rest is outside SysEx.
  ASSERT_EQ(layer.InStart(input), kMmNoError);
  backend->Deliver({0x21, 0x0A, 0x7F, 0xF7});
  backend->Deliver(kReply);
  EXPECT_EQ(ReturnedBytes(), (std::vector<Bytes>{{0xF0, 0x00, 0x00}, kReply}));
}

TEST_F(PortLayer, CloseIsRefusedWhileABufferIsQueued) {
  OpenInputWithBuffer();
  EXPECT_EQ(layer.InUnprepareHeader(input, &header, sizeof(MidiHdr)), kMidiErrStillPlaying);
  EXPECT_EQ(layer.InClose(input), kMidiErrStillPlaying);
  EXPECT_TRUE(backend->InputOpen());
  backend->Deliver(kReply);  // still working
  EXPECT_EQ(returned.size(), 1u);
  ASSERT_EQ(layer.InReset(input), kMmNoError);
  EXPECT_EQ(layer.InClose(input), kMmNoError);
  EXPECT_FALSE(backend->InputOpen());
  // The handle is gone.
  EXPECT_EQ(layer.InStart(input), kMmInvalidHandle);
  EXPECT_EQ(layer.InClose(input), kMmInvalidHandle);
}

TEST_F(PortLayer, BuffersMustBePreparedAndHaveRoom) {
  ASSERT_EQ(layer.InOpen(&input, 0, RecordingCallback, 0, kCallbackFunction), kMmNoError);
  buffer.assign(10, 0);
  header = MidiHdr{};
  header.lpData = buffer.data();
  header.dwBufferLength = 10;
  EXPECT_EQ(layer.InAddBuffer(input, &header, sizeof(MidiHdr)), kMidiErrUnprepared);
  ASSERT_EQ(layer.InPrepareHeader(input, &header, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(layer.InAddBuffer(input, &header, sizeof(MidiHdr) - 1), kMmInvalidParameter);
  ASSERT_EQ(layer.InAddBuffer(input, &header, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(layer.InAddBuffer(input, &header, sizeof(MidiHdr)), kMidiErrStillPlaying);
  MidiHdr empty{};
  ASSERT_EQ(layer.InPrepareHeader(input, &empty, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(layer.InAddBuffer(input, &empty, sizeof(MidiHdr)), kMmInvalidParameter);
  ASSERT_EQ(layer.InReset(input), kMmNoError);
  EXPECT_EQ(layer.InClose(input), kMmNoError);
}

TEST_F(PortLayer, InputOpenChecksItsArguments) {
  EXPECT_EQ(layer.InOpen(nullptr, 0, RecordingCallback, 0, kCallbackFunction), kMmInvalidParameter);
  EXPECT_EQ(layer.InOpen(&input, 2, RecordingCallback, 0, kCallbackFunction), kMmBadDeviceId);
  EXPECT_EQ(layer.InOpen(&input, 0, RecordingCallback, 0, kCallbackNull), kMmInvalidFlag);
  EXPECT_EQ(layer.InOpen(&input, 0, nullptr, 0, kCallbackFunction), kMmInvalidFlag);
  backend->openFailure = kMmAllocated;
  EXPECT_EQ(layer.InOpen(&input, 0, RecordingCallback, 0, kCallbackFunction), kMmAllocated);
  EXPECT_TRUE(backend->openedInputs.empty());
}

TEST_F(PortLayer, AnOutputIsStillPlayingUntilTheBackendHasDrained) {
  HMidiOut out = nullptr;
  ASSERT_EQ(layer.OutOpen(&out, 0, 0, 0, kCallbackNull), kMmNoError);
  MidiHdr message{};
  Bytes bytes = kReply;
  message.lpData = bytes.data();
  message.dwBufferLength = static_cast<uint32_t>(bytes.size());
  EXPECT_EQ(layer.OutLongMsg(out, &message, sizeof(MidiHdr)), kMidiErrUnprepared);
  ASSERT_EQ(layer.OutPrepareHeader(out, &message, sizeof(MidiHdr)), kMmNoError);
  backend->output->drained = false;
  ASSERT_EQ(layer.OutLongMsg(out, &message, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(backend->output->sent, std::vector<Bytes>{kReply});
  EXPECT_EQ(layer.OutLongMsg(out, &message, sizeof(MidiHdr)), kMidiErrStillPlaying);
  EXPECT_EQ(layer.OutUnprepareHeader(out, &message, sizeof(MidiHdr)), kMidiErrStillPlaying);
  EXPECT_EQ(layer.OutUnprepareHeader(out, &message, sizeof(MidiHdr)), kMidiErrStillPlaying);
  backend->output->drained = true;
  EXPECT_EQ(layer.OutUnprepareHeader(out, &message, sizeof(MidiHdr)), kMmNoError);
  EXPECT_TRUE(message.dwFlags & kMhdrDone);
  EXPECT_FALSE(message.dwFlags & (kMhdrPrepared | kMhdrInQueue));
  EXPECT_EQ(layer.OutClose(out), kMmNoError);
  EXPECT_FALSE(backend->output->open);
  EXPECT_EQ(layer.OutClose(out), kMmInvalidHandle);
  EXPECT_EQ(layer.OutPrepareHeader(out, &message, sizeof(MidiHdr)), kMmInvalidHandle);
}

TEST_F(PortLayer, ABackendSendFailureIsTheLongMessageResult) {
  HMidiOut out = nullptr;
  ASSERT_EQ(layer.OutOpen(&out, 0, 0, 0, kCallbackNull), kMmNoError);
  Bytes bytes = kReply;
  MidiHdr message{};
  message.lpData = bytes.data();
  message.dwBufferLength = static_cast<uint32_t>(bytes.size());
  ASSERT_EQ(layer.OutPrepareHeader(out, &message, sizeof(MidiHdr)), kMmNoError);
  backend->output->sendResult = kMidiErrNotReady;
  EXPECT_EQ(layer.OutLongMsg(out, &message, sizeof(MidiHdr)), kMidiErrNotReady);
  // Not sent, so nothing to wait for.
  EXPECT_EQ(layer.OutUnprepareHeader(out, &message, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(layer.OutClose(out), kMmNoError);
}

TEST_F(PortLayer, OutputOpenChecksItsArguments) {
  HMidiOut out = nullptr;
  EXPECT_EQ(layer.OutOpen(nullptr, 0, 0, 0, kCallbackNull), kMmInvalidParameter);
  EXPECT_EQ(layer.OutOpen(&out, 1, 0, 0, kCallbackNull), kMmBadDeviceId);
  EXPECT_EQ(layer.OutOpen(&out, 0, 0, 0, kCallbackFunction), kMmInvalidFlag);
  EXPECT_TRUE(backend->openedOutputs.empty());
}

TEST(PortLayerPorts, NumbersThePortsOfEveryBackendInOrderAndOpensThemByName) {
  PortsDeviceLayer layer;
  auto first = std::make_unique<FakeBackend>("first", std::vector<std::string>{"In A", "In B"},
                                             std::vector<std::string>{"Out A"});
  auto second = std::make_unique<FakeBackend>("second", std::vector<std::string>{"In C"},
                                              std::vector<std::string>{"Out B", "Out C"});
  FakeBackend* firstBackend = first.get();
  FakeBackend* secondBackend = second.get();
  layer.AddBackend(std::move(first));
  layer.AddBackend(std::move(second));

  ASSERT_EQ(layer.InGetNumDevs(), 3u);
  ASSERT_EQ(layer.OutGetNumDevs(), 3u);
  std::string name;
  const std::pair<uint32_t, const char*> inputs[] = {{0, "In A"}, {1, "In B"}, {2, "In C"}};
  for (const auto& [device, expected] : inputs) {
    ASSERT_EQ(layer.InGetDevCaps(device, name), kMmNoError);
    EXPECT_EQ(name, expected);
  }
  const std::pair<uint32_t, const char*> outputs[] = {{0, "Out A"}, {1, "Out B"}, {2, "Out C"}};
  for (const auto& [device, expected] : outputs) {
    ASSERT_EQ(layer.OutGetDevCaps(device, name), kMmNoError);
    EXPECT_EQ(name, expected);
  }
  EXPECT_EQ(layer.InGetDevCaps(3, name), kMmBadDeviceId);
  EXPECT_EQ(layer.OutGetDevCaps(3, name), kMmBadDeviceId);

  // The backend's own order changes (a port came and went): device numbers stay as listed until
  // the next scan, and a device is opened by its name, not by its place.
  firstBackend->inputs = {"In B", "In A"};
  HMidiIn in = nullptr;
  ASSERT_EQ(layer.InOpen(&in, 1, RecordingCallback, 0, kCallbackFunction), kMmNoError);
  EXPECT_EQ(firstBackend->openedInputs, std::vector<std::string>{"In B"});
  HMidiOut out = nullptr;
  ASSERT_EQ(layer.OutOpen(&out, 2, 0, 0, kCallbackNull), kMmNoError);
  EXPECT_EQ(secondBackend->openedOutputs, std::vector<std::string>{"Out C"});
  EXPECT_TRUE(firstBackend->openedOutputs.empty());

  secondBackend->inputs.push_back("In D");
  EXPECT_EQ(layer.InGetNumDevs(), 3u);
  layer.Rescan();
  EXPECT_EQ(layer.InGetNumDevs(), 4u);
  ASSERT_EQ(layer.InGetDevCaps(0, name), kMmNoError);
  EXPECT_EQ(name, "In B");
  // A layer destroyed with ports open closes them.
}

TEST(PortLayerPorts, TheProgramReceivesRepliesThroughIt) {
  // The whole path: OpenPorts with the reception callback, bytes from the backend's thread,
  // ReadReply, a command sent and drained, ClosePorts getting the buffer back.
  test::CountingClock clock;
  PortsDeviceLayer layer;
  auto fake = std::make_unique<FakeBackend>("fake");
  FakeBackend* backend = fake.get();
  layer.AddBackend(std::move(fake));
  InstallMidiDeviceLayer(&layer);
  ASSERT_TRUE(OpenPorts(1, 0));
  EXPECT_EQ(backend->openedInputs, std::vector<std::string>{"In B"});

  backend->output->drained = false;
  clock.onSleep = [&](uint32_t) { backend->output->drained = true; };
  SendReset(2);
  EXPECT_EQ(backend->output->sent,
            (std::vector<Bytes>{{0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x10, 0x02, 0xF7}}));
  // Still playing at the first two unprepare calls (drained only during the first sleep), so the
  // third call succeeds, followed by its own sleep.
  EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{100, 100}));

  backend->Deliver({0xF0, 0x00, 0x00, 0x21, 0x0A});
  backend->Deliver({0x7F, 0x10, 0xF7, 0xF8});
  uint8_t reply[10];
  uint32_t count = 0;
  EXPECT_EQ(ReadReply(reply, sizeof reply, &count, 1), kOk);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(reply[0], 0x10);
  EXPECT_EQ(receivedCompanyId.load(), 0x0021);

  ClosePorts();
  EXPECT_FALSE(backend->InputOpen());
  EXPECT_FALSE(backend->output->open);
  InstallMidiDeviceLayer(nullptr);
}

}  // namespace
}  // namespace kfw
