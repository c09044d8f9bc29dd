#include "sim/link.h"

#include <algorithm>

namespace kfw {

class SimulatedPortBackend::Input final : public InputConnection {
 public:
  explicit Input(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  ~Input() override {
    // Waits for a delivery in progress: none reaches the sink after this.
    std::lock_guard lock(shared_->mutex);
    shared_->sink = nullptr;
  }

 private:
  std::shared_ptr<Shared> shared_;
};

class SimulatedPortBackend::Output final : public OutputConnection {
 public:
  explicit Output(SimulatedPortBackend& backend) : backend_(backend) {}

  MmResult Send(const uint8_t* bytes, uint32_t length) override {
    if (length > LargestMessage()) return kMmInvalidParameter;
    const uint64_t arrival = backend_.SendToModule(bytes, length);
    std::lock_guard lock(mutex_);
    lastArrival_ = std::max(lastArrival_, arrival);
    return kMmNoError;
  }

  bool Drained() override {
    std::lock_guard lock(mutex_);
    return backend_.timeline_.NowMicroseconds() >= lastArrival_;
  }

  // The instant is known: the arrival of the last byte sent. In virtual time the notice is an
  // action of the timeline, so that a wait for it advances the clock to that instant.
  void WhenDrained(std::function<void()> done) override {
    uint64_t at;
    {
      std::lock_guard lock(mutex_);
      at = lastArrival_;
    }
    backend_.timeline_.At(at, std::move(done));
  }

  uint32_t LargestMessage() const override { return backend_.settings_.largestMessage; }

 private:
  SimulatedPortBackend& backend_;
  std::mutex mutex_;
  uint64_t lastArrival_ = 0;
};

uint64_t LinkWire::ToModule(uint64_t now, uint64_t count) {
  const uint64_t start = now > toModuleFreeAt_ ? now : toModuleFreeAt_;
  toModuleFreeAt_ = start + count * byteMicros_;
  return toModuleFreeAt_;
}

uint64_t LinkWire::ToHost(uint64_t ready, uint64_t count) {
  toHostFreeAt_ = StartToHost(ready) + count * byteMicros_;
  return toHostFreeAt_;
}

PacedModule::PacedModule(SimulatedModule& module, Timeline& timeline, uint32_t baud, Write write)
    : module_(module), timeline_(timeline), write_(std::move(write)), wire_(baud) {
  module_.SetEmitter([this](std::vector<uint8_t> bytes, uint64_t delayMicros) {
    uint64_t at;
    {
      std::lock_guard lock(mutex_);
      at = wire_.ToHost(timeline_.NowMicroseconds() + delayMicros, bytes.size());
    }
    timeline_.At(at, [write = write_, bytes = std::move(bytes)] { write(bytes); });
  });
}

PacedModule::~PacedModule() {
  // The emitter runs only under the module's lock, so once it is cleared nothing calls us.
  module_.SetEmitter(nullptr);
}

void PacedModule::Receive(const uint8_t* bytes, size_t count) {
  uint64_t arrival;
  {
    std::lock_guard lock(mutex_);
    arrival = wire_.ToModule(timeline_.NowMicroseconds(), count);
  }
  std::vector<uint8_t> copy(bytes, bytes + count);
  SimulatedModule* module = &module_;
  timeline_.At(arrival,
               [module, copy = std::move(copy)] { module->Receive(copy.data(), copy.size()); });
}

SimulatedPortBackend::SimulatedPortBackend(SimulatedModule& module, Timeline& timeline,
                                           LinkSettings settings)
    : module_(module),
      timeline_(timeline),
      settings_(settings),
      shared_(std::make_shared<Shared>()),
      wire_(settings.baud) {
  module_.SetEmitter([this](std::vector<uint8_t> bytes, uint64_t delayMicros) {
    SendToHost(std::move(bytes), delayMicros);
  });
}

SimulatedPortBackend::~SimulatedPortBackend() {
  // The emitter runs only under the module's lock, so once it is cleared nothing calls us.
  module_.SetEmitter(nullptr);
  std::lock_guard lock(shared_->mutex);
  shared_->alive = false;
  shared_->sink = nullptr;
}

void SimulatedPortBackend::ListPorts(std::vector<std::string>& inputs,
                                     std::vector<std::string>& outputs) {
  inputs.push_back(kSimulatedPortName);
  outputs.push_back(kSimulatedPortName);
}

MmResult SimulatedPortBackend::OpenInput(const std::string& port, ByteSink sink,
                                         std::unique_ptr<InputConnection>& connection) {
  if (port != kSimulatedPortName) return kMmBadDeviceId;
  std::lock_guard lock(shared_->mutex);
  if (shared_->sink) return kMmAllocated;
  shared_->sink = std::move(sink);
  connection = std::make_unique<Input>(shared_);
  return kMmNoError;
}

MmResult SimulatedPortBackend::OpenOutput(const std::string& port,
                                          std::unique_ptr<OutputConnection>& connection) {
  if (port != kSimulatedPortName) return kMmBadDeviceId;
  connection = std::make_unique<Output>(*this);
  return kMmNoError;
}

uint64_t SimulatedPortBackend::SendToModule(const uint8_t* bytes, uint32_t length) {
  uint64_t arrival;
  {
    std::lock_guard lock(wireMutex_);
    arrival = wire_.ToModule(timeline_.NowMicroseconds(), length);
    bytesToModule_ += length;
  }
  std::vector<uint8_t> copy(bytes, bytes + length);
  SimulatedModule* module = &module_;
  timeline_.At(arrival, [module, copy = std::move(copy)] { module->Receive(copy.data(), copy.size()); });
  return arrival;
}

void SimulatedPortBackend::SendToHost(std::vector<uint8_t> bytes, uint64_t delayMicros) {
  std::lock_guard lock(wireMutex_);
  const uint64_t byteMicros = wire_.ByteMicros();
  const uint64_t ready = timeline_.NowMicroseconds() + delayMicros;
  bytesToHost_ += bytes.size();
  auto deliver = [shared = shared_](std::vector<uint8_t> chunk) {
    std::lock_guard sinkLock(shared->mutex);
    if (shared->alive && shared->sink) shared->sink(chunk.data(), chunk.size());
  };
  if (settings_.deliveryChunk == 0) {
    const uint64_t at = wire_.ToHost(ready, bytes.size());
    timeline_.At(at, [deliver, bytes = std::move(bytes)]() mutable { deliver(std::move(bytes)); });
    return;
  }
  const uint64_t start = wire_.StartToHost(ready);
  for (size_t offset = 0; offset < bytes.size(); offset += settings_.deliveryChunk) {
    const size_t end = std::min(bytes.size(), offset + settings_.deliveryChunk);
    uint64_t when = start + end * byteMicros;
    if (anyChunkScheduled_ && when < lastDeliveryAt_ + settings_.chunkSpacingMicros) {
      when = lastDeliveryAt_ + settings_.chunkSpacingMicros;
    }
    lastDeliveryAt_ = when;
    anyChunkScheduled_ = true;
    std::vector<uint8_t> chunk(bytes.begin() + static_cast<long>(offset), bytes.begin() + static_cast<long>(end));
    timeline_.At(when, [deliver, chunk = std::move(chunk)]() mutable { deliver(std::move(chunk)); });
  }
  wire_.HostLineTakenUntil(std::max(start + bytes.size() * byteMicros, lastDeliveryAt_));
}

uint64_t SimulatedPortBackend::BytesToModule() {
  std::lock_guard lock(wireMutex_);
  return bytesToModule_;
}

uint64_t SimulatedPortBackend::BytesToHost() {
  std::lock_guard lock(wireMutex_);
  return bytesToHost_;
}

}  // namespace kfw
