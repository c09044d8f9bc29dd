// What the engine tests share: image data the module can carry, a timed log of what the simulated
// module acted on (with hooks to act at an exact point of a procedure), and a question box that
// notes whether a progress window was showing when it was asked.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "image/report.h"
#include "protocol/device_status.h"
#include "sim/link.h"
#include "sim/module.h"
#include "tests/support/sim_rig.h"

namespace kfw::test {

// length bytes of 7-bit data (SysEx carries nothing higher), varied so that a byte out of place
// or a block sent twice shows in the programmed image.
std::vector<uint8_t> ImageData(size_t length, uint8_t seed = 0);

// Replies delivered 16 bytes at a time, more than a tick apart, so that a reader takes a reply
// longer than the 49-byte reply ring whole instead of only its last 49 bytes.
LinkSettings ChunkedLink();

// RunUpdate over a whole file.
ResultCode Update(const std::vector<uint8_t>& file, DeviceInfo& device);

// One command the module acted on, at the virtual instant it did, with a short name: "R2" reset
// with argument 2, "S" get status, "P0" prepare area with argument 0, "B3" data block 3, "F4" final
// (empty) block numbered 4.
struct SeenCommand {
  ModuleEvent event;
  uint64_t at = 0;
  std::string name;
};

// Installs itself as the module's observer for its lifetime.
class ModuleWatch {
 public:
  explicit ModuleWatch(SimRig& rig);
  ~ModuleWatch();
  ModuleWatch(const ModuleWatch&) = delete;
  ModuleWatch& operator=(const ModuleWatch&) = delete;

  // Runs action once, right after the first command for which when() holds has been logged. It
  // runs under the module's lock on the thread that advances virtual time, so it may change the
  // module's faults, schedule on rig.time or RequestCancel, but not wait.
  void Once(std::function<bool(const SeenCommand&)> when, std::function<void()> action);
  // The same, for the first command of that name.
  void Once(const std::string& name, std::function<void()> action);

  std::vector<SeenCommand> Seen();
  // The names in order, joined with spaces: "R2 S P0 B0 F1 S R0".
  std::string Names();
  std::string LastName();
  // The instants of every command of that name.
  std::vector<uint64_t> TimesOf(const std::string& name);
  size_t Count(const std::string& name);

 private:
  struct Trigger {
    std::function<bool(const SeenCommand&)> when;
    std::function<void()> action;
    bool fired = false;
  };
  SimRig& rig_;
  // Recursive: a trigger's condition may look at the log while it is being checked.
  std::recursive_mutex mutex_;
  std::vector<SeenCommand> seen_;
  std::vector<Trigger> triggers_;
};

// Schedules RequestCancel at a virtual instant and remembers when it came.
class CancelAt {
 public:
  CancelAt(SimRig& rig, uint64_t when);
  uint64_t when() const { return when_; }

 private:
  uint64_t when_;
};

// Answers questions from a fixed answer and notes, for each, whether a progress window was open.
class AnsweringBoxes final : public MessageBoxes {
 public:
  explicit AnsweringBoxes(bool answer) : answer_(answer) { InstallMessageBoxes(this); }
  ~AnsweringBoxes() override { InstallMessageBoxes(nullptr); }

  void ShowError(const std::string& text) override { errors.push_back(text); }
  bool AskYesNo(const std::string& text) override;
  void ShowFatal(const std::string& text) override;

  std::vector<std::string> questions;
  std::vector<bool> progressOpenAtQuestion;
  std::vector<std::string> errors;

 private:
  bool answer_;
};

}  // namespace kfw::test
