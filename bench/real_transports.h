// The benchmark's real-time runs: the same update in wall-clock time over real transports (a
// private JACK server, a pseudo-terminal), with the simulated module in a process of its own
// (kfwupdate simulate) pacing the link at the given baud rate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kfw::bench {

struct RealRun {
  std::string transport;  // "JACK", "pseudo-terminal"
  std::string detail;     // what the transport adds, e.g. JACK's period
  bool fast = false;
  bool ran = false;
  std::string why;         // why it did not run, or how it failed
  double seconds = 0;      // the update, Connect to the final reset, in wall-clock time
  double waitSeconds = 0;  // of which the procedures spent waiting in the clock
};

// Runs `file` (an image for the simulated module's default identity) once in each mode on each
// transport that can be had here; a transport that cannot gives runs with ran false and the
// reason. `program` is kfwupdate, whose `simulate` plays the module.
std::vector<RealRun> RunOverRealTransports(const std::string& program,
                                           const std::vector<uint8_t>& file, uint32_t baud);

}  // namespace kfw::bench
