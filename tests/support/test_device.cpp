#include "tests/support/test_device.h"

#include <algorithm>

namespace kfw::test {

TestDevice::TestDevice() { InstallMidiDeviceLayer(this); }

TestDevice::~TestDevice() { InstallMidiDeviceLayer(nullptr); }

void TestDevice::FailNext(const std::string& call, MmResult result) {
  std::lock_guard lock(mutex_);
  failures_[call].push_back(result);
}

bool TestDevice::Scripted(const std::string& call, MmResult& result) {
  std::lock_guard lock(mutex_);
  calls_.push_back(call);
  auto it = failures_.find(call);
  if (it == failures_.end() || it->second.empty()) return false;
  result = it->second.front();
  it->second.pop_front();
  return true;
}

std::vector<std::vector<uint8_t>> TestDevice::Sent() {
  std::lock_guard lock(mutex_);
  return sent_;
}

std::vector<std::string> TestDevice::Calls() {
  std::lock_guard lock(mutex_);
  return calls_;
}

uint32_t TestDevice::CountCalls(const std::string& call) {
  std::lock_guard lock(mutex_);
  return static_cast<uint32_t>(std::count(calls_.begin(), calls_.end(), call));
}

bool TestDevice::BufferQueued() {
  std::lock_guard lock(mutex_);
  return !queue_.empty();
}

bool TestDevice::InputOpen() {
  std::lock_guard lock(mutex_);
  return inputOpen_;
}

bool TestDevice::OutputOpen() {
  std::lock_guard lock(mutex_);
  return outputOpen_;
}

bool TestDevice::ReturnFront(uint32_t message) {
  MidiHdr* header;
  MidiInProc callback;
  uintptr_t instance;
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty() || !callback_) return false;
    header = queue_.front();
    queue_.pop_front();
    header->dwFlags = (header->dwFlags & ~kMhdrInQueue) | kMhdrDone;
    callback = callback_;
    instance = instance_;
  }
  callback(&input_, message, instance, reinterpret_cast<uintptr_t>(header), 0);
  return true;
}

bool TestDevice::Deliver(const std::vector<uint8_t>& bytes) {
  size_t offset = 0;
  do {
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return offset != 0;
      MidiHdr* header = queue_.front();
      const size_t take = std::min<size_t>(header->dwBufferLength, bytes.size() - offset);
      std::copy_n(bytes.begin() + static_cast<long>(offset), take, header->lpData);
      header->dwBytesRecorded = static_cast<uint32_t>(take);
      offset += take;
    }
    ReturnFront(kMimLongData);
  } while (offset < bytes.size());
  return true;
}

bool TestDevice::DeliverEmpty() {
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return false;
    queue_.front()->dwBytesRecorded = 0;
  }
  return ReturnFront(kMimLongData);
}

bool TestDevice::DeliverMessage(uint32_t message) { return ReturnFront(message); }

uint32_t TestDevice::InGetNumDevs() {
  std::lock_guard lock(mutex_);
  calls_.push_back("midiInGetNumDevs");
  return static_cast<uint32_t>(inputNames.size());
}

MmResult TestDevice::InGetDevCaps(uint32_t device, std::string& name) {
  MmResult result;
  if (Scripted("midiInGetDevCaps", result)) return result;
  if (device >= inputNames.size()) return kMmBadDeviceId;
  if (inputCapsFailures.count(device)) return kMmNoDriver;
  name = inputNames[device];
  return kMmNoError;
}

MmResult TestDevice::InOpen(HMidiIn* handle, uint32_t device, MidiInProc callback,
                            uintptr_t instance, uint32_t flags) {
  MmResult result;
  if (Scripted("midiInOpen", result)) return result;
  if (device >= inputNames.size()) return kMmBadDeviceId;
  if (flags != kCallbackFunction) return kMmInvalidFlag;
  std::lock_guard lock(mutex_);
  if (inputOpen_) return kMmAllocated;
  inputOpen_ = true;
  callback_ = callback;
  instance_ = instance;
  openedInputDevice = device;
  *handle = &input_;
  return kMmNoError;
}

MmResult TestDevice::InPrepareHeader(HMidiIn handle, MidiHdr* header, uint32_t) {
  MmResult result;
  if (Scripted("midiInPrepareHeader", result)) return result;
  if (handle != &input_) return kMmInvalidHandle;
  header->dwFlags |= kMhdrPrepared;
  return kMmNoError;
}

MmResult TestDevice::InUnprepareHeader(HMidiIn handle, MidiHdr* header, uint32_t) {
  MmResult result;
  if (Scripted("midiInUnprepareHeader", result)) return result;
  if (handle != &input_) return kMmInvalidHandle;
  if (header->dwFlags & kMhdrInQueue) return kMidiErrStillPlaying;
  header->dwFlags &= ~kMhdrPrepared;
  return kMmNoError;
}

MmResult TestDevice::InAddBuffer(HMidiIn handle, MidiHdr* header, uint32_t) {
  MmResult result;
  if (Scripted("midiInAddBuffer", result)) return result;
  if (handle != &input_) return kMmInvalidHandle;
  if (!(header->dwFlags & kMhdrPrepared)) return kMidiErrUnprepared;
  std::lock_guard lock(mutex_);
  header->dwFlags = (header->dwFlags & ~kMhdrDone) | kMhdrInQueue;
  queue_.push_back(header);
  return kMmNoError;
}

MmResult TestDevice::InStart(HMidiIn handle) {
  MmResult result;
  if (Scripted("midiInStart", result)) return result;
  return handle == &input_ ? kMmNoError : kMmInvalidHandle;
}

MmResult TestDevice::InStop(HMidiIn handle) {
  MmResult result;
  if (Scripted("midiInStop", result)) return result;
  return handle == &input_ ? kMmNoError : kMmInvalidHandle;
}

MmResult TestDevice::InReset(HMidiIn handle) {
  MmResult result;
  if (Scripted("midiInReset", result)) return result;
  if (handle != &input_) return kMmInvalidHandle;
  for (int rounds = 0; rounds < 8 && DeliverEmpty(); ++rounds) {
  }
  return kMmNoError;
}

MmResult TestDevice::InClose(HMidiIn handle) {
  MmResult result;
  if (Scripted("midiInClose", result)) return result;
  if (handle != &input_) return kMmInvalidHandle;
  std::lock_guard lock(mutex_);
  if (!queue_.empty()) return kMidiErrStillPlaying;
  inputOpen_ = false;
  callback_ = nullptr;
  return kMmNoError;
}

uint32_t TestDevice::OutGetNumDevs() {
  std::lock_guard lock(mutex_);
  calls_.push_back("midiOutGetNumDevs");
  return static_cast<uint32_t>(outputNames.size());
}

MmResult TestDevice::OutGetDevCaps(uint32_t device, std::string& name) {
  MmResult result;
  if (Scripted("midiOutGetDevCaps", result)) return result;
  if (device >= outputNames.size()) return kMmBadDeviceId;
  if (outputCapsFailures.count(device)) return kMmNoDriver;
  name = outputNames[device];
  return kMmNoError;
}

MmResult TestDevice::OutOpen(HMidiOut* handle, uint32_t device, uintptr_t, uintptr_t,
                             uint32_t) {
  MmResult result;
  if (Scripted("midiOutOpen", result)) return result;
  if (device >= outputNames.size()) return kMmBadDeviceId;
  std::lock_guard lock(mutex_);
  if (outputOpen_) return kMmAllocated;
  outputOpen_ = true;
  openedOutputDevice = device;
  *handle = &output_;
  return kMmNoError;
}

MmResult TestDevice::OutPrepareHeader(HMidiOut handle, MidiHdr* header, uint32_t) {
  MmResult result;
  if (Scripted("midiOutPrepareHeader", result)) return result;
  if (handle != &output_) return kMmInvalidHandle;
  header->dwFlags |= kMhdrPrepared;
  return kMmNoError;
}

MmResult TestDevice::OutUnprepareHeader(HMidiOut handle, MidiHdr* header, uint32_t) {
  MmResult result;
  if (Scripted("midiOutUnprepareHeader", result)) return result;
  if (handle != &output_) return kMmInvalidHandle;
  {
    std::lock_guard lock(mutex_);
    if (stillPlayingLeft_ > 0) {
      --stillPlayingLeft_;
      return kMidiErrStillPlaying;
    }
  }
  header->dwFlags &= ~(kMhdrPrepared | kMhdrInQueue);
  header->dwFlags |= kMhdrDone;
  return kMmNoError;
}

MmResult TestDevice::OutLongMsg(HMidiOut handle, MidiHdr* header, uint32_t) {
  MmResult result;
  if (Scripted("midiOutLongMsg", result)) return result;
  if (handle != &output_) return kMmInvalidHandle;
  if (!(header->dwFlags & kMhdrPrepared)) return kMidiErrUnprepared;
  if (header->dwBufferLength > largestMessage) return kMmInvalidParameter;
  std::vector<uint8_t> message(header->lpData, header->lpData + header->dwBufferLength);
  std::function<void(const std::vector<uint8_t>&)> hook;
  {
    std::lock_guard lock(mutex_);
    sent_.push_back(message);
    stillPlayingLeft_ = stillPlayingCount;
    header->dwFlags |= kMhdrInQueue;
    hook = onSend;
  }
  if (hook) hook(message);
  return kMmNoError;
}

MmResult TestDevice::OutClose(HMidiOut handle) {
  MmResult result;
  if (Scripted("midiOutClose", result)) return result;
  if (handle != &output_) return kMmInvalidHandle;
  std::lock_guard lock(mutex_);
  outputOpen_ = false;
  return kMmNoError;
}

MmResult TestDevice::OutGetLargestMessage(HMidiOut handle, uint32_t& largest) {
  MmResult result;
  if (Scripted("midiOutGetLargestMessage", result)) return result;
  if (handle != &output_) return kMmInvalidHandle;
  largest = largestMessage;
  return kMmNoError;
}

}  // namespace kfw::test
