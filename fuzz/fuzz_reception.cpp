// Fuzzes reception and what is read from it: the input, cut into chunks, reaches the receive
// parser through the input callback (as the driver's buffers) or byte by byte; replies are read
// with small buffers and time-outs under a clock that does not sleep; every reply is then parsed
// as a status reply and judged as a program-block answer.
//
// Input layout: byte 0 picks the reply buffer size, byte 1 how the rest is cut and delivered;
// the rest is the received stream.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/process_state.h"
#include "base/waiting.h"
#include "midi/device.h"
#include "midi/reception.h"
#include "protocol/device_status.h"
#include "protocol/messages.h"

namespace {

class NoSleepClock final : public kfw::Clock {
 public:
  void SleepMilliseconds(uint32_t milliseconds) override { now_ += milliseconds * 1000ull; }
  uint64_t NowMicroseconds() override { return now_; }

 private:
  uint64_t now_ = 0;
};

// Just enough of a device layer for the callback to hand its buffer back: the queue call always
// succeeds and keeps the buffer.
class QueueingDevice final : public kfw::MidiDeviceLayer {
 public:
  uint32_t InGetNumDevs() override { return 1; }
  kfw::MmResult InGetDevCaps(uint32_t, std::string& name) override {
    name = "fuzz";
    return kfw::kMmNoError;
  }
  kfw::MmResult InOpen(kfw::HMidiIn* handle, uint32_t, kfw::MidiInProc, uintptr_t,
                       uint32_t) override {
    *handle = &input_;
    return kfw::kMmNoError;
  }
  kfw::MmResult InPrepareHeader(kfw::HMidiIn, kfw::MidiHdr*, uint32_t) override { return 0; }
  kfw::MmResult InUnprepareHeader(kfw::HMidiIn, kfw::MidiHdr*, uint32_t) override { return 0; }
  kfw::MmResult InAddBuffer(kfw::HMidiIn handle, kfw::MidiHdr* header, uint32_t size) override {
    if (handle != &input_ || header != &kfw::inputHeader || size != sizeof(kfw::MidiHdr)) {
      std::abort();
    }
    ++queued;
    return kfw::kMmNoError;
  }
  kfw::MmResult InStart(kfw::HMidiIn) override { return 0; }
  kfw::MmResult InStop(kfw::HMidiIn) override { return 0; }
  kfw::MmResult InReset(kfw::HMidiIn) override { return 0; }
  kfw::MmResult InClose(kfw::HMidiIn) override { return 0; }
  uint32_t OutGetNumDevs() override { return 0; }
  kfw::MmResult OutGetDevCaps(uint32_t, std::string&) override { return kfw::kMmBadDeviceId; }
  kfw::MmResult OutOpen(kfw::HMidiOut*, uint32_t, uintptr_t, uintptr_t, uint32_t) override {
    return kfw::kMmBadDeviceId;
  }
  kfw::MmResult OutPrepareHeader(kfw::HMidiOut, kfw::MidiHdr*, uint32_t) override { return 5; }
  kfw::MmResult OutUnprepareHeader(kfw::HMidiOut, kfw::MidiHdr*, uint32_t) override { return 5; }
  kfw::MmResult OutLongMsg(kfw::HMidiOut, kfw::MidiHdr*, uint32_t) override { return 5; }
  kfw::MmResult OutClose(kfw::HMidiOut) override { return 5; }
  kfw::MmResult OutGetLargestMessage(kfw::HMidiOut, uint32_t&) override { return 5; }

  uint32_t queued = 0;

 private:
  kfw::MidiInDevice input_;
};

// Stops the run, naming the broken expectation, so a finding says what went wrong.
#define Require(condition)                                                   \
  do {                                                                       \
    if (!(condition)) {                                                      \
      std::fprintf(stderr, "fuzz_reception:%d: %s\n", __LINE__, #condition); \
      std::abort();                                                          \
    }                                                                        \
  } while (false)

// Reads every reply there is and puts each through the status parse and the block judgement.
void ReadAll(uint32_t capacity) {
  uint8_t buffer[kfw::kStatusReplyCapacity + 1];
  for (int reads = 0; reads < 200; ++reads) {
    std::memset(buffer, 0xEE, sizeof buffer);
    uint32_t count = 0xFFFFFFFF;
    const kfw::ResultCode result = kfw::ReadReply(buffer, capacity, &count, 2);
    Require(count <= capacity);
    Require(buffer[capacity] == 0xEE);  // nothing written past the buffer
    Require(kfw::ReplyRingUnreadCount() < kfw::kReplyRingSize);
    if (result == kfw::kResponseTimeout) {
      Require(kfw::ReplyRingUnreadCount() == 0);
      return;
    }
    Require(result == kfw::kOk || result == kfw::kResponseTooLong);
    if (result == kfw::kOk) {
      Require(count < capacity && buffer[count] == 0);
      for (uint32_t i = 0; i < count; ++i) Require(buffer[i] != 0xF7);
    } else {
      Require(count == capacity);
    }

    kfw::DeviceInfo info;
    kfw::ParseDeviceStatus(buffer, count, info);
    Require(std::strlen(info.productName) < sizeof info.productName);
    Require(std::strlen(info.serialText) == 12);
    Require(info.state != 0 || std::strlen(info.versionText) >= 3);
    Require(info.state == 0 || info.versionText[0] == '\0');
    // The sizes are 7-bit pairs; only an F0 run into a body (a message that lost its F7) puts a
    // byte of 0x80 or more in their place.
    auto sevenBit = [&](uint32_t index) { return index >= count || buffer[index] < 0x80; };
    Require(!(sevenBit(4) && sevenBit(5)) || info.blockSize < 16384);
    Require(!(sevenBit(11) && sevenBit(12)) || info.auxWord < 16384);

    const kfw::ResultCode judged = kfw::JudgeProgramBlockReply(buffer, count);
    Require(judged < kfw::kResultCodeCount);
    Require(judged == kfw::kOk || count == 0 || buffer[0] != 0x16 || count >= 2);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 1 << 16) return 0;
  kfw::ResetProcessState();
  NoSleepClock clock;
  QueueingDevice device;
  kfw::InstallClock(&clock);
  kfw::InstallMidiDeviceLayer(&device);
  kfw::HMidiIn handle = nullptr;
  kfw::MidiInOpen(&handle, 0, kfw::MidiInputCallback, 0, kfw::kCallbackFunction);
  kfw::midiIn = handle;

  const uint32_t capacity = 1 + data[0] % kfw::kStatusReplyCapacity;
  const uint8_t mode = data[1];
  const uint32_t chunk = 1 + (mode >> 3) * 33;  // 1 to 1024 bytes
  data += 2;
  size -= 2;

  for (size_t offset = 0; offset < size; offset += chunk) {
    const size_t count = size - offset < chunk ? size - offset : chunk;
    if (mode & 1) {
      for (size_t i = 0; i < count; ++i) kfw::FeedReceivedByte(data[offset + i]);
    } else {
      // As the driver hands the buffer back: at most its 1000 bytes, the count it recorded.
      kfw::inputHeader.lpData = kfw::inputBuffer;
      kfw::inputHeader.dwBufferLength = kfw::kInputBufferSize;
      const size_t stored = count < kfw::kInputBufferSize ? count : kfw::kInputBufferSize;
      std::memcpy(kfw::inputBuffer, data + offset, stored);
      // Now and then a driver that claims more than the buffer holds.
      kfw::inputHeader.dwBytesRecorded =
          static_cast<uint32_t>((mode & 4) && stored == kfw::kInputBufferSize ? 5000 : stored);
      const uint32_t queuedBefore = device.queued;
      const uint32_t message = (mode & 2) && offset == 0 ? kfw::kMimLongError : kfw::kMimLongData;
      kfw::MidiInputCallback(handle, message, 0, reinterpret_cast<uintptr_t>(&kfw::inputHeader), 0);
      // Queued again exactly when a filled buffer came back.
      Require(device.queued == queuedBefore + (message == kfw::kMimLongData && stored > 0));
    }
    // Read now and then while bytes are still coming, as the program does.
    if ((mode & 2) && offset % (3 * chunk) == 0) ReadAll(capacity);
  }
  ReadAll(capacity);

  kfw::InstallMidiDeviceLayer(nullptr);
  kfw::InstallClock(nullptr);
  return 0;
}
