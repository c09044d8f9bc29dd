#include "sim/module_ports.h"

namespace kfw {

SimulatedPortsOptions QuickSimulatedPorts(const ModuleIdentity& identity) {
  SimulatedPortsOptions quick;
  quick.identity = identity;
  quick.link.baud = 0;
  quick.timing = {.answerMicros = 500, .eraseMicros = 2000, .programBlockMicros = 500};
  return quick;
}

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
