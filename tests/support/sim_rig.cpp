#include "tests/support/sim_rig.h"

#include "base/waiting.h"
#include "midi/ports.h"

namespace kfw::test {

SimRig::SimRig(const SimRigOptions& options)
    : module(options.identity, options.faults, options.timing),
      layer_(std::make_unique<PortsDeviceLayer>()) {
  auto backend = std::make_unique<SimulatedPortBackend>(module, time, options.link);
  backend_ = backend.get();
  layer_->AddBackend(std::move(backend));
  InstallClock(&time);
  InstallMidiDeviceLayer(layer_.get());
  opened_ = OpenPorts(0, 0);
}

SimRig::~SimRig() {
  if (opened_) ClosePorts();
  InstallMidiDeviceLayer(nullptr);
  InstallClock(nullptr);
  layer_.reset();
}

}  // namespace kfw::test
