// The simulated module on the simulated link, behind the port layer, in virtual time: what the
// engine tests and the benchmark drive the procedures against.
#pragma once

#include <memory>

#include "midi/port_layer.h"
#include "sim/link.h"
#include "sim/module.h"
#include "sim/timeline.h"

namespace kfw::test {

struct SimRigOptions {
  ModuleIdentity identity;
  ModuleFaults faults;
  ModuleTiming timing;
  LinkSettings link;
};

class SimRig {
 public:
  // Installs virtual time as the clock and the port layer as the device layer, and opens the
  // simulated ports with OpenPorts.
  explicit SimRig(const SimRigOptions& options = {});
  // Closes the ports and uninstalls the clock and the layer.
  ~SimRig();

  VirtualTime time;
  SimulatedModule module;
  // Virtual microseconds since the rig was made.
  uint64_t Now() { return time.NowMicroseconds(); }

  SimulatedPortBackend& backend() { return *backend_; }
  bool opened() const { return opened_; }

 private:
  SimulatedPortBackend* backend_;
  std::unique_ptr<PortsDeviceLayer> layer_;
  bool opened_ = false;
};

}  // namespace kfw::test
