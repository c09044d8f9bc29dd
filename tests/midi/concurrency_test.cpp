// Reception across threads: a thread playing the driver feeds the reply ring while the program's
// thread reads it, and the port layer delivers from a backend thread while the program stops,
// resets and closes the input. These run under the thread sanitizer too (label "concurrency").
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "image/image_file.h"
#include "image/report.h"
#include "image/waiting.h"
#include "midi/port_layer.h"
#include "midi/ports.h"
#include "midi/reception.h"
#include "tests/support/doubles.h"
#include "tests/support/test_device.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// A tick that lasts a few microseconds of real time, so a reader waiting for a writer on another
// thread polls quickly.
class ShortTickClock final : public Clock {
 public:
  ShortTickClock() { InstallClock(this); }
  ~ShortTickClock() override { InstallClock(nullptr); }
  void SleepMilliseconds(uint32_t) override { std::this_thread::sleep_for(20us); }
  uint64_t NowMicroseconds() override { return SystemClock().NowMicroseconds(); }
};

const Bytes kHeader = {0xF0, 0x00, 0x12, 0x34, 0x05, 0x7F};

// The body of message m: its number in two bytes, then bytes derived from it; 1 to 20 bytes.
Bytes BodyOf(uint32_t m) {
  Bytes body = {static_cast<uint8_t>((m >> 7) & 0x7F), static_cast<uint8_t>(m & 0x7F)};
  const uint32_t extra = m % 19;
  for (uint32_t i = 0; i < extra; ++i) body.push_back(static_cast<uint8_t>((m * 3 + i) & 0x7F));
  return body;
}

Bytes MessageOf(uint32_t m) {
  Bytes message = kHeader;
  const Bytes body = BodyOf(m);
  message.insert(message.end(), body.begin(), body.end());
  message.push_back(0xF7);
  return message;
}

// Waits until the ring has room for `bytes` more without dropping any; false after a second.
bool WaitForRoom(uint32_t bytes) {
  const auto giveUp = std::chrono::steady_clock::now() + 1s;
  while (ReplyRingUnreadCount() + bytes > kReplyRingSize - 1) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::yield();
  }
  return true;
}

constexpr uint32_t kMessages = 20000;

TEST(RingAcrossThreads, EveryMessageArrivesWholeAndInOrderWhenTheRingNeverFills) {
  ShortTickClock clock;
  std::atomic<bool> stalled{false};
  std::thread driver([&] {
    for (uint32_t m = 0; m < kMessages && !stalled; ++m) {
      const Bytes message = MessageOf(m);
      if (!WaitForRoom(static_cast<uint32_t>(message.size() - kHeader.size()))) {
        stalled = true;
        break;
      }
      for (uint8_t byte : message) FeedReceivedByte(byte);
    }
  });
  uint32_t received = 0;
  for (; received < kMessages; ++received) {
    uint8_t buffer[30];
    uint32_t count = 0;
    const ResultCode result = ReadReply(buffer, sizeof buffer, &count, 50000);
    if (result != kOk) {
      ADD_FAILURE() << "message " << received << ": " << static_cast<int>(result);
      break;
    }
    const Bytes body(buffer, buffer + count);
    if (body != BodyOf(received)) {
      ADD_FAILURE() << "message " << received << " arrived changed";
      break;
    }
  }
  stalled = stalled || received < kMessages;
  driver.join();
  EXPECT_EQ(received, kMessages);
  EXPECT_EQ(ReplyRingUnreadCount(), 0u);
}

TEST(RingAcrossThreads, WhenTheRingOverflowsOnlyTheOldestBytesAreLost) {
  // Every stored byte names its place in the stream: a body byte holds its position modulo 127,
  // every 21st place is an F7. The writer never runs more than kLead bytes ahead of what the
  // reader has taken, so the ring overflows (kLead > 49) but a byte's place can be told from its
  // value: each byte read must lie 1 to kLead + 5 places after the previous one. A byte read
  // twice, out of order or from a stale slot (50 places back) breaks that.
  constexpr int64_t kLead = 70;
  constexpr int64_t kStream = 200000;
  ShortTickClock clock;
  std::atomic<int64_t> readerAt{-1};
  std::atomic<bool> done{false};
  std::atomic<bool> stop{false};
  std::thread driver([&] {
    for (int64_t position = 0; position < kStream && !stop; ++position) {
      while (position - readerAt.load() > kLead && !stop) std::this_thread::yield();
      if (position % 21 == 0) {
        for (uint8_t byte : kHeader) FeedReceivedByte(byte);
      }
      FeedReceivedByte(position % 21 == 20 ? 0xF7 : static_cast<uint8_t>(position % 127));
    }
    done = true;
  });

  int64_t last = -1;
  int64_t bytesRead = 0;
  bool broken = false;
  auto take = [&](uint8_t value, bool isEnd) {
    if (isEnd) return;  // an F7's place is not known; the next body byte is still checked
    const int64_t delta = ((value - last) % 127 + 127) % 127;
    if (delta < 1 || delta > kLead + 5) {
      ADD_FAILURE() << "byte " << int(value) << " read " << delta << " places after " << last;
      broken = true;
      return;
    }
    last += delta;
    if (last % 21 == 20) {
      ADD_FAILURE() << "a body byte read in the place of an F7 at " << last;
      broken = true;
    }
    ++bytesRead;
  };
  while (!broken) {
    uint8_t buffer[4];
    uint32_t count = 0;
    const ResultCode result = ReadReply(buffer, sizeof buffer, &count, 1);
    for (uint32_t i = 0; i < count && !broken; ++i) take(buffer[i], false);
    if (result == kOk) take(0xF7, true);
    readerAt = last;
    if (result == kResponseTimeout && count == 0 && done && ReplyRingUnreadCount() == 0) break;
    // Now and then the reader falls behind, as when it sleeps a whole tick.
    if (bytesRead % 997 == 0) std::this_thread::sleep_for(50us);
  }
  stop = true;
  driver.join();
  EXPECT_FALSE(broken);
  EXPECT_GT(last, kStream - 30);
  RecordProperty("bodyBytesDropped", std::to_string(kStream - kStream / 21 - bytesRead));
}

TEST(RingAcrossThreads, TheInputCallbackOnADriverThreadFeedsTheReader) {
  ShortTickClock clock;
  test::TestDevice device;
  HMidiIn handle = nullptr;
  ASSERT_EQ(MidiInOpen(&handle, 0, MidiInputCallback, 0, kCallbackFunction), kMmNoError);
  midiIn = handle;
  inputHeader = MidiHdr{};
  inputHeader.lpData = inputBuffer;
  inputHeader.dwBufferLength = kInputBufferSize;
  ASSERT_EQ(MidiInPrepareHeader(handle, &inputHeader, sizeof(MidiHdr)), kMmNoError);
  ASSERT_EQ(MidiInAddBuffer(handle, &inputHeader, sizeof(MidiHdr)), kMmNoError);
  EnableTrace();

  constexpr uint32_t kCount = 3000;
  std::atomic<uint32_t> deliveries{0};
  std::thread driver([&] {
    // Messages go out one or two at a time, split at varying places, as drivers hand them back.
    Bytes pending;
    for (uint32_t m = 0; m < kCount; ++m) {
      const Bytes message = MessageOf(m);
      if (!WaitForRoom(static_cast<uint32_t>(message.size()))) return;
      const size_t split = m % message.size();
      if (split) {
        device.Deliver(Bytes(message.begin(), message.begin() + static_cast<long>(split)));
        ++deliveries;
      }
      device.Deliver(Bytes(message.begin() + static_cast<long>(split), message.end()));
      ++deliveries;
    }
  });
  uint32_t received = 0;
  for (; received < kCount; ++received) {
    uint8_t buffer[30];
    uint32_t count = 0;
    if (ReadReply(buffer, sizeof buffer, &count, 50000) != kOk) break;
    if (Bytes(buffer, buffer + count) != BodyOf(received)) break;
  }
  driver.join();
  EXPECT_EQ(received, kCount);
  // One "RX: " line per buffer handed back, written on the driver's thread.
  const std::string trace = test::ReadFileText(TraceFilePath());
  size_t lines = 0;
  for (size_t at = trace.find("RX: "); at != std::string::npos; at = trace.find("RX: ", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, deliveries.load());
  EXPECT_TRUE(device.BufferQueued());
}

// ---- The port layer with a driver thread ------------------------------------------------------

// A backend whose input runs a thread of its own that delivers the same reply again and again,
// in two pieces, until the input is closed.
class StreamingBackend final : public PortBackend {
 public:
  std::string Name() const override { return "streaming"; }
  void ListPorts(std::vector<std::string>& inputs, std::vector<std::string>& outputs) override {
    inputs.push_back("Stream In");
    outputs.push_back("Stream Out");
  }
  MmResult OpenInput(const std::string&, ByteSink sink,
                     std::unique_ptr<InputConnection>& connection) override {
    connection = std::make_unique<Input>(std::move(sink), *this);
    return kMmNoError;
  }
  MmResult OpenOutput(const std::string&, std::unique_ptr<OutputConnection>& connection) override {
    connection = std::make_unique<Output>();
    return kMmNoError;
  }

  std::atomic<int> openInputs{0};
  std::atomic<uint64_t> piecesSent{0};

 private:
  class Input final : public InputConnection {
   public:
    Input(ByteSink sink, StreamingBackend& backend) : backend_(backend) {
      ++backend_.openInputs;
      thread_ = std::thread([this, sink = std::move(sink)] {
        const Bytes reply = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x10, 0x00, 0xF7};
        while (!stop_) {
          sink(reply.data(), 4);
          sink(reply.data() + 4, reply.size() - 4);
          backend_.piecesSent += 2;
          std::this_thread::sleep_for(10us);
        }
      });
    }
    ~Input() override {
      stop_ = true;
      thread_.join();
      --backend_.openInputs;
    }

   private:
    StreamingBackend& backend_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
  };
  class Output final : public OutputConnection {
   public:
    MmResult Send(const uint8_t*, uint32_t) override { return kMmNoError; }
    bool Drained() override { return true; }
  };
};

std::atomic<uint64_t> callbacks{0};
std::atomic<int> insideCallback{0};
std::atomic<bool> overlapped{false};
PortsDeviceLayer* callbackLayer = nullptr;

void CountingCallback(HMidiIn handle, uint32_t, uintptr_t, uintptr_t param1, uintptr_t) {
  if (insideCallback.fetch_add(1) != 0) overlapped = true;
  ++callbacks;
  auto* header = reinterpret_cast<MidiHdr*>(param1);
  if (header->dwBytesRecorded > 0) callbackLayer->InAddBuffer(handle, header, sizeof(MidiHdr));
  insideCallback.fetch_sub(1);
}

// Waits until the driver has sent some more pieces.
void LetTheDriverRun(StreamingBackend& backend, uint64_t pieces = 20) {
  const uint64_t start = backend.piecesSent.load();
  const auto giveUp = std::chrono::steady_clock::now() + 2s;
  while (backend.piecesSent.load() < start + pieces && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(50us);
  }
}

TEST(PortLayerAcrossThreads, NoCallbackRunsAfterStopOrResetHasReturned) {
  PortsDeviceLayer layer;
  auto owned = std::make_unique<StreamingBackend>();
  StreamingBackend& backend = *owned;
  layer.AddBackend(std::move(owned));
  callbackLayer = &layer;
  callbacks = 0;
  overlapped = false;

  HMidiIn input = nullptr;
  ASSERT_EQ(layer.InOpen(&input, 0, CountingCallback, 0, kCallbackFunction), kMmNoError);
  std::vector<uint8_t> buffer(64);
  MidiHdr header{};
  header.lpData = buffer.data();
  header.dwBufferLength = static_cast<uint32_t>(buffer.size());
  ASSERT_EQ(layer.InPrepareHeader(input, &header, sizeof(MidiHdr)), kMmNoError);
  for (int round = 0; round < 200; ++round) {
    if (!(header.dwFlags & kMhdrInQueue)) {
      ASSERT_EQ(layer.InAddBuffer(input, &header, sizeof(MidiHdr)), kMmNoError);
    }
    ASSERT_EQ(layer.InStart(input), kMmNoError);
    LetTheDriverRun(backend, 4);
    const bool reset = round % 2 == 1;
    ASSERT_EQ(reset ? layer.InReset(input) : layer.InStop(input), kMmNoError);
    const uint64_t after = callbacks.load();
    LetTheDriverRun(backend, 4);
    ASSERT_EQ(callbacks.load(), after) << "round " << round;
  }
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(layer.InReset(input), kMmNoError);
  EXPECT_EQ(layer.InUnprepareHeader(input, &header, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(layer.InClose(input), kMmNoError);
  EXPECT_EQ(backend.openInputs.load(), 0);
  callbackLayer = nullptr;
}

TEST(PortLayerAcrossThreads, TheProgramOpensReadsAndClosesWhileTheDriverDelivers) {
  ShortTickClock clock;
  PortsDeviceLayer layer;
  auto owned = std::make_unique<StreamingBackend>();
  StreamingBackend& backend = *owned;
  layer.AddBackend(std::move(owned));
  InstallMidiDeviceLayer(&layer);
  for (int round = 0; round < 100; ++round) {
    ASSERT_TRUE(OpenPorts(0, 0)) << round;
    for (int reply = 0; reply < 3; ++reply) {
      // The driver streams faster than this reader takes, so the ring may drop the oldest
      // bytes and a body may start anywhere in a reply; the first may also run on from a
      // message the last close cut off. Every read still ends at an F7.
      uint8_t buffer[30];
      uint32_t count = 0;
      ASSERT_EQ(ReadReply(buffer, sizeof buffer, &count, 10000), kOk) << round;
    }
    ClosePorts();
    ASSERT_EQ(backend.openInputs.load(), 0) << round;
    ASSERT_EQ(midiIn.load(), nullptr);
  }
  EXPECT_EQ(receivedCompanyId.load(), 0x0021);
  InstallMidiDeviceLayer(nullptr);
}

}  // namespace
}  // namespace kfw
