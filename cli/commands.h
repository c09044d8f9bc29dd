// The subcommands of kfwupdate, one file each.
#pragma once

#include <string>
#include <vector>

namespace kfw::cli {

// Each takes the words after its name and returns the exit status.
int RunPorts(const std::vector<std::string>& args);
int RunCheck(const std::vector<std::string>& args);
int RunConnect(const std::vector<std::string>& args);
int RunUpdate(const std::vector<std::string>& args);
int RunSimulate(const std::vector<std::string>& args);
int RunPack(const std::vector<std::string>& args);

// Help texts, printed by --help and on usage errors.
extern const char* const kProgramHelp;
extern const char* const kPortsHelp;
extern const char* const kCheckHelp;
extern const char* const kConnectHelp;
extern const char* const kUpdateHelp;
extern const char* const kSimulateHelp;
extern const char* const kPackHelp;

// Prints "kfwupdate <command>: <problem>" and the command's usage hint; returns kExitUsage.
int UsageError(const char* command, const std::string& problem);

}  // namespace kfw::cli
