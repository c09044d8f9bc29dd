// The subcommands of kfwupdate, one file each.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/result.h"
#include "protocol/device_status.h"

namespace kfw::cli {

// Each takes the words after its name and returns the exit status. Named for the command, not for
// the procedure it runs: `update` is RunUpdateCommand, which calls the engine's RunUpdate.
int RunPortsCommand(const std::vector<std::string>& args);
int RunCheckCommand(const std::vector<std::string>& args);
int RunInspectCommand(const std::vector<std::string>& args);
int RunConnectCommand(const std::vector<std::string>& args);
int RunUpdateCommand(const std::vector<std::string>& args);
int RunSimulateCommand(const std::vector<std::string>& args);
int RunPackCommand(const std::vector<std::string>& args);

// What `update` does once the ports are open, as a window user does it: Connect, then connected()
// (the report of the module that answered), the check of the image against that module, and the
// update run, which connects once more.
ResultCode ConnectCheckAndUpdate(const std::vector<uint8_t>& image, DeviceInfo& info,
                                 const std::function<void()>& connected);

// Help texts, printed by --help and on usage errors: the program's in help.cpp, each command's
// beside the command. The manual page and the bash completion are made from them.
extern const char* const kProgramHelp;
extern const char* const kPortsHelp;
extern const char* const kCheckHelp;
extern const char* const kInspectHelp;
extern const char* const kConnectHelp;
extern const char* const kUpdateHelp;
extern const char* const kSimulateHelp;
extern const char* const kPackHelp;

// The sample image the help's examples update: where the package installs it, on Windows where
// the zip puts it beside the program.
#ifdef _WIN32
#define KFW_SAMPLE_IMAGE "samples\\demo.kfw"
#else
#define KFW_SAMPLE_IMAGE "/usr/share/doc/kfwupdate/examples/demo.kfw"
#endif

// Prints "kfwupdate <command>: <problem>" and the command's usage hint; returns kExitUsage.
int UsageError(const char* command, const std::string& problem);

}  // namespace kfw::cli
