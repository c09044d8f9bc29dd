// The subcommands of kfwupdate, one file each.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/result.h"
#include "protocol/device_status.h"

namespace kfw::cli {

// Each takes the words after its name and returns the exit status.
int RunPorts(const std::vector<std::string>& args);
int RunCheck(const std::vector<std::string>& args);
int RunInspect(const std::vector<std::string>& args);
int RunConnect(const std::vector<std::string>& args);
int RunUpdate(const std::vector<std::string>& args);
int RunSimulate(const std::vector<std::string>& args);
int RunPack(const std::vector<std::string>& args);

// What `update` does once the ports are open, as a window user does it: Connect, then connected()
// (the report of the module that answered), the check of the image against that module, and the
// update run, which connects once more.
ResultCode ConnectCheckAndUpdate(const std::vector<uint8_t>& image, DeviceInfo& info,
                                 const std::function<void()>& connected);

// Help texts, printed by --help and on usage errors.
extern const char* const kProgramHelp;
extern const char* const kPortsHelp;
extern const char* const kCheckHelp;
extern const char* const kInspectHelp;
extern const char* const kConnectHelp;
extern const char* const kUpdateHelp;
extern const char* const kSimulateHelp;
extern const char* const kPackHelp;

// Prints "kfwupdate <command>: <problem>" and the command's usage hint; returns kExitUsage.
int UsageError(const char* command, const std::string& problem);

}  // namespace kfw::cli
