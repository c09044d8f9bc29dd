// What the subcommands share: the trace options, the report of a connected module, the module's
// identity of `check` and `inspect`, and the ports of `connect` and `update`.
#pragma once

#include <vector>

#include "cli/arguments.h"
#include "protocol/device_status.h"

namespace kfw::cli {

// -log / --log and --trace-file, accepted by every subcommand.
inline const std::vector<OptionSpec> kTraceOptions = {
    {"-log", false}, {"--log", false}, {"--trace-file", true}};

// Sets the trace path when given, then switches the trace on when asked.
void ApplyTraceOptions(const Arguments& arguments);

// The module's texts under the main window's labels, with the bytes a terminal would act on made
// visible (VisibleText), and kNotVerifiedHint in place of the version the module did not give.
void PrintModule(const DeviceInfo& info, bool withProduct);

// What an empty version means: the module does not report its firmware as verified good.
inline constexpr const char* kNotVerifiedHint = "(firmware not verified: update it again)";
// Told after an update that did not succeed once the module had been told to erase its firmware.
inline constexpr const char* kErasedNote =
    "The module's firmware area was erased: its firmware is not verified until an update "
    "succeeds; update it again.";

// --company and --product of `check` and `inspect`: the identifiers of a module that has answered
// (by default none has: 0x7F7F and 0x7F), stored where the image check reads them. False, with the
// usage error's exit status, for a number out of range.
inline const std::vector<OptionSpec> kIdentityOptions = {{"--company", true}, {"--product", true}};
bool ApplyModuleIdentity(const Arguments& arguments, const char* command, int& status);

// The options of the commands that talk to a module: `connect` and `update`.
inline const std::vector<OptionSpec> kPortOptions = {
    {"--in", true}, {"--out", true}, {"--simulator", false}, {"--fast", false}};

// The port options, before anything is opened: both given, each a word that could name a port.
// Returns the usage error's status, or -1.
int CheckPortOptions(const char* command, const Arguments& arguments);

// What the window's Connect does up to the procedure: choose, then open the two ports. Returns
// the exit status to end with, or -1 when the ports are open. The options have been checked.
class PortChoice;
int OpenChosenPorts(const char* command, const Arguments& arguments, PortChoice& ports);

std::vector<OptionSpec> Concat(std::vector<OptionSpec> first,
                               const std::vector<OptionSpec>& second);

}  // namespace kfw::cli
