// Choosing ports from the command line: the device layer with the backends asked for, the two lists
// filled as the window fills them, and PORT words resolved to list positions.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/front_end_seams.h"
#include "midi/device.h"

namespace kfw::cli {

class PortChoice {
 public:
  // Builds and installs the device layer: the system backends, every PORT word that is a path as a
  // raw device, and the simulated module when withSimulator is set or a PORT word names it ("sim",
  // "simulator" or its full name). Then fills the lists; false (after the message) when there is
  // no input or no output port at all. The layer stays installed until the choice goes, which
  // closes the ports first. (The boxes and the progress window are the command's front end.)
  bool SetUp(bool withSimulator, const std::vector<std::string>& portWords);

  // PORT: a list position as `kfwupdate ports` shows it, a port's name, a raw device path, or a
  // unique part of a name (case does not matter). False with the reason in error.
  bool ResolveInput(const std::string& word, int32_t& position, std::string& error) const;
  bool ResolveOutput(const std::string& word, int32_t& position, std::string& error) const;

 private:
  std::unique_ptr<MidiDeviceLayer> layer_;
  // After the layer, so that it goes first.
  std::optional<InstalledSeams> seams_;
};

bool NamesSimulator(const std::string& word);

// False, with the reason in error, for a PORT word that could name no port whatever the lists
// hold: an empty one (as a part of a name it would match them all), or digits too many for a list
// position. A usage error, told before any port is looked at.
bool PortWordReadable(const std::string& word, std::string& error);

}  // namespace kfw::cli
