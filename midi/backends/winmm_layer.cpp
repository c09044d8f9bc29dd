#ifdef _WIN32

#include "midi/backends/winmm_layer.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace kfw {

namespace {

// WinMM's MIDIHDR and ours differ in layout, so each of our headers gets a WinMM header of its
// own, from its preparation to its unpreparation. Both point at the caller's bytes; only the byte
// count and the flags are copied back. The flag bits are WinMM's (MHDR_DONE, MHDR_PREPARED,
// MHDR_INQUEUE) in both.
struct HeaderPair {
  MidiHdr* ours;
  MIDIHDR theirs;
};

class HeaderTable {
 public:
  MIDIHDR* Add(MidiHdr* ours) {
    std::lock_guard lock(mutex_);
    auto& pair = headers_[ours];
    if (!pair) pair = std::make_unique<HeaderPair>();
    pair->ours = ours;
    pair->theirs = MIDIHDR{};
    pair->theirs.lpData = reinterpret_cast<LPSTR>(ours->lpData);
    pair->theirs.dwBufferLength = ours->dwBufferLength;
    pair->theirs.dwBytesRecorded = ours->dwBytesRecorded;
    pair->theirs.dwUser = reinterpret_cast<DWORD_PTR>(ours);
    return &pair->theirs;
  }

  MIDIHDR* Find(MidiHdr* ours) {
    std::lock_guard lock(mutex_);
    auto found = headers_.find(ours);
    return found == headers_.end() ? nullptr : &found->second->theirs;
  }

  void Remove(MidiHdr* ours) {
    std::lock_guard lock(mutex_);
    headers_.erase(ours);
  }

  bool Empty() {
    std::lock_guard lock(mutex_);
    return headers_.empty();
  }

  // Our header whose WinMM header is at `theirs`, found by its address alone, or nullptr. Nothing
  // is read through `theirs`: a done notice may come after the sender has unprepared and dropped
  // it.
  MidiHdr* OursOf(const MIDIHDR* theirs) {
    std::lock_guard lock(mutex_);
    for (auto& [ours, pair] : headers_) {
      if (&pair->theirs == theirs) return ours;
    }
    return nullptr;
  }

 private:
  std::mutex mutex_;
  std::map<MidiHdr*, std::unique_ptr<HeaderPair>> headers_;
};

void CopyBack(const MIDIHDR& theirs, MidiHdr* ours) {
  ours->dwBytesRecorded = theirs.dwBytesRecorded;
  ours->dwFlags = theirs.dwFlags & (kMhdrDone | kMhdrPrepared | kMhdrInQueue);
}

struct WinMmInput final : MidiInDevice {
  HMIDIIN handle = nullptr;
  MidiInProc callback = nullptr;
  uintptr_t instance = 0;
  HeaderTable headers;
};

struct WinMmOutput final : MidiOutDevice {
  HMIDIOUT handle = nullptr;
  HeaderTable headers;
  MidiOutProc callback = nullptr;  // only when opened with kCallbackFunction
  uintptr_t instance = 0;
};

// WinMM's input callback, on WinMM's thread: passes each message on with our header in place of
// WinMM's. The program's callback may queue the buffer again from inside the call, as WinMM
// allows for midiInAddBuffer.
void CALLBACK InputCallback(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                            DWORD_PTR param2) {
  auto* input = reinterpret_cast<WinMmInput*>(instance);
  if (!input || !input->callback) return;
  if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
    auto* theirs = reinterpret_cast<MIDIHDR*>(param1);
    auto* ours = reinterpret_cast<MidiHdr*>(theirs->dwUser);
    CopyBack(*theirs, ours);
    param1 = reinterpret_cast<DWORD_PTR>(ours);
  }
  input->callback(input, message, input->instance, param1, param2);
}

// WinMM's output callback, on WinMM's thread: MOM_DONE (the fast mode's notice that a message has
// left) passed on with our header in place of WinMM's, and the open and close notices as they
// are. WinMM allows only a few system calls in here; the program's callback only raises a flag
// and wakes the waiting thread.
void CALLBACK OutputCallback(HMIDIOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                             DWORD_PTR param2) {
  auto* output = reinterpret_cast<WinMmOutput*>(instance);
  if (!output || !output->callback) return;
  if (message == MOM_DONE) {
    param1 =
        reinterpret_cast<DWORD_PTR>(output->headers.OursOf(reinterpret_cast<MIDIHDR*>(param1)));
  }
  output->callback(output, message, output->instance, param1, param2);
}

class WinMmDeviceLayer final : public MidiDeviceLayer {
 public:
  uint32_t InGetNumDevs() override { return midiInGetNumDevs(); }

  MmResult InGetDevCaps(uint32_t device, std::string& name) override {
    MIDIINCAPSA caps{};
    const MMRESULT result = midiInGetDevCapsA(device, &caps, sizeof caps);
    if (result == MMSYSERR_NOERROR) name = caps.szPname;
    return result;
  }

  MmResult InOpen(HMidiIn* handle, uint32_t device, MidiInProc callback, uintptr_t instance,
                  uint32_t flags) override {
    if (!handle) return MMSYSERR_INVALPARAM;
    if (flags != kCallbackFunction || !callback) return MMSYSERR_INVALFLAG;
    auto input = std::make_unique<WinMmInput>();
    input->callback = callback;
    input->instance = instance;
    const MMRESULT result =
        midiInOpen(&input->handle, device, reinterpret_cast<DWORD_PTR>(&InputCallback),
                   reinterpret_cast<DWORD_PTR>(input.get()), CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) return result;
    *handle = input.get();
    std::lock_guard lock(mutex_);
    inputs_.push_back(std::move(input));
    return MMSYSERR_NOERROR;
  }

  MmResult InPrepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) override {
    WinMmInput* input = FindInput(handle);
    if (!input) return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(MidiHdr)) return MMSYSERR_INVALPARAM;
    MIDIHDR* theirs = input->headers.Add(header);
    const MMRESULT result = midiInPrepareHeader(input->handle, theirs, sizeof(MIDIHDR));
    if (result != MMSYSERR_NOERROR) {
      input->headers.Remove(header);
      return result;
    }
    CopyBack(*theirs, header);
    return MMSYSERR_NOERROR;
  }

  MmResult InUnprepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) override {
    WinMmInput* input = FindInput(handle);
    if (!input) return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(MidiHdr)) return MMSYSERR_INVALPARAM;
    MIDIHDR* theirs = input->headers.Find(header);
    if (!theirs) return MMSYSERR_NOERROR;  // never prepared: nothing to undo
    const MMRESULT result = midiInUnprepareHeader(input->handle, theirs, sizeof(MIDIHDR));
    CopyBack(*theirs, header);
    if (result == MMSYSERR_NOERROR) input->headers.Remove(header);
    return result;
  }

  MmResult InAddBuffer(HMidiIn handle, MidiHdr* header, uint32_t size) override {
    WinMmInput* input = FindInput(handle);
    if (!input) return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(MidiHdr)) return MMSYSERR_INVALPARAM;
    MIDIHDR* theirs = input->headers.Find(header);
    if (!theirs) return MIDIERR_UNPREPARED;
    theirs->dwBytesRecorded = 0;
    header->dwBytesRecorded = 0;
    const MMRESULT result = midiInAddBuffer(input->handle, theirs, sizeof(MIDIHDR));
    // WinMM may hand the buffer back on its own thread before this returns; the flags copied
    // here would then be stale, so only a failure copies them.
    if (result != MMSYSERR_NOERROR) CopyBack(*theirs, header);
    return result;
  }

  MmResult InStart(HMidiIn handle) override {
    WinMmInput* input = FindInput(handle);
    return input ? midiInStart(input->handle) : MMSYSERR_INVALHANDLE;
  }

  MmResult InStop(HMidiIn handle) override {
    WinMmInput* input = FindInput(handle);
    return input ? midiInStop(input->handle) : MMSYSERR_INVALHANDLE;
  }

  MmResult InReset(HMidiIn handle) override {
    WinMmInput* input = FindInput(handle);
    return input ? midiInReset(input->handle) : MMSYSERR_INVALHANDLE;
  }

  MmResult InClose(HMidiIn handle) override {
    WinMmInput* input = FindInput(handle);
    if (!input) return MMSYSERR_INVALHANDLE;
    const MMRESULT result = midiInClose(input->handle);
    if (result != MMSYSERR_NOERROR) return result;
    // No callback comes after a successful close.
    std::lock_guard lock(mutex_);
    std::erase_if(inputs_, [input](const auto& open) { return open.get() == input; });
    return MMSYSERR_NOERROR;
  }

  uint32_t OutGetNumDevs() override { return midiOutGetNumDevs(); }

  MmResult OutGetDevCaps(uint32_t device, std::string& name) override {
    MIDIOUTCAPSA caps{};
    const MMRESULT result = midiOutGetDevCapsA(device, &caps, sizeof caps);
    if (result == MMSYSERR_NOERROR) name = caps.szPname;
    return result;
  }

  MmResult OutOpen(HMidiOut* handle, uint32_t device, uintptr_t callback, uintptr_t instance,
                   uint32_t flags) override {
    if (!handle) return MMSYSERR_INVALPARAM;
    auto output = std::make_unique<WinMmOutput>();
    // The normal mode opens with CALLBACK_NULL, passed on as it is. A callback function gets a
    // trampoline of ours, since WinMM would call it with its own handle and header.
    DWORD_PTR winCallback = callback;
    DWORD_PTR winInstance = instance;
    if (flags == kCallbackFunction) {
      if (!callback) return MMSYSERR_INVALFLAG;
      output->callback = reinterpret_cast<MidiOutProc>(callback);
      output->instance = instance;
      winCallback = reinterpret_cast<DWORD_PTR>(&OutputCallback);
      winInstance = reinterpret_cast<DWORD_PTR>(output.get());
    }
    const MMRESULT result = midiOutOpen(&output->handle, device, winCallback, winInstance, flags);
    if (result != MMSYSERR_NOERROR) return result;
    *handle = output.get();
    std::lock_guard lock(mutex_);
    outputs_.push_back(std::move(output));
    return MMSYSERR_NOERROR;
  }

  MmResult OutPrepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) override {
    WinMmOutput* output = FindOutput(handle);
    if (!output) return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(MidiHdr)) return MMSYSERR_INVALPARAM;
    MIDIHDR* theirs = output->headers.Add(header);
    const MMRESULT result = midiOutPrepareHeader(output->handle, theirs, sizeof(MIDIHDR));
    if (result != MMSYSERR_NOERROR) {
      output->headers.Remove(header);
      return result;
    }
    CopyBack(*theirs, header);
    return MMSYSERR_NOERROR;
  }

  // MIDIERR_STILLPLAYING while WinMM still sends the message: the caller repeats, boundedly.
  MmResult OutUnprepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) override {
    WinMmOutput* output = FindOutput(handle);
    if (!output) return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(MidiHdr)) return MMSYSERR_INVALPARAM;
    MIDIHDR* theirs = output->headers.Find(header);
    if (!theirs) return MMSYSERR_NOERROR;
    const MMRESULT result = midiOutUnprepareHeader(output->handle, theirs, sizeof(MIDIHDR));
    CopyBack(*theirs, header);
    if (result == MMSYSERR_NOERROR) output->headers.Remove(header);
    return result;
  }

  MmResult OutLongMsg(HMidiOut handle, MidiHdr* header, uint32_t size) override {
    WinMmOutput* output = FindOutput(handle);
    if (!output) return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(MidiHdr)) return MMSYSERR_INVALPARAM;
    MIDIHDR* theirs = output->headers.Find(header);
    if (!theirs) return MIDIERR_UNPREPARED;
    const MMRESULT result = midiOutLongMsg(output->handle, theirs, sizeof(MIDIHDR));
    CopyBack(*theirs, header);
    return result;
  }

  MmResult OutClose(HMidiOut handle) override {
    WinMmOutput* output = FindOutput(handle);
    if (!output) return MMSYSERR_INVALHANDLE;
    const MMRESULT result = midiOutClose(output->handle);
    if (result != MMSYSERR_NOERROR) return result;
    std::lock_guard lock(mutex_);
    std::erase_if(outputs_, [output](const auto& open) { return open.get() == output; });
    return MMSYSERR_NOERROR;
  }

  // WinMM has no call that tells this, and no driver is known here to refuse a message as long
  // as the program sends (a program block of 16383 bytes at most, 16397 with its frame), so the
  // answer is no limit; a driver that does refuse one fails midiOutLongMsg as before.
  MmResult OutGetLargestMessage(HMidiOut handle, uint32_t& largest) override {
    if (!FindOutput(handle)) return MMSYSERR_INVALHANDLE;
    largest = kNoMessageLimit;
    return MMSYSERR_NOERROR;
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

  std::mutex mutex_;
  std::vector<std::unique_ptr<WinMmInput>> inputs_;
  std::vector<std::unique_ptr<WinMmOutput>> outputs_;
};

}  // namespace

std::unique_ptr<MidiDeviceLayer> MakeWinMmDeviceLayer() {
  return std::make_unique<WinMmDeviceLayer>();
}

}  // namespace kfw

#endif
