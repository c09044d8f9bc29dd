// One device layer made of several: the devices of the first part, then those of the next, in one
// numbering as WinMM gives it, and every handle sent back to the part that opened it. On Windows it
// puts the simulated module's ports after WinMM's devices.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/device.h"

namespace kfw {

class CombinedDeviceLayer final : public MidiDeviceLayer {
 public:
  explicit CombinedDeviceLayer(std::vector<std::unique_ptr<MidiDeviceLayer>> parts);

  // The sum of the parts' counts. Each count is kept until the next count query, and device
  // numbers are told apart by the kept counts: a part that gains or loses a device meanwhile (a
  // MIDI interface plugged in) does not move the devices of the parts after it onto other numbers
  // under a list already shown.
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

 private:
  struct Direction {
    std::vector<uint32_t> counts;  // per part, as last counted; empty before the first count
    std::map<const void*, MidiDeviceLayer*> owners;  // open handles and the parts that made them
  };
  uint32_t Count(Direction& direction, uint32_t (MidiDeviceLayer::*count)());
  // The part that holds `device`, with `device` made its number there; nullptr if none does.
  MidiDeviceLayer* PartOf(Direction& direction, uint32_t (MidiDeviceLayer::*count)(),
                          uint32_t& device);
  MidiDeviceLayer* OwnerOf(Direction& direction, const void* handle);
  void Opened(Direction& direction, const void* handle, MidiDeviceLayer* part);
  void Closed(Direction& direction, const void* handle);

  std::vector<std::unique_ptr<MidiDeviceLayer>> parts_;
  // Guards both directions. Never held while a part is called: a part's close may wait for its
  // driver thread, which may be inside the program's callback, queuing a buffer through us.
  std::mutex mutex_;
  Direction inputs_;
  Direction outputs_;
};

}  // namespace kfw
