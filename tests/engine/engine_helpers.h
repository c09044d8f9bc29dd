// What the engine tests share: image data the module can carry, and a timed log of the commands
// the simulated module acted on, with hooks to act at an exact point of a procedure.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim/module.h"
#include "tests/support/sim_rig.h"

namespace kfw::test {

// length bytes of 7-bit data (SysEx carries nothing higher), varied so that a byte out of place
// or a block sent twice shows in the programmed image.
inline std::vector<uint8_t> ImageData(size_t length, uint8_t seed = 0) {
  std::vector<uint8_t> data(length);
  for (size_t i = 0; i < length; ++i) {
    data[i] = static_cast<uint8_t>((i * 7 + i / 128 + seed) & 0x7F);
  }
  return data;
}

// One command the module acted on, at the virtual instant it did, with a short name: "R2" reset
// with argument 2, "S" get status, "P0" prepare area with argument 0, "B3" data block 3, "F4" final
// (empty) block numbered 4.
struct SeenCommand {
  ModuleEvent event;
  uint64_t at = 0;
  std::string name;
};

// Installs itself as the module's observer for its lifetime. In virtual time the module acts on
// the thread that sleeps, the test's own, so nothing here needs a lock.
class ModuleWatch {
 public:
  explicit ModuleWatch(SimRig& rig) : rig_(rig) {
    rig_.module.SetObserver([this](const ModuleEvent& event) { Log(event); });
  }
  ~ModuleWatch() { rig_.module.SetObserver(nullptr); }
  ModuleWatch(const ModuleWatch&) = delete;
  ModuleWatch& operator=(const ModuleWatch&) = delete;

  // Runs action once, right after the first command of that name has been logged (its reply, if
  // any, has left by then): it may change the module's faults, schedule on rig.time or
  // RequestCancel, but not wait.
  void Once(const std::string& name, std::function<void()> action) {
    pending_.emplace_back(name, std::move(action));
  }

  const std::vector<SeenCommand>& Seen() const { return seen_; }
  // The names in order, joined with spaces: "R2 S P0 B0 F1 S R0".
  std::string Names() const {
    std::string names;
    for (const SeenCommand& seen : seen_) names += (names.empty() ? "" : " ") + seen.name;
    return names;
  }
  // The instants of every command of that name.
  std::vector<uint64_t> TimesOf(const std::string& name) const {
    std::vector<uint64_t> times;
    for (const SeenCommand& seen : seen_) {
      if (seen.name == name) times.push_back(seen.at);
    }
    return times;
  }

 private:
  void Log(const ModuleEvent& e) {
    std::string name = (e.command == 0x10 ? "R" : "P") + std::to_string(e.argument);
    if (e.command == 0x11) name = "S";
    if (e.command == 0x15) name = (e.blockLength ? "B" : "F") + std::to_string(e.blockNumber);
    seen_.push_back({e, rig_.Now(), name});
    // Taken out before any runs: an action may set up another.
    std::vector<std::function<void()>> due;
    std::erase_if(pending_, [&](auto& trigger) {
      if (trigger.first == name) due.push_back(std::move(trigger.second));
      return trigger.first == name;
    });
    for (auto& action : due) action();
  }

  SimRig& rig_;
  std::vector<SeenCommand> seen_;
  std::vector<std::pair<std::string, std::function<void()>>> pending_;
};

}  // namespace kfw::test
