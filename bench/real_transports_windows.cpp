// On Windows the simulated module has no peer on real ports (it needs JACK or a pseudo-terminal):
// the real-time runs are skipped with the reason.
#include "bench/real_transports.h"

namespace kfw::bench {

std::vector<RealRun> RunOverRealTransports(const std::string&, const std::vector<uint8_t>&,
                                           uint32_t) {
  std::vector<RealRun> runs;
  for (const char* transport : {"JACK", "pseudo-terminal"}) {
    for (bool fast : {false, true}) {
      RealRun run;
      run.transport = transport;
      run.fast = fast;
      run.why = "the simulated module runs on real ports only on Linux";
      runs.push_back(run);
    }
  }
  return runs;
}

}  // namespace kfw::bench
