#include "midi/backends/winmm_layer.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace kfw {

namespace {

// Each of our headers gets a WinMM header of its own, from its preparation to its unpreparation:
// WinMM keeps a pointer to the header it was given until it hands it back, so ours (whose layout
// differs) cannot be given. Both point at the caller's bytes; only the byte count and the flags are
// copied back. The flag bits are WinMM's (MHDR_DONE, MHDR_PREPARED, MHDR_INQUEUE) in both.
class HeaderTable {
 public:
  WinMmHdr* Add(MidiHdr* ours) {
    std::lock_guard lock(mutex_);
    auto& theirs = headers_[ours];
    if (!theirs) theirs = std::make_unique<WinMmHdr>();
    *theirs = WinMmHdr{};
    theirs->lpData = ours->lpData;
    theirs->dwBufferLength = ours->dwBufferLength;
    theirs->dwBytesRecorded = ours->dwBytesRecorded;
    // How the callback finds ours again.
    theirs->dwUser = reinterpret_cast<uintptr_t>(ours);
    return theirs.get();
  }

  WinMmHdr* Find(MidiHdr* ours) {
    std::lock_guard lock(mutex_);
    auto found = headers_.find(ours);
    return found == headers_.end() ? nullptr : found->second.get();
  }

  void Remove(MidiHdr* ours) {
    std::lock_guard lock(mutex_);
    headers_.erase(ours);
  }

  // Our header whose WinMM header is at `theirs`, found by its address alone, or nullptr. Nothing
  // is read through `theirs`: a done notice may come after the sender has unprepared and dropped it.
  MidiHdr* OursOf(const WinMmHdr* theirs) {
    std::lock_guard lock(mutex_);
    for (auto& [ours, pair] : headers_) {
      if (pair.get() == theirs) return ours;
    }
    return nullptr;
  }

 private:
  std::mutex mutex_;
  std::map<MidiHdr*, std::unique_ptr<WinMmHdr>> headers_;
};

void CopyBack(const WinMmHdr& theirs, MidiHdr* ours) {
  ours->dwBytesRecorded = theirs.dwBytesRecorded;
  ours->dwFlags = theirs.dwFlags & (kMhdrDone | kMhdrPrepared | kMhdrInQueue);
}

struct WinMmInput final : MidiInDevice {
  WinMmApi::Handle handle = 0;
  MidiInProc callback = nullptr;
  uintptr_t instance = 0;
  HeaderTable headers;
};

struct WinMmOutput final : MidiOutDevice {
  WinMmApi::Handle handle = 0;
  HeaderTable headers;
  MidiOutProc callback = nullptr;  // only when opened with kCallbackFunction
  uintptr_t instance = 0;
};

// WinMM's input callback, on WinMM's thread: passes each message on with our handle, and with our
// header in place of WinMM's. The program's callback may queue the buffer again from inside the
// call, as WinMM allows for midiInAddBuffer.
void InputCallback(WinMmApi::Handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                   uintptr_t param2) {
  auto* input = reinterpret_cast<WinMmInput*>(instance);
  if (!input || !input->callback) return;
  if (message == kMimLongData || message == kMimLongError) {
    auto* theirs = reinterpret_cast<WinMmHdr*>(param1);
    auto* ours = theirs ? reinterpret_cast<MidiHdr*>(theirs->dwUser) : nullptr;
    if (!ours) return;
    CopyBack(*theirs, ours);
    param1 = reinterpret_cast<uintptr_t>(ours);
  }
  input->callback(input, message, input->instance, param1, param2);
}

// WinMM's output callback, on WinMM's thread: the done notice (fast mode's sign that a message has
// left) passed on with our header in place of WinMM's, the open and close notices as they are.
// WinMM allows only a few system calls in here; the program's callback only wakes the sender.
void OutputCallback(WinMmApi::Handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                    uintptr_t param2) {
  auto* output = reinterpret_cast<WinMmOutput*>(instance);
  if (!output || !output->callback) return;
  if (message == kMomDone) {
    param1 = reinterpret_cast<uintptr_t>(
        output->headers.OursOf(reinterpret_cast<const WinMmHdr*>(param1)));
  }
  output->callback(output, message, output->instance, param1, param2);
}

class WinMmDeviceLayer final : public MidiDeviceLayer {
 public:
  explicit WinMmDeviceLayer(std::unique_ptr<WinMmApi> api) : api_(std::move(api)) {}

  uint32_t InGetNumDevs() override { return api_->InGetNumDevs(); }

  MmResult InGetDevCaps(uint32_t device, std::string& name) override {
    return api_->InGetDevCaps(device, name);
  }

  MmResult InOpen(HMidiIn* handle, uint32_t device, MidiInProc callback, uintptr_t instance,
                  uint32_t flags) override {
    if (!handle) return kMmInvalidParameter;
    if (flags != kCallbackFunction || !callback) return kMmInvalidFlag;
    auto input = std::make_unique<WinMmInput>();
    input->callback = callback;
    input->instance = instance;
    const MmResult result =
        api_->InOpen(&input->handle, device, &InputCallback,
                     reinterpret_cast<uintptr_t>(input.get()), kCallbackFunction);
    if (result != kMmNoError) return result;
    *handle = input.get();
    std::lock_guard lock(mutex_);
    inputs_.push_back(std::move(input));
    return kMmNoError;
  }

  MmResult InPrepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) override {
    WinMmInput* input = FindInput(handle);
    if (!input) return kMmInvalidHandle;
    if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
    WinMmHdr* theirs = input->headers.Add(header);
    const MmResult result = api_->InPrepareHeader(input->handle, theirs);
    if (result != kMmNoError) {
      input->headers.Remove(header);
      return result;
    }
    CopyBack(*theirs, header);
    return kMmNoError;
  }

  MmResult InUnprepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) override {
    WinMmInput* input = FindInput(handle);
    if (!input) return kMmInvalidHandle;
    if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
    WinMmHdr* theirs = input->headers.Find(header);
    if (!theirs) return kMmNoError;  // never prepared: nothing to undo
    const MmResult result = api_->InUnprepareHeader(input->handle, theirs);
    CopyBack(*theirs, header);
    if (result == kMmNoError) input->headers.Remove(header);
    return result;
  }

  MmResult InAddBuffer(HMidiIn handle, MidiHdr* header, uint32_t size) override {
    WinMmInput* input = FindInput(handle);
    if (!input) return kMmInvalidHandle;
    if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
    WinMmHdr* theirs = input->headers.Find(header);
    if (!theirs) return kMidiErrUnprepared;
    theirs->dwBytesRecorded = 0;
    header->dwBytesRecorded = 0;
    const MmResult result = api_->InAddBuffer(input->handle, theirs);
    // WinMM may hand the buffer back on its own thread before this returns; the flags copied
    // here would then be stale, so only a failure copies them.
    if (result != kMmNoError) CopyBack(*theirs, header);
    return result;
  }

  MmResult InStart(HMidiIn handle) override {
    WinMmInput* input = FindInput(handle);
    return input ? api_->InStart(input->handle) : kMmInvalidHandle;
  }

  MmResult InStop(HMidiIn handle) override {
    WinMmInput* input = FindInput(handle);
    return input ? api_->InStop(input->handle) : kMmInvalidHandle;
  }

  MmResult InReset(HMidiIn handle) override {
    WinMmInput* input = FindInput(handle);
    return input ? api_->InReset(input->handle) : kMmInvalidHandle;
  }

  MmResult InClose(HMidiIn handle) override {
    WinMmInput* input = FindInput(handle);
    if (!input) return kMmInvalidHandle;
    const MmResult result = api_->InClose(input->handle);
    if (result != kMmNoError) return result;
    // No callback comes after a successful close.
    std::lock_guard lock(mutex_);
    std::erase_if(inputs_, [input](const auto& open) { return open.get() == input; });
    return kMmNoError;
  }

  uint32_t OutGetNumDevs() override { return api_->OutGetNumDevs(); }

  MmResult OutGetDevCaps(uint32_t device, std::string& name) override {
    return api_->OutGetDevCaps(device, name);
  }

  // Only without a callback, as the program opens its output: a callback would be handed WinMM's
  // headers, not ours, so one must pass through a function of this layer as the input's does.
  MmResult OutOpen(HMidiOut* handle, uint32_t device, uintptr_t callback, uintptr_t instance,
                   uint32_t flags) override {
    if (!handle) return kMmInvalidParameter;
    auto output = std::make_unique<WinMmOutput>();
    MmResult result;
    if (flags == kCallbackNull) {
      // As the program opens its output in the normal mode.
      result = api_->OutOpen(&output->handle, device, nullptr, instance, flags);
    } else if (flags == kCallbackFunction && callback) {
      // Fast mode: the callback passes through a function of this layer, as the input's does,
      // since WinMM would hand it WinMM's handle and header rather than ours.
      output->callback = reinterpret_cast<MidiOutProc>(callback);
      output->instance = instance;
      result = api_->OutOpen(&output->handle, device, &OutputCallback,
                             reinterpret_cast<uintptr_t>(output.get()), flags);
    } else {
      return kMmInvalidFlag;
    }
    if (result != kMmNoError) return result;
    *handle = output.get();
    std::lock_guard lock(mutex_);
    outputs_.push_back(std::move(output));
    return kMmNoError;
  }

  MmResult OutPrepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) override {
    WinMmOutput* output = FindOutput(handle);
    if (!output) return kMmInvalidHandle;
    if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
    WinMmHdr* theirs = output->headers.Add(header);
    const MmResult result = api_->OutPrepareHeader(output->handle, theirs);
    if (result != kMmNoError) {
      output->headers.Remove(header);
      return result;
    }
    CopyBack(*theirs, header);
    return kMmNoError;
  }

  // kMidiErrStillPlaying while WinMM still sends the message: the caller repeats, boundedly.
  MmResult OutUnprepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) override {
    WinMmOutput* output = FindOutput(handle);
    if (!output) return kMmInvalidHandle;
    if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
    WinMmHdr* theirs = output->headers.Find(header);
    if (!theirs) return kMmNoError;
    const MmResult result = api_->OutUnprepareHeader(output->handle, theirs);
    CopyBack(*theirs, header);
    if (result == kMmNoError) output->headers.Remove(header);
    return result;
  }

  MmResult OutLongMsg(HMidiOut handle, MidiHdr* header, uint32_t size) override {
    WinMmOutput* output = FindOutput(handle);
    if (!output) return kMmInvalidHandle;
    if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
    WinMmHdr* theirs = output->headers.Find(header);
    if (!theirs) return kMidiErrUnprepared;
    const MmResult result = api_->OutLongMsg(output->handle, theirs);
    CopyBack(*theirs, header);
    return result;
  }

  MmResult OutClose(HMidiOut handle) override {
    WinMmOutput* output = FindOutput(handle);
    if (!output) return kMmInvalidHandle;
    const MmResult result = api_->OutClose(output->handle);
    if (result != kMmNoError) return result;
    std::lock_guard lock(mutex_);
    std::erase_if(outputs_, [output](const auto& open) { return open.get() == output; });
    return kMmNoError;
  }

  // WinMM has no call that tells this, and no driver is known here to refuse a message as long
  // as the program sends (a program block of 16383 bytes at most, 16397 with its frame), so the
  // answer is no limit; a driver that does refuse one fails midiOutLongMsg as before.
  MmResult OutGetLargestMessage(HMidiOut handle, uint32_t& largest) override {
    if (!FindOutput(handle)) return kMmInvalidHandle;
    largest = kNoMessageLimit;
    return kMmNoError;
  }

 private:
  WinMmInput* FindInput(HMidiIn handle) {
    std::lock_guard lock(mutex_);
    for (auto& input : inputs_) {
      if (input.get() == handle) return input.get();
    }
    return nullptr;
  }

  WinMmOutput* FindOutput(HMidiOut handle) {
    std::lock_guard lock(mutex_);
    for (auto& output : outputs_) {
      if (output.get() == handle) return output.get();
    }
    return nullptr;
  }

  std::unique_ptr<WinMmApi> api_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<WinMmInput>> inputs_;
  std::vector<std::unique_ptr<WinMmOutput>> outputs_;
};

}  // namespace

std::unique_ptr<MidiDeviceLayer> MakeWinMmDeviceLayer(std::unique_ptr<WinMmApi> api) {
  return std::make_unique<WinMmDeviceLayer>(std::move(api));
}

#ifdef _WIN32
std::unique_ptr<MidiDeviceLayer> MakeWinMmDeviceLayer() {
  return MakeWinMmDeviceLayer(MakeSystemWinMmApi());
}
#endif

}  // namespace kfw
