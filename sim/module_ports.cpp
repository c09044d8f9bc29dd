#include "sim/module_ports.h"

namespace kfw {

SimulatedModulePorts::SimulatedModulePorts(const SimulatedPortsOptions& options)
    : module_(std::make_unique<SimulatedModule>(options.identity, options.faults, options.timing)),
      timeline_(std::make_unique<RealTimeline>()),
      backend_(std::make_unique<SimulatedPortBackend>(*module_, *timeline_, options.link)) {}

SimulatedModulePorts::~SimulatedModulePorts() {
  backend_.reset();
  timeline_.reset();
  module_.reset();
}

}  // namespace kfw
