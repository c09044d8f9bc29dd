#include "midi/device.h"

#include <atomic>

namespace kfw {

namespace {

// Stands in when no layer is installed: no devices, every call fails.
class NoDevices final : public MidiDeviceLayer {
 public:
  uint32_t InGetNumDevs() override { return 0; }
  MmResult InGetDevCaps(uint32_t, std::string&) override { return kMmBadDeviceId; }
  MmResult InOpen(HMidiIn*, uint32_t, MidiInProc, uintptr_t, uint32_t) override {
    return kMmBadDeviceId;
  }
  MmResult InPrepareHeader(HMidiIn, MidiHdr*, uint32_t) override { return kMmInvalidHandle; }
  MmResult InUnprepareHeader(HMidiIn, MidiHdr*, uint32_t) override { return kMmInvalidHandle; }
  MmResult InAddBuffer(HMidiIn, MidiHdr*, uint32_t) override { return kMmInvalidHandle; }
  MmResult InStart(HMidiIn) override { return kMmInvalidHandle; }
  MmResult InStop(HMidiIn) override { return kMmInvalidHandle; }
  MmResult InReset(HMidiIn) override { return kMmInvalidHandle; }
  MmResult InClose(HMidiIn) override { return kMmInvalidHandle; }
  uint32_t OutGetNumDevs() override { return 0; }
  MmResult OutGetDevCaps(uint32_t, std::string&) override { return kMmBadDeviceId; }
  MmResult OutOpen(HMidiOut*, uint32_t, uintptr_t, uintptr_t, uint32_t) override {
    return kMmBadDeviceId;
  }
  MmResult OutPrepareHeader(HMidiOut, MidiHdr*, uint32_t) override { return kMmInvalidHandle; }
  MmResult OutUnprepareHeader(HMidiOut, MidiHdr*, uint32_t) override { return kMmInvalidHandle; }
  MmResult OutLongMsg(HMidiOut, MidiHdr*, uint32_t) override { return kMmInvalidHandle; }
  MmResult OutClose(HMidiOut) override { return kMmInvalidHandle; }
  MmResult OutGetLargestMessage(HMidiOut, uint32_t&) override { return kMmInvalidHandle; }
};

NoDevices noDevices;
std::atomic<MidiDeviceLayer*> installedLayer{nullptr};

}  // namespace

void InstallMidiDeviceLayer(MidiDeviceLayer* layer) {
  installedLayer.store(layer, std::memory_order_release);
}

MidiDeviceLayer& CurrentMidiDeviceLayer() {
  MidiDeviceLayer* layer = installedLayer.load(std::memory_order_acquire);
  return layer ? *layer : noDevices;
}

uint32_t MidiInGetNumDevs() { return CurrentMidiDeviceLayer().InGetNumDevs(); }
MmResult MidiInGetDevCaps(uint32_t device, std::string& name) {
  return CurrentMidiDeviceLayer().InGetDevCaps(device, name);
}
MmResult MidiInOpen(HMidiIn* handle, uint32_t device, MidiInProc callback, uintptr_t instance,
                    uint32_t flags) {
  return CurrentMidiDeviceLayer().InOpen(handle, device, callback, instance, flags);
}
MmResult MidiInPrepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) {
  return CurrentMidiDeviceLayer().InPrepareHeader(handle, header, size);
}
MmResult MidiInUnprepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) {
  return CurrentMidiDeviceLayer().InUnprepareHeader(handle, header, size);
}
MmResult MidiInAddBuffer(HMidiIn handle, MidiHdr* header, uint32_t size) {
  return CurrentMidiDeviceLayer().InAddBuffer(handle, header, size);
}
MmResult MidiInStart(HMidiIn handle) { return CurrentMidiDeviceLayer().InStart(handle); }
MmResult MidiInStop(HMidiIn handle) { return CurrentMidiDeviceLayer().InStop(handle); }
MmResult MidiInReset(HMidiIn handle) { return CurrentMidiDeviceLayer().InReset(handle); }
MmResult MidiInClose(HMidiIn handle) { return CurrentMidiDeviceLayer().InClose(handle); }
uint32_t MidiOutGetNumDevs() { return CurrentMidiDeviceLayer().OutGetNumDevs(); }
MmResult MidiOutGetDevCaps(uint32_t device, std::string& name) {
  return CurrentMidiDeviceLayer().OutGetDevCaps(device, name);
}
MmResult MidiOutOpen(HMidiOut* handle, uint32_t device, uintptr_t callback, uintptr_t instance,
                     uint32_t flags) {
  return CurrentMidiDeviceLayer().OutOpen(handle, device, callback, instance, flags);
}
MmResult MidiOutPrepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) {
  return CurrentMidiDeviceLayer().OutPrepareHeader(handle, header, size);
}
MmResult MidiOutUnprepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) {
  return CurrentMidiDeviceLayer().OutUnprepareHeader(handle, header, size);
}
MmResult MidiOutLongMsg(HMidiOut handle, MidiHdr* header, uint32_t size) {
  return CurrentMidiDeviceLayer().OutLongMsg(handle, header, size);
}
MmResult MidiOutClose(HMidiOut handle) { return CurrentMidiDeviceLayer().OutClose(handle); }
MmResult MidiOutGetLargestMessage(HMidiOut handle, uint32_t& largest) {
  return CurrentMidiDeviceLayer().OutGetLargestMessage(handle, largest);
}

}  // namespace kfw
