#include "midi/port_layer.h"

#include <algorithm>

namespace kfw {

namespace {
bool IsRealTime(uint8_t byte) {
  return byte >= 0xF8;
}
bool BreaksSysEx(uint8_t byte) {
  return byte >= 0x80 && byte != 0xF0 && byte != 0xF7;
}
}  // namespace

class PortsDeviceLayer::InputPort final : public MidiInDevice {
 public:
  InputPort(MidiInProc callback, uintptr_t instance, bool returnPerDelivery)
      : callback_(callback), instance_(instance), returnPerDelivery_(returnPerDelivery) {}

  std::unique_ptr<InputConnection> connection;

  // The backend's thread.
  void OnBytes(const uint8_t* bytes, size_t count) {
    std::unique_lock lock(mutex_);
    if (!started_) return;
    ++delivering_;
    deliveringThread_ = std::this_thread::get_id();
    for (size_t i = 0; i < count && started_; ++i) {
      const uint8_t byte = bytes[i];
      if (IsRealTime(byte)) continue;
      bool ends = false;
      if (!inSysEx_) {
        if (byte != 0xF0) continue;
        inSysEx_ = true;
      } else {
        ends = byte == 0xF7 || BreaksSysEx(byte);
      }
      if (ends) inSysEx_ = false;
      // With no buffer queued the byte is lost, as with WinMM.
      if (queue_.empty()) continue;
      MidiHdr* header = queue_.front();
      header->lpData[header->dwBytesRecorded++] = byte;
      if (ends || header->dwBytesRecorded == header->dwBufferLength) ReturnFront(lock);
    }
    if (returnPerDelivery_ && started_ && !queue_.empty() && queue_.front()->dwBytesRecorded > 0) {
      ReturnFront(lock);
    }
    if (--delivering_ == 0) {
      deliveringThread_ = std::thread::id();
      idle_.notify_all();
    }
  }

  MmResult Prepare(MidiHdr* header) {
    std::lock_guard lock(mutex_);
    header->dwFlags |= kMhdrPrepared;
    return kMmNoError;
  }

  MmResult Unprepare(MidiHdr* header) {
    std::lock_guard lock(mutex_);
    if (header->dwFlags & kMhdrInQueue) return kMidiErrStillPlaying;
    header->dwFlags &= ~kMhdrPrepared;
    return kMmNoError;
  }

  MmResult AddBuffer(MidiHdr* header) {
    std::lock_guard lock(mutex_);
    if (!(header->dwFlags & kMhdrPrepared)) return kMidiErrUnprepared;
    if (header->dwFlags & kMhdrInQueue) return kMidiErrStillPlaying;
    if (!header->lpData || header->dwBufferLength == 0) return kMmInvalidParameter;
    header->dwBytesRecorded = 0;
    header->dwFlags = (header->dwFlags & ~kMhdrDone) | kMhdrInQueue;
    queue_.push_back(header);
    return kMmNoError;
  }

  MmResult Start() {
    std::lock_guard lock(mutex_);
    started_ = true;
    return kMmNoError;
  }

  // As WinMM: input stops; a buffer that holds part of a message is handed back, empty ones stay.
  MmResult Stop() {
    std::unique_lock lock(mutex_);
    StopLocked(lock);
    if (!queue_.empty() && queue_.front()->dwBytesRecorded > 0) ReturnFront(lock);
    return kMmNoError;
  }

  // Stops and hands every queued buffer back. A buffer returned with bytes is queued again by the
  // program's callback and then comes back empty on the next round; the bound only guards against
  // a callback that queues whatever it gets.
  MmResult Reset() {
    std::unique_lock lock(mutex_);
    StopLocked(lock);
    for (int rounds = 0; !queue_.empty() && rounds < 64; ++rounds) ReturnFront(lock);
    return kMmNoError;
  }

  bool HasQueuedBuffers() {
    std::lock_guard lock(mutex_);
    return !queue_.empty();
  }

  // After this, no callback runs and none is running (unless called from inside one).
  void Quiesce() {
    std::unique_lock lock(mutex_);
    StopLocked(lock);
  }

 private:
  void StopLocked(std::unique_lock<std::mutex>& lock) {
    started_ = false;
    inSysEx_ = false;
    if (deliveringThread_ != std::this_thread::get_id()) {
      idle_.wait(lock, [this] { return delivering_ == 0; });
    }
  }

  // Hands the front buffer back through the callback, without the lock: the callback queues it
  // again from inside the call.
  void ReturnFront(std::unique_lock<std::mutex>& lock) {
    MidiHdr* header = queue_.front();
    queue_.pop_front();
    header->dwFlags = (header->dwFlags & ~kMhdrInQueue) | kMhdrDone;
    lock.unlock();
    callback_(this, kMimLongData, instance_, reinterpret_cast<uintptr_t>(header), 0);
    lock.lock();
  }

  MidiInProc callback_;
  uintptr_t instance_;
  bool returnPerDelivery_;
  std::mutex mutex_;
  std::condition_variable idle_;
  std::deque<MidiHdr*> queue_;
  bool started_ = false;
  bool inSysEx_ = false;
  int delivering_ = 0;
  std::thread::id deliveringThread_;
};

// The output's callback, shared with the backend's drain notices, which may come after the port
// is closed: they then find it closed. The callback runs under the lock, so that once Close has
// returned none is running or will run.
struct PortsDeviceLayer::DoneNotice {
  std::mutex mutex;
  MidiOutProc callback = nullptr;
  uintptr_t instance = 0;
  HMidiOut handle = nullptr;

  void Done(MidiHdr* header) {
    std::lock_guard lock(mutex);
    if (callback) callback(handle, kMomDone, instance, reinterpret_cast<uintptr_t>(header), 0);
  }
  void Close() {
    std::lock_guard lock(mutex);
    callback = nullptr;
  }
};

class PortsDeviceLayer::OutputPort final : public MidiOutDevice {
 public:
  std::unique_ptr<OutputConnection> connection;
  std::shared_ptr<DoneNotice> notice;  // only when opened with a callback

  MmResult Prepare(MidiHdr* header) {
    std::lock_guard lock(mutex_);
    if (!header->lpData) return kMmInvalidParameter;
    header->dwFlags |= kMhdrPrepared;
    return kMmNoError;
  }

  MmResult Unprepare(MidiHdr* header) {
    std::lock_guard lock(mutex_);
    if (header->dwFlags & kMhdrInQueue) {
      if (!connection->Drained()) return kMidiErrStillPlaying;
      header->dwFlags = (header->dwFlags & ~kMhdrInQueue) | kMhdrDone;
    }
    header->dwFlags &= ~kMhdrPrepared;
    return kMmNoError;
  }

  MmResult LongMsg(MidiHdr* header) {
    std::lock_guard lock(mutex_);
    if (!(header->dwFlags & kMhdrPrepared)) return kMidiErrUnprepared;
    if (header->dwFlags & kMhdrInQueue) return kMidiErrStillPlaying;
    if (header->dwBufferLength == 0) return kMmInvalidParameter;
    const MmResult result = connection->Send(header->lpData, header->dwBufferLength);
    if (result != kMmNoError) return result;
    header->dwFlags = (header->dwFlags & ~kMhdrDone) | kMhdrInQueue;
    if (notice) connection->WhenDrained([notice = notice, header] { notice->Done(header); });
    return kMmNoError;
  }

 private:
  std::mutex mutex_;
};

PortsDeviceLayer::PortsDeviceLayer() = default;

PortsDeviceLayer::~PortsDeviceLayer() {
  // Close whatever the program left open, inputs first so no callback outlives the layer.
  for (auto& port : openInputs_) {
    port->Quiesce();
    port->connection.reset();
  }
  openInputs_.clear();
  openOutputs_.clear();
}

void PortsDeviceLayer::AddBackend(std::unique_ptr<PortBackend> backend) {
  backends_.push_back(std::move(backend));
  scanned_ = false;
}

void PortsDeviceLayer::UsePlatformTexts(std::string noInputs, std::string noOutputs) {
  platformTexts_ = true;
  noInputsText_ = std::move(noInputs);
  noOutputsText_ = std::move(noOutputs);
}

std::string PortsDeviceLayer::NoDevicesText(bool input) {
  if (!platformTexts_) return {};
  return input ? noInputsText_ : noOutputsText_;
}

std::string PortsDeviceLayer::OpenFailureReason() {
  return platformTexts_ ? openFailure_ : std::string();
}

MmResult PortsDeviceLayer::OpenFailed(MmResult result, const PortBackend* backend) {
  openFailure_ = backend ? backend->OpenFailureReason() : std::string();
  if (!openFailure_.empty()) return result;
  // What the code says, where the backend has no words of its own.
  switch (result) {
    case kMmAllocated:
      openFailure_ = "In use by another program, or already open in this one";
      break;
    case kMmBadDeviceId:
      openFailure_ = "No longer there (it was when the list was made)";
      break;
    case kMmNotEnabled:
      openFailure_ = "Permission denied";
      break;
    case kMmNoDriver:
      openFailure_ = "Its MIDI system is not running";
      break;
    case kMmNoMemory:
      openFailure_ = "Out of memory";
      break;
    default:
      openFailure_ = "Refused by its MIDI system (code " + std::to_string(result) + ")";
      break;
  }
  return result;
}

void PortsDeviceLayer::Rescan() {
  inputs_.clear();
  outputs_.clear();
  for (auto& backend : backends_) {
    std::vector<std::string> inputs, outputs;
    backend->ListPorts(inputs, outputs);
    for (auto& name : inputs) inputs_.push_back({backend.get(), std::move(name)});
    for (auto& name : outputs) outputs_.push_back({backend.get(), std::move(name)});
  }
  scanned_ = true;
}

void PortsDeviceLayer::EnsureScanned() {
  if (!scanned_) Rescan();
}

const std::vector<PortsDeviceLayer::Port>& PortsDeviceLayer::Inputs() {
  EnsureScanned();
  return inputs_;
}

const std::vector<PortsDeviceLayer::Port>& PortsDeviceLayer::Outputs() {
  EnsureScanned();
  return outputs_;
}

PortsDeviceLayer::InputPort* PortsDeviceLayer::FindInput(HMidiIn handle) {
  std::lock_guard lock(openMutex_);
  for (auto& port : openInputs_) {
    if (port.get() == handle) return port.get();
  }
  return nullptr;
}

PortsDeviceLayer::OutputPort* PortsDeviceLayer::FindOutput(HMidiOut handle) {
  std::lock_guard lock(openMutex_);
  for (auto& port : openOutputs_) {
    if (port.get() == handle) return port.get();
  }
  return nullptr;
}

uint32_t PortsDeviceLayer::InGetNumDevs() {
  return static_cast<uint32_t>(Inputs().size());
}

MmResult PortsDeviceLayer::InGetDevCaps(uint32_t device, std::string& name) {
  if (device >= Inputs().size()) return kMmBadDeviceId;
  name = inputs_[device].name;
  return kMmNoError;
}

MmResult PortsDeviceLayer::InOpen(HMidiIn* handle, uint32_t device, MidiInProc callback,
                                  uintptr_t instance, uint32_t flags) {
  if (!handle) return OpenFailed(kMmInvalidParameter, nullptr);
  if (device >= Inputs().size()) return OpenFailed(kMmBadDeviceId, nullptr);
  if (flags != kCallbackFunction || !callback) return OpenFailed(kMmInvalidFlag, nullptr);
  const Port& port = inputs_[device];
  auto input =
      std::make_unique<InputPort>(callback, instance, port.backend->ReturnsBufferPerDelivery());
  InputPort* raw = input.get();
  const MmResult result = port.backend->OpenInput(
      port.name, [raw](const uint8_t* bytes, size_t count) { raw->OnBytes(bytes, count); },
      input->connection);
  if (result != kMmNoError) return OpenFailed(result, port.backend);
  {
    std::lock_guard lock(openMutex_);
    openInputs_.push_back(std::move(input));
  }
  *handle = raw;
  return kMmNoError;
}

MmResult PortsDeviceLayer::InPrepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) {
  InputPort* port = FindInput(handle);
  if (!port) return kMmInvalidHandle;
  if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
  return port->Prepare(header);
}

MmResult PortsDeviceLayer::InUnprepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) {
  InputPort* port = FindInput(handle);
  if (!port) return kMmInvalidHandle;
  if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
  return port->Unprepare(header);
}

MmResult PortsDeviceLayer::InAddBuffer(HMidiIn handle, MidiHdr* header, uint32_t size) {
  InputPort* port = FindInput(handle);
  if (!port) return kMmInvalidHandle;
  if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
  return port->AddBuffer(header);
}

MmResult PortsDeviceLayer::InStart(HMidiIn handle) {
  InputPort* port = FindInput(handle);
  return port ? port->Start() : kMmInvalidHandle;
}

MmResult PortsDeviceLayer::InStop(HMidiIn handle) {
  InputPort* port = FindInput(handle);
  return port ? port->Stop() : kMmInvalidHandle;
}

MmResult PortsDeviceLayer::InReset(HMidiIn handle) {
  InputPort* port = FindInput(handle);
  return port ? port->Reset() : kMmInvalidHandle;
}

MmResult PortsDeviceLayer::InClose(HMidiIn handle) {
  InputPort* port = FindInput(handle);
  if (!port) return kMmInvalidHandle;
  // As WinMM: a device with buffers still queued stays open; reset it first.
  if (port->HasQueuedBuffers()) return kMidiErrStillPlaying;
  port->Quiesce();
  // Without openMutex_: the backend's thread may be inside our callback, queuing a buffer, and
  // that needs the handle looked up while we wait for the thread to end.
  port->connection.reset();
  std::lock_guard lock(openMutex_);
  std::erase_if(openInputs_, [port](const auto& open) { return open.get() == port; });
  return kMmNoError;
}

uint32_t PortsDeviceLayer::OutGetNumDevs() {
  return static_cast<uint32_t>(Outputs().size());
}

MmResult PortsDeviceLayer::OutGetDevCaps(uint32_t device, std::string& name) {
  if (device >= Outputs().size()) return kMmBadDeviceId;
  name = outputs_[device].name;
  return kMmNoError;
}

MmResult PortsDeviceLayer::OutOpen(HMidiOut* handle, uint32_t device, uintptr_t callback,
                                   uintptr_t instance, uint32_t flags) {
  if (!handle) return OpenFailed(kMmInvalidParameter, nullptr);
  if (device >= Outputs().size()) return OpenFailed(kMmBadDeviceId, nullptr);
  if (flags != kCallbackNull && (flags != kCallbackFunction || !callback)) {
    return OpenFailed(kMmInvalidFlag, nullptr);
  }
  const Port& port = outputs_[device];
  auto output = std::make_unique<OutputPort>();
  const MmResult result = port.backend->OpenOutput(port.name, output->connection);
  if (result != kMmNoError) return OpenFailed(result, port.backend);
  OutputPort* raw = output.get();
  if (flags == kCallbackFunction) {
    output->notice = std::make_shared<DoneNotice>();
    output->notice->callback = reinterpret_cast<MidiOutProc>(callback);
    output->notice->instance = instance;
    output->notice->handle = raw;
  }
  {
    std::lock_guard lock(openMutex_);
    openOutputs_.push_back(std::move(output));
  }
  *handle = raw;
  return kMmNoError;
}

MmResult PortsDeviceLayer::OutPrepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) {
  OutputPort* port = FindOutput(handle);
  if (!port) return kMmInvalidHandle;
  if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
  return port->Prepare(header);
}

MmResult PortsDeviceLayer::OutUnprepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) {
  OutputPort* port = FindOutput(handle);
  if (!port) return kMmInvalidHandle;
  if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
  return port->Unprepare(header);
}

MmResult PortsDeviceLayer::OutLongMsg(HMidiOut handle, MidiHdr* header, uint32_t size) {
  OutputPort* port = FindOutput(handle);
  if (!port) return kMmInvalidHandle;
  if (!header || size != sizeof(MidiHdr)) return kMmInvalidParameter;
  return port->LongMsg(header);
}

MmResult PortsDeviceLayer::OutGetLargestMessage(HMidiOut handle, uint32_t& largest) {
  OutputPort* port = FindOutput(handle);
  if (!port) return kMmInvalidHandle;
  largest = port->connection->LargestMessage();
  return kMmNoError;
}

MmResult PortsDeviceLayer::OutClose(HMidiOut handle) {
  std::unique_ptr<OutputPort> closing;
  {
    std::lock_guard lock(openMutex_);
    auto it = std::find_if(openOutputs_.begin(), openOutputs_.end(),
                           [handle](const auto& open) { return open.get() == handle; });
    if (it == openOutputs_.end()) return kMmInvalidHandle;
    closing = std::move(*it);
    openOutputs_.erase(it);
  }
  // No done notice after the close; the connection drains what was sent before it closes the
  // port.
  if (closing->notice) closing->notice->Close();
  closing.reset();
  return kMmNoError;
}

}  // namespace kfw
