// The desktop program's command line, read the same way whichever toolkit draws the window.
#pragma once

#include <string>
#include <vector>

namespace kfw {

struct ProgramOptions {
  bool trace = false;      // "-log" anywhere: the trace of every message sent and received
  bool simulator = false;  // "--simulator", or KFW_SIMULATOR=1: the simulated QX-412 is listed
  bool fast = false;       // "--fast": each wait ends as soon as what it waits for has happened
};

// `arguments` without the program's own name, as UTF-8. Words the program does not know are left
// to the toolkit (Qt takes its own options from the same command line) and do not stop it.
ProgramOptions ReadProgramOptions(const std::vector<std::string>& arguments);

}  // namespace kfw
