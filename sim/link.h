// The simulated module behind the device layer: one input port ("Receive from") and one output
// port ("Transmit to"), joined to a SimulatedModule by a modelled MIDI link.
//
// The link: each direction carries one byte at a time, 320 microseconds a byte at 31250 baud (10
// bits a byte), or instantly when unlimited, as over USB. A message sent by the program counts as
// drained when its last byte has reached the module. Replies reach the program's driver in
// deliveries: by default a whole message at once when its F7 has arrived; with deliveryChunk set,
// every deliveryChunk bytes, at least chunkSpacingMicros apart, and the driver then hands each
// delivery back as a buffer of its own, as slow or packet-based drivers do. With largestMessage
// set, the output refuses longer messages, as JACK's does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/port_layer.h"
#include "sim/module.h"
#include "sim/timeline.h"

namespace kfw {

struct LinkSettings {
  uint32_t baud = 31250;  // 0: unlimited
  uint32_t deliveryChunk = 0;  // 0: whole messages
  uint64_t chunkSpacingMicros = 0;
  uint32_t largestMessage = kNoMessageLimit;  // F0 to F7, host to module
};

inline constexpr const char* kSimulatedPortName = "Simulated QX-412";

// The wire of the modelled link: each direction carries one byte at a time, 10 bits a byte at
// `baud` (0: at once), and bytes queue behind those still on their way. Not locked: its owner is.
class LinkWire {
 public:
  explicit LinkWire(uint32_t baud) : byteMicros_(baud ? 10'000'000ull / baud : 0) {}

  uint64_t ByteMicros() const { return byteMicros_; }
  // `count` bytes the host starts sending at `now`: the instant the last reaches the module.
  uint64_t ToModule(uint64_t now, uint64_t count);
  // The instant the module's bytes, ready at `ready`, start on their way to the host, and the
  // instant the line to the host is taken until.
  uint64_t StartToHost(uint64_t ready) const {
    return ready > toHostFreeAt_ ? ready : toHostFreeAt_;
  }
  void HostLineTakenUntil(uint64_t when) { toHostFreeAt_ = when; }
  // `count` bytes the module has ready at `ready`: the instant the last reaches the host.
  uint64_t ToHost(uint64_t ready, uint64_t count);

 private:
  uint64_t byteMicros_;
  uint64_t toModuleFreeAt_ = 0;
  uint64_t toHostFreeAt_ = 0;
};

// The simulated module at the far end of a transport that carries bytes at once (a pseudo-terminal,
// JACK), behind a modelled wire: it acts on what it receives when the last byte would have arrived
// over the wire, and hands each reply to the transport when its last byte would have reached the
// host. So a peer on real ports paces an update as the simulated link does.
class PacedModule {
 public:
  using Write = std::function<void(const std::vector<uint8_t>& bytes)>;
  // module and timeline must outlive it; write runs on the timeline's thread.
  PacedModule(SimulatedModule& module, Timeline& timeline, uint32_t baud, Write write);
  // The module emits no more through it once this has returned.
  ~PacedModule();

  // Bytes from the transport, received now.
  void Receive(const uint8_t* bytes, size_t count);

 private:
  SimulatedModule& module_;
  Timeline& timeline_;
  Write write_;
  std::mutex mutex_;
  LinkWire wire_;
};

class SimulatedPortBackend final : public PortBackend {
 public:
  // module and timeline must outlive the backend and every port opened from it.
  SimulatedPortBackend(SimulatedModule& module, Timeline& timeline, LinkSettings settings = {});
  ~SimulatedPortBackend() override;

  std::string Name() const override { return "simulator"; }
  void ListPorts(std::vector<std::string>& inputs, std::vector<std::string>& outputs) override;
  MmResult OpenInput(const std::string& port, ByteSink sink,
                     std::unique_ptr<InputConnection>& connection) override;
  MmResult OpenOutput(const std::string& port,
                      std::unique_ptr<OutputConnection>& connection) override;
  bool ReturnsBufferPerDelivery() const override { return settings_.deliveryChunk != 0; }

  // Bytes the program has sent, in all; for the benchmark's figures.
  uint64_t BytesToModule();
  uint64_t BytesToHost();

 private:
  class Input;
  class Output;
  friend class Input;
  friend class Output;

  // Host to module: returns the instant the last byte arrives.
  uint64_t SendToModule(const uint8_t* bytes, uint32_t length);
  // Module to host, after delayMicros of the module's work.
  void SendToHost(std::vector<uint8_t> bytes, uint64_t delayMicros);
  void DeliverToHost(std::vector<uint8_t> bytes);

  SimulatedModule& module_;
  Timeline& timeline_;
  LinkSettings settings_;
  // Shared with the actions in the timeline, which may outlive a port.
  struct Shared {
    std::mutex mutex;
    ByteSink sink;  // the open input, if any
    bool alive = true;
  };
  std::shared_ptr<Shared> shared_;
  std::mutex wireMutex_;
  LinkWire wire_;
  uint64_t lastDeliveryAt_ = 0;
  bool anyChunkScheduled_ = false;  // lastDeliveryAt_ holds an instant (0 is one, too)
  uint64_t bytesToModule_ = 0;
  uint64_t bytesToHost_ = 0;
};

}  // namespace kfw
