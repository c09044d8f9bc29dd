#include "base/report.h"
#include "base/waiting.h"
#include "cli/commands.h"
#include "cli/common.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/front_end.h"
#include "cli/port_choice.h"
#include "engine/connect.h"
#include "midi/ports.h"

namespace kfw::cli {

const char* const kConnectHelp =
    R"(Usage: kfwupdate connect --in PORT --out PORT [--fast] [--json]

Opens the ports, reaches the module (resets until it answers, up to about 30 s) and prints
its serial number, firmware version and product name, with every control byte written as
\xHH and a backslash as \\. --json writes the progress, the module (its texts and numbers)
and the result as lines of JSON instead.

--fast takes each answer as soon as it has arrived, and each message as sent as soon as the
port reports it gone, instead of at the next tenth of a second; the messages stay the same,
and the module is given at least as long to answer (at most a fifth of a second more).

Example:
  kfwupdate connect --in "QX-412 MIDI 1" --out "QX-412 MIDI 1"
  kfwupdate connect --in sim --out sim
)";

namespace {

// Opens the ports and reaches the module; returns the exit status.
int ConnectToModule(const Arguments& arguments, FrontEnd& frontEnd) {
  PortChoice ports;
  if (const int status = OpenChosenPorts("connect", arguments, ports); status >= 0) return status;
  const ResultCode result = Connect(deviceInfo);
  ClosePorts();
  if (result != kOk) {
    ShowError(ResultText(result));
    return result;
  }
  frontEnd.ShowSuccess(kConnectedText, deviceInfo, true);
  return kExitOk;
}

}  // namespace

int RunConnectCommand(const std::vector<std::string>& args) {
  Arguments arguments;
  std::string error;
  if (!arguments.Parse(args, Concat(Concat(kPortOptions, kJsonOptions), kTraceOptions), error)) {
    return UsageError("connect", error);
  }
  if (!arguments.Positional().empty()) return UsageError("connect", "takes no file");
  if (const int status = CheckPortOptions("connect", arguments); status >= 0) return status;
  ApplyTraceOptions(arguments);
  fastMode = arguments.Has("--fast");

  const auto frontEnd = MakeFrontEnd(arguments);
  frontEnd->Install();
  InstallInterruptHandler();
  return frontEnd->Finish(ConnectToModule(arguments, *frontEnd));
}

}  // namespace kfw::cli
