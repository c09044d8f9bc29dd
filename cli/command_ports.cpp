#include "base/report.h"
#include "base/waiting.h"
#include "cli/commands.h"
#include "cli/common.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/front_end.h"
#include "cli/port_choice.h"
#include "midi/ports.h"

namespace kfw::cli {

const char* const kPortsHelp = R"(Usage: kfwupdate ports [--simulator] [--json]

Lists the MIDI ports as the window's two lists show them, with their positions. --json
writes both lists as one line of JSON, each port with its position and name.

Example:
  kfwupdate ports --simulator
)";

int RunPortsCommand(const std::vector<std::string>& args) {
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
  // Asking the MIDI systems can take a while (a JACK server that does not answer): a Ctrl-C
  // meanwhile ends the command with its result, as it does everywhere.
  InstallInterruptHandler();
  PortChoice ports;
  const bool listed = ports.SetUp(arguments.Has("--simulator"), {});
  if (CancelRequested()) {
    ShowError(ResultText(kCanceled));
    return frontEnd->Finish(kCanceled);
  }
  // SetUp has shown why when there is no port at all.
  if (!listed) return frontEnd->Finish(kExitUnavailable);
  frontEnd->ShowPortLists(InputPortNames(), OutputPortNames());
  return frontEnd->Finish(kExitOk);
}

}  // namespace kfw::cli
