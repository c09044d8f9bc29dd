// A scriptable device layer: any call can be made to fail with any code, the output can stay
// "still playing" for a chosen number of unprepare calls, and the test hands byte chunks to the
// input callback itself, on the test's own thread (or on one it starts, to play the driver).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "midi/device.h"

namespace kfw::test {

class TestDevice final : public MidiDeviceLayer {
 public:
  // Installs itself as the device layer; uninstalls on destruction.
  TestDevice();
  ~TestDevice() override;

  std::vector<std::string> inputNames = {"Test In"};
  std::vector<std::string> outputNames = {"Test Out"};
  std::set<uint32_t> inputCapsFailures;   // device numbers whose capability query fails
  std::set<uint32_t> outputCapsFailures;

  // The next call named `call` (WinMM's name, e.g. "midiOutLongMsg") returns `result` without
  // doing anything; several are used up in order.
  void FailNext(const std::string& call, MmResult result);
  // Each message sent answers kMidiErrStillPlaying to this many unprepare calls first.
  uint32_t stillPlayingCount = 0;
  // What the output answers to midiOutGetLargestMessage; a longer message it refuses with
  // kMmInvalidParameter, unrecorded.
  uint32_t largestMessage = kNoMessageLimit;
  // Called with every message when it is sent, after it is recorded.
  std::function<void(const std::vector<uint8_t>&)> onSend;

  // Hands the queued buffer back holding these bytes (as many as fit; the rest go into the
  // buffers queued next, and are lost if none is). False when no buffer was queued.
  bool Deliver(const std::vector<uint8_t>& bytes);
  // Hands the queued buffer back empty, as a reset does.
  bool DeliverEmpty();
  // Hands the queued buffer back with another message than kMimLongData.
  bool DeliverMessage(uint32_t message);

  std::vector<std::vector<uint8_t>> Sent();
  std::vector<std::string> Calls();
  uint32_t CountCalls(const std::string& call);
  bool BufferQueued();
  bool InputOpen();
  bool OutputOpen();
  HMidiIn OpenInput() { return &input_; }

  uint32_t InGetNumDevs() override;
  MmResult InGetDevCaps(uint32_t device, std::string& name) override;
  MmResult InOpen(HMidiIn* handle, uint32_t device, MidiInProc callback, uintptr_t instance,
                  uint32_t flags) override;
  MmResult InPrepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) override;
  MmResult InUnprepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) override;
  MmResult InAddBuffer(HMidiIn handle, MidiHdr* header, uint32_t size) override;
  MmResult InStart(HMidiIn handle) override;
  MmResult InStop(HMidiIn handle) override;
  MmResult InReset(HMidiIn handle) override;
  MmResult InClose(HMidiIn handle) override;
  uint32_t OutGetNumDevs() override;
  MmResult OutGetDevCaps(uint32_t device, std::string& name) override;
  MmResult OutOpen(HMidiOut* handle, uint32_t device, uintptr_t callback, uintptr_t instance,
                   uint32_t flags) override;
  MmResult OutPrepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) override;
  MmResult OutUnprepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) override;
  MmResult OutLongMsg(HMidiOut handle, MidiHdr* header, uint32_t size) override;
  MmResult OutClose(HMidiOut handle) override;
  MmResult OutGetLargestMessage(HMidiOut handle, uint32_t& largest) override;

  uint32_t openedInputDevice = 0;
  uint32_t openedOutputDevice = 0;

 private:
  // Records the call; true (with result set) when it was scripted to fail.
  bool Scripted(const std::string& call, MmResult& result);
  bool ReturnFront(uint32_t message);

  std::mutex mutex_;
  std::map<std::string, std::deque<MmResult>> failures_;
  std::vector<std::string> calls_;
  std::vector<std::vector<uint8_t>> sent_;
  MidiInDevice input_;
  MidiOutDevice output_;
  bool inputOpen_ = false;
  bool outputOpen_ = false;
  MidiInProc callback_ = nullptr;
  uintptr_t instance_ = 0;
  std::deque<MidiHdr*> queue_;
  uint32_t stillPlayingLeft_ = 0;
};

}  // namespace kfw::test
