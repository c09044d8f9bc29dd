// What the subcommands share: the trace options and the report of a connected module.
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
// visible (VisibleText).
void PrintModule(const DeviceInfo& info, bool withProduct);

std::vector<OptionSpec> Concat(std::vector<OptionSpec> first, const std::vector<OptionSpec>& second);

}  // namespace kfw::cli
