// In the web build the program runs under Node or in a page, which start no processes and have no
// JACK or terminals: the real-time runs are skipped with the reason. The page's own real-time run
// is in headless Chromium (bench/page_bench.py).
#include "bench/real_transports.h"

namespace kfw::bench {

std::vector<RealRun> RunOverRealTransports(const std::string&, const std::vector<uint8_t>&,
                                           uint32_t) {
  std::vector<RealRun> runs;
  for (bool fast : {false, true}) {
    RealRun run;
    run.transport = "JACK, terminal";
    run.fast = fast;
    run.why = "a web build starts no processes; the page's real-time run is bench/page_bench.py";
    runs.push_back(run);
  }
  return runs;
}

}  // namespace kfw::bench
