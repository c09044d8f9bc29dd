// An input opened straight on a device layer, recording every buffer handed back, as the program's
// reception sees them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "midi/device.h"

namespace kfw::test {

class InputRecorder {
 public:
  static constexpr uint32_t kBufferSize = 1000;

  // Opens input `device` of `layer` with one prepared buffer of kBufferSize bytes and starts it.
  MmResult Open(MidiDeviceLayer& layer, uint32_t device) {
    layer_ = &layer;
    MmResult result = layer.InOpen(&handle_, device, &InputRecorder::Callback,
                                   reinterpret_cast<uintptr_t>(this), kCallbackFunction);
    if (result != kMmNoError) return result;
    header_.lpData = buffer_;
    header_.dwBufferLength = kBufferSize;
    if ((result = layer.InPrepareHeader(handle_, &header_, sizeof header_)) != kMmNoError ||
        (result = layer.InAddBuffer(handle_, &header_, sizeof header_)) != kMmNoError) {
      return result;
    }
    return layer.InStart(handle_);
  }

  void Close() {
    if (!handle_) return;
    layer_->InStop(handle_);
    layer_->InReset(handle_);
    layer_->InUnprepareHeader(handle_, &header_, sizeof header_);
    layer_->InClose(handle_);
    handle_ = nullptr;
  }

  ~InputRecorder() { Close(); }

  // Waits until `count` bytes have come back in buffers.
  bool WaitForBytes(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return Total() >= count; });
  }

  std::vector<std::vector<uint8_t>> Buffers() {
    std::lock_guard lock(mutex_);
    return buffers_;
  }

  std::vector<uint8_t> Bytes() {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> all;
    for (const auto& buffer : buffers_) all.insert(all.end(), buffer.begin(), buffer.end());
    return all;
  }

 private:
  size_t Total() const {
    size_t total = 0;
    for (const auto& buffer : buffers_) total += buffer.size();
    return total;
  }

  static void Callback(HMidiIn handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                       uintptr_t) {
    if (message != kMimLongData) return;
    auto* self = reinterpret_cast<InputRecorder*>(instance);
    auto* header = reinterpret_cast<MidiHdr*>(param1);
    if (header->dwBytesRecorded == 0) return;  // handed back by a reset: not queued again
    {
      std::lock_guard lock(self->mutex_);
      self->buffers_.emplace_back(header->lpData, header->lpData + header->dwBytesRecorded);
    }
    self->arrived_.notify_all();
    self->layer_->InAddBuffer(handle, header, sizeof *header);
  }

  MidiDeviceLayer* layer_ = nullptr;
  HMidiIn handle_ = nullptr;
  uint8_t buffer_[kBufferSize] = {};
  MidiHdr header_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::vector<uint8_t>> buffers_;
};

// F0, then data bytes i * 7 + 3 (mod 128), then F7: what kfw_sim_peer sends for "sysex LENGTH".
inline std::vector<uint8_t> PatternSysEx(size_t length) {
  std::vector<uint8_t> message(length < 2 ? 2 : length);
  message.front() = 0xF0;
  for (size_t i = 1; i + 1 < message.size(); ++i) {
    message[i] = static_cast<uint8_t>((i * 7 + 3) & 0x7F);
  }
  message.back() = 0xF7;
  return message;
}

}  // namespace kfw::test
