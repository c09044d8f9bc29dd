#include "tests/midi/fake_winmm.h"

namespace kfw::test {

void FakeWinMm::FailNext(const std::string& call, MmResult result) {
  failures_[call].push_back(result);
}

bool FakeWinMm::Scripted(const std::string& call, MmResult& result) {
  auto it = failures_.find(call);
  if (it == failures_.end() || it->second.empty()) return false;
  result = it->second.front();
  it->second.pop_front();
  return true;
}

MmResult FakeWinMm::CheckInput(Handle handle) const {
  return inputOpen_ && handle == kInputHandle ? kMmNoError : kMmInvalidHandle;
}

MmResult FakeWinMm::CheckOutput(Handle handle) const {
  return outputOpen_ && handle == kOutputHandle ? kMmNoError : kMmInvalidHandle;
}

void FakeWinMm::Call(uint32_t message, uintptr_t param1) {
  if (callback_) callback_(kInputHandle, message, instance_, param1, 0);
}

void FakeWinMm::ReturnFront(uint32_t message) {
  WinMmHdr* header = queue_.front();
  queue_.pop_front();
  header->dwFlags = (header->dwFlags & ~kMhdrInQueue) | kMhdrDone;
  // The callback may queue it again from inside the call.
  Call(message, reinterpret_cast<uintptr_t>(header));
}

void FakeWinMm::Receive(const std::vector<uint8_t>& bytes, size_t piece) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (!started_ || queue_.empty()) continue;
    WinMmHdr* header = queue_.front();
    header->lpData[header->dwBytesRecorded++] = bytes[i];
    if (bytes[i] == 0xF7 || header->dwBytesRecorded == header->dwBufferLength) {
      ReturnFront(kMimLongData);
    } else if (piece != 0 && (i + 1) % piece == 0) {
      ReturnFront(kMimLongData);
    }
  }
}

MmResult FakeWinMm::InGetDevCaps(uint32_t device, std::string& name) {
  MmResult result;
  if (Scripted("midiInGetDevCaps", result)) return result;
  if (device >= inputNames.size()) return kMmBadDeviceId;
  if (inputCapsFailures.count(device)) return kMmNoDriver;
  name = inputNames[device];
  return kMmNoError;
}

MmResult FakeWinMm::InOpen(Handle* handle, uint32_t device, Proc callback, uintptr_t instance,
                           uint32_t flags) {
  MmResult result;
  if (Scripted("midiInOpen", result)) return result;
  if (device >= inputNames.size()) return kMmBadDeviceId;
  if (inputOpen_) return kMmAllocated;
  if (flags != kCallbackFunction || !callback) return kMmInvalidFlag;
  inputOpen_ = true;
  callback_ = callback;
  instance_ = instance;
  openedInputDevice = device;
  *handle = kInputHandle;
  Call(kMimOpen, 0);
  return kMmNoError;
}

MmResult FakeWinMm::InPrepareHeader(Handle handle, WinMmHdr* header) {
  MmResult result;
  if (Scripted("midiInPrepareHeader", result)) return result;
  if ((result = CheckInput(handle)) != kMmNoError) return result;
  if (!header->lpData || header->dwBufferLength == 0) return kMmInvalidParameter;
  header->dwFlags |= kMhdrPrepared;
  preparedIn_.insert(header);
  return kMmNoError;
}

MmResult FakeWinMm::InUnprepareHeader(Handle handle, WinMmHdr* header) {
  MmResult result;
  if (Scripted("midiInUnprepareHeader", result)) return result;
  if ((result = CheckInput(handle)) != kMmNoError) return result;
  if (header->dwFlags & kMhdrInQueue) return kMidiErrStillPlaying;
  header->dwFlags &= ~kMhdrPrepared;
  preparedIn_.erase(header);
  return kMmNoError;
}

MmResult FakeWinMm::InAddBuffer(Handle handle, WinMmHdr* header) {
  MmResult result;
  if (Scripted("midiInAddBuffer", result)) return result;
  if ((result = CheckInput(handle)) != kMmNoError) return result;
  if (!(header->dwFlags & kMhdrPrepared)) return kMidiErrUnprepared;
  if (header->dwFlags & kMhdrInQueue) return kMidiErrStillPlaying;
  header->dwFlags = (header->dwFlags & ~kMhdrDone) | kMhdrInQueue;
  queue_.push_back(header);
  return kMmNoError;
}

MmResult FakeWinMm::InStart(Handle handle) {
  MmResult result;
  if (Scripted("midiInStart", result)) return result;
  if ((result = CheckInput(handle)) != kMmNoError) return result;
  started_ = true;
  return kMmNoError;
}

// As WinMM: a buffer holding part of a message is handed back, empty ones stay queued.
MmResult FakeWinMm::InStop(Handle handle) {
  MmResult result;
  if (Scripted("midiInStop", result)) return result;
  if ((result = CheckInput(handle)) != kMmNoError) return result;
  started_ = false;
  if (!queue_.empty() && queue_.front()->dwBytesRecorded > 0) ReturnFront(kMimLongData);
  return kMmNoError;
}

// As WinMM: every buffer queued now is handed back, as it stands; one queued again from inside the
// callback stays queued.
MmResult FakeWinMm::InReset(Handle handle) {
  MmResult result;
  if (Scripted("midiInReset", result)) return result;
  if ((result = CheckInput(handle)) != kMmNoError) return result;
  started_ = false;
  for (size_t count = queue_.size(); count > 0 && !queue_.empty(); --count) {
    ReturnFront(kMimLongData);
  }
  return kMmNoError;
}

MmResult FakeWinMm::InClose(Handle handle) {
  MmResult result;
  if (Scripted("midiInClose", result)) return result;
  if ((result = CheckInput(handle)) != kMmNoError) return result;
  if (!queue_.empty()) return kMidiErrStillPlaying;
  Call(kMimClose, 0);
  inputOpen_ = false;
  started_ = false;
  callback_ = nullptr;
  return kMmNoError;
}

MmResult FakeWinMm::OutGetDevCaps(uint32_t device, std::string& name) {
  MmResult result;
  if (Scripted("midiOutGetDevCaps", result)) return result;
  if (device >= outputNames.size()) return kMmBadDeviceId;
  if (outputCapsFailures.count(device)) return kMmNoDriver;
  name = outputNames[device];
  return kMmNoError;
}

MmResult FakeWinMm::OutOpen(Handle* handle, uint32_t device, Proc callback, uintptr_t instance,
                           uint32_t flags) {
  MmResult result;
  if (Scripted("midiOutOpen", result)) return result;
  if (device >= outputNames.size()) return kMmBadDeviceId;
  if (outputOpen_) return kMmAllocated;
  if (flags == kCallbackFunction && callback) {
    outCallback_ = callback;
    outInstance_ = instance;
  } else if (flags == kCallbackNull) {
    outCallback_ = nullptr;
  } else {
    return kMmInvalidFlag;
  }
  outputOpen_ = true;
  openedOutputDevice = device;
  *handle = kOutputHandle;
  return kMmNoError;
}

MmResult FakeWinMm::OutPrepareHeader(Handle handle, WinMmHdr* header) {
  MmResult result;
  if (Scripted("midiOutPrepareHeader", result)) return result;
  if ((result = CheckOutput(handle)) != kMmNoError) return result;
  if (!header->lpData || header->dwBufferLength == 0) return kMmInvalidParameter;
  header->dwFlags |= kMhdrPrepared;
  preparedOut_.insert(header);
  return kMmNoError;
}

MmResult FakeWinMm::OutUnprepareHeader(Handle handle, WinMmHdr* header) {
  MmResult result;
  if (Scripted("midiOutUnprepareHeader", result)) return result;
  if ((result = CheckOutput(handle)) != kMmNoError) return result;
  auto playing = playing_.find(header);
  if (playing != playing_.end()) {
    if (playing->second > 0) {
      --playing->second;
      return kMidiErrStillPlaying;
    }
    playing_.erase(playing);
    header->dwFlags = (header->dwFlags & ~kMhdrInQueue) | kMhdrDone;
  }
  header->dwFlags &= ~kMhdrPrepared;
  preparedOut_.erase(header);
  return kMmNoError;
}

MmResult FakeWinMm::OutLongMsg(Handle handle, WinMmHdr* header) {
  MmResult result;
  if (Scripted("midiOutLongMsg", result)) return result;
  if ((result = CheckOutput(handle)) != kMmNoError) return result;
  if (!(header->dwFlags & kMhdrPrepared)) return kMidiErrUnprepared;
  if (header->dwFlags & kMhdrInQueue) return kMidiErrStillPlaying;
  sent_.emplace_back(header->lpData, header->lpData + header->dwBufferLength);
  header->dwFlags = (header->dwFlags & ~kMhdrDone) | kMhdrInQueue;
  playing_[header] = stillPlayingCount;
  return kMmNoError;
}

void FakeWinMm::FinishPlaying() {
  for (auto& [header, refusals] : playing_) {
    refusals = 0;
    if (outCallback_) {
      outCallback_(kOutputHandle, kMomDone, outInstance_, reinterpret_cast<uintptr_t>(header), 0);
    }
  }
}

MmResult FakeWinMm::OutClose(Handle handle) {
  MmResult result;
  if (Scripted("midiOutClose", result)) return result;
  if ((result = CheckOutput(handle)) != kMmNoError) return result;
  if (!playing_.empty()) return kMidiErrStillPlaying;
  outputOpen_ = false;
  return kMmNoError;
}

}  // namespace kfw::test
