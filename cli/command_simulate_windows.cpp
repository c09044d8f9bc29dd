// `simulate` on Windows: the simulated module as the far end of real ports needs what Windows does
// not have (pseudo-terminals, raw MIDI devices, ALSA and JACK ports made on demand), so it only
// says so. The built-in simulated module (`--in sim --out sim`) works as everywhere.
#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/terminal.h"

namespace kfw::cli {

const char* const kSimulateHelp = R"(Usage: kfwupdate simulate [OPTIONS]

Runs the simulated QX-412 as the far end of MIDI ports (a pseudo-terminal, a raw MIDI device,
an ALSA or JACK port), so another updater can connect to it. This needs Linux.

On Windows, try the program with the simulated module built into it instead:
  kfwupdate update samples/demo.kfw --in sim --out sim
)";

int RunSimulateCommand(const std::vector<std::string>&) {
  PrintError(
      "kfwupdate simulate: the simulated module as the far end of MIDI ports needs Linux "
      "(pseudo-terminals, raw MIDI devices, ALSA and JACK); on Windows, choose the built-in "
      "simulated module with --in sim --out sim, as in\n"
      "  kfwupdate update samples/demo.kfw --in sim --out sim");
  return kExitUnavailable;
}

}  // namespace kfw::cli
