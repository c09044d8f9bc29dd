#include "midi/combined_layer.h"

namespace kfw {

CombinedDeviceLayer::CombinedDeviceLayer(std::vector<std::unique_ptr<MidiDeviceLayer>> parts)
    : parts_(std::move(parts)) {}

uint32_t CombinedDeviceLayer::Count(Direction& direction, uint32_t (MidiDeviceLayer::*count)()) {
  std::vector<uint32_t> counts;
  uint32_t total = 0;
  for (auto& part : parts_) {
    counts.push_back(((*part).*count)());
    total += counts.back();
  }
  std::lock_guard lock(mutex_);
  direction.counts = std::move(counts);
  return total;
}

MidiDeviceLayer* CombinedDeviceLayer::PartOf(Direction& direction,
                                             uint32_t (MidiDeviceLayer::*count)(),
                                             uint32_t& device) {
  bool counted;
  {
    std::lock_guard lock(mutex_);
    counted = !direction.counts.empty();
  }
  // A caller that asks for a device before counting gets the numbering of now.
  if (!counted) Count(direction, count);
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < parts_.size(); ++i) {
    if (device < direction.counts[i]) return parts_[i].get();
    device -= direction.counts[i];
  }
  return nullptr;
}

MidiDeviceLayer* CombinedDeviceLayer::OwnerOf(Direction& direction, const void* handle) {
  std::lock_guard lock(mutex_);
  auto found = direction.owners.find(handle);
  return found == direction.owners.end() ? nullptr : found->second;
}

void CombinedDeviceLayer::Opened(Direction& direction, const void* handle, MidiDeviceLayer* part) {
  std::lock_guard lock(mutex_);
  direction.owners[handle] = part;
}

void CombinedDeviceLayer::Closed(Direction& direction, const void* handle) {
  std::lock_guard lock(mutex_);
  direction.owners.erase(handle);
}

uint32_t CombinedDeviceLayer::InGetNumDevs() {
  return Count(inputs_, &MidiDeviceLayer::InGetNumDevs);
}

MmResult CombinedDeviceLayer::InGetDevCaps(uint32_t device, std::string& name) {
  MidiDeviceLayer* part = PartOf(inputs_, &MidiDeviceLayer::InGetNumDevs, device);
  return part ? part->InGetDevCaps(device, name) : kMmBadDeviceId;
}

MmResult CombinedDeviceLayer::InOpen(HMidiIn* handle, uint32_t device, MidiInProc callback,
                                     uintptr_t instance, uint32_t flags) {
  if (!handle) return kMmInvalidParameter;
  MidiDeviceLayer* part = PartOf(inputs_, &MidiDeviceLayer::InGetNumDevs, device);
  if (!part) return kMmBadDeviceId;
  // The part's own handle is the program's: its callback passes that one, and the program's
  // queuing of the buffer from inside the callback finds the part by it.
  HMidiIn opened = nullptr;
  const MmResult result = part->InOpen(&opened, device, callback, instance, flags);
  if (result != kMmNoError) return result;
  Opened(inputs_, opened, part);
  *handle = opened;
  return kMmNoError;
}

MmResult CombinedDeviceLayer::InPrepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) {
  MidiDeviceLayer* part = OwnerOf(inputs_, handle);
  return part ? part->InPrepareHeader(handle, header, size) : kMmInvalidHandle;
}

MmResult CombinedDeviceLayer::InUnprepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) {
  MidiDeviceLayer* part = OwnerOf(inputs_, handle);
  return part ? part->InUnprepareHeader(handle, header, size) : kMmInvalidHandle;
}

MmResult CombinedDeviceLayer::InAddBuffer(HMidiIn handle, MidiHdr* header, uint32_t size) {
  MidiDeviceLayer* part = OwnerOf(inputs_, handle);
  return part ? part->InAddBuffer(handle, header, size) : kMmInvalidHandle;
}

MmResult CombinedDeviceLayer::InStart(HMidiIn handle) {
  MidiDeviceLayer* part = OwnerOf(inputs_, handle);
  return part ? part->InStart(handle) : kMmInvalidHandle;
}

MmResult CombinedDeviceLayer::InStop(HMidiIn handle) {
  MidiDeviceLayer* part = OwnerOf(inputs_, handle);
  return part ? part->InStop(handle) : kMmInvalidHandle;
}

MmResult CombinedDeviceLayer::InReset(HMidiIn handle) {
  MidiDeviceLayer* part = OwnerOf(inputs_, handle);
  return part ? part->InReset(handle) : kMmInvalidHandle;
}

MmResult CombinedDeviceLayer::InClose(HMidiIn handle) {
  MidiDeviceLayer* part = OwnerOf(inputs_, handle);
  if (!part) return kMmInvalidHandle;
  const MmResult result = part->InClose(handle);
  // A handle that failed to close is still open, and still the part's.
  if (result == kMmNoError) Closed(inputs_, handle);
  return result;
}

uint32_t CombinedDeviceLayer::OutGetNumDevs() {
  return Count(outputs_, &MidiDeviceLayer::OutGetNumDevs);
}

MmResult CombinedDeviceLayer::OutGetDevCaps(uint32_t device, std::string& name) {
  MidiDeviceLayer* part = PartOf(outputs_, &MidiDeviceLayer::OutGetNumDevs, device);
  return part ? part->OutGetDevCaps(device, name) : kMmBadDeviceId;
}

MmResult CombinedDeviceLayer::OutOpen(HMidiOut* handle, uint32_t device, uintptr_t callback,
                                      uintptr_t instance, uint32_t flags) {
  if (!handle) return kMmInvalidParameter;
  MidiDeviceLayer* part = PartOf(outputs_, &MidiDeviceLayer::OutGetNumDevs, device);
  if (!part) return kMmBadDeviceId;
  HMidiOut opened = nullptr;
  const MmResult result = part->OutOpen(&opened, device, callback, instance, flags);
  if (result != kMmNoError) return result;
  Opened(outputs_, opened, part);
  *handle = opened;
  return kMmNoError;
}

MmResult CombinedDeviceLayer::OutPrepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) {
  MidiDeviceLayer* part = OwnerOf(outputs_, handle);
  return part ? part->OutPrepareHeader(handle, header, size) : kMmInvalidHandle;
}

MmResult CombinedDeviceLayer::OutUnprepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) {
  MidiDeviceLayer* part = OwnerOf(outputs_, handle);
  return part ? part->OutUnprepareHeader(handle, header, size) : kMmInvalidHandle;
}

MmResult CombinedDeviceLayer::OutLongMsg(HMidiOut handle, MidiHdr* header, uint32_t size) {
  MidiDeviceLayer* part = OwnerOf(outputs_, handle);
  return part ? part->OutLongMsg(handle, header, size) : kMmInvalidHandle;
}

MmResult CombinedDeviceLayer::OutClose(HMidiOut handle) {
  MidiDeviceLayer* part = OwnerOf(outputs_, handle);
  if (!part) return kMmInvalidHandle;
  const MmResult result = part->OutClose(handle);
  if (result == kMmNoError) Closed(outputs_, handle);
  return result;
}

MmResult CombinedDeviceLayer::OutGetLargestMessage(HMidiOut handle, uint32_t& largest) {
  MidiDeviceLayer* part = OwnerOf(outputs_, handle);
  return part ? part->OutGetLargestMessage(handle, largest) : kMmInvalidHandle;
}

}  // namespace kfw
