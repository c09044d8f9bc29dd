#include <cstdio>

#include "cli/commands.h"
#include "cli/common.h"
#include "cli/exit_status.h"
#include "cli/port_choice.h"
#include "midi/ports.h"

namespace kfw::cli {

namespace {
void PrintList(const char* title, const std::vector<std::string>& names) {
  std::printf("%s:\n  0  %s\n", title, kChooseAPort);
  for (size_t i = 0; i < names.size(); ++i) std::printf("  %zu  %s\n", i + 1, names[i].c_str());
}
}  // namespace

int RunPorts(const std::vector<std::string>& args) {
  Arguments arguments;
  std::string error;
  if (!arguments.Parse(args, Concat({{"--simulator", false}}, kTraceOptions), error)) {
    return UsageError("ports", error);
  }
  if (!arguments.Positional().empty()) return UsageError("ports", "takes no file or port");
  ApplyTraceOptions(arguments);

  PortChoice ports;
  if (!ports.SetUp(arguments.Has("--simulator"), {})) return kExitUnavailable;
  PrintList("Receive from", InputPortNames());
  PrintList("Transmit to", OutputPortNames());
  return kExitOk;
}

}  // namespace kfw::cli
