#include "cli/commands.h"
#include "cli/common.h"
#include "cli/exit_status.h"
#include "cli/front_end.h"
#include "cli/port_choice.h"
#include "midi/ports.h"

namespace kfw::cli {

int RunPorts(const std::vector<std::string>& args) {
  Arguments arguments;
  std::string error;
  if (!arguments.Parse(args, Concat(Concat({{"--simulator", false}}, kJsonOptions), kTraceOptions),
                       error)) {
    return UsageError("ports", error);
  }
  if (!arguments.Positional().empty()) return UsageError("ports", "takes no file or port");
  ApplyTraceOptions(arguments);

  const auto frontEnd = MakeFrontEnd(arguments);
  frontEnd->Install();
  PortChoice ports;
  // SetUp has shown why when there is no port at all.
  if (!ports.SetUp(arguments.Has("--simulator"), {})) return frontEnd->Finish(kExitUnavailable);
  frontEnd->ShowPortLists(InputPortNames(), OutputPortNames());
  return frontEnd->Finish(kExitOk);
}

}  // namespace kfw::cli
