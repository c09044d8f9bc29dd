// The simulated module as a pair of ports in a running program ("Receive from" and "Transmit
// to"), in real time, for people who want to try the program without hardware.
#pragma once

#include <memory>

#include "midi/port_layer.h"
#include "sim/link.h"
#include "sim/module.h"

namespace kfw {

struct SimulatedPortsOptions {
  ModuleIdentity identity;
  ModuleFaults faults;
  ModuleTiming timing;
  LinkSettings link;
};

// A module that answers at once: no wire time, short work. For the programs and tests that are
// about the windows rather than the timing (the screenshot program, the window tests).
SimulatedPortsOptions QuickSimulatedPorts(const ModuleIdentity& identity = {});

// A backend that owns its module and real-time timeline; listed as kSimulatedPortName.
class SimulatedModulePorts final : public PortBackend {
 public:
  explicit SimulatedModulePorts(const SimulatedPortsOptions& options = {});
  ~SimulatedModulePorts() override;

  SimulatedModule& module() { return *module_; }

  std::string Name() const override { return backend_->Name(); }
  void ListPorts(std::vector<std::string>& inputs, std::vector<std::string>& outputs) override {
    backend_->ListPorts(inputs, outputs);
  }
  MmResult OpenInput(const std::string& port, ByteSink sink,
                     std::unique_ptr<InputConnection>& connection) override {
    return backend_->OpenInput(port, std::move(sink), connection);
  }
  MmResult OpenOutput(const std::string& port,
                      std::unique_ptr<OutputConnection>& connection) override {
    return backend_->OpenOutput(port, connection);
  }
  bool ReturnsBufferPerDelivery() const override { return backend_->ReturnsBufferPerDelivery(); }

 private:
  // Destroyed in reverse order: the link first, then the timeline (which drops what is pending),
  // then the module the pending actions pointed at.
  std::unique_ptr<SimulatedModule> module_;
  std::unique_ptr<RealTimeline> timeline_;
  std::unique_ptr<SimulatedPortBackend> backend_;
};

}  // namespace kfw
