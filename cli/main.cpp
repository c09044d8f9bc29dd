// kfwupdate: the command-line updater. It drives the same procedures as the window, so updates can
// be scripted, run without a display and tested from outside.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/terminal.h"
#include "midi/backends/backends.h"

namespace {

using Command = int (*)(const std::vector<std::string>&);

struct Entry {
  const char* name;
  Command run;
  const char* const* help;
};

const Entry kCommands[] = {
    {"ports", kfw::cli::RunPortsCommand, &kfw::cli::kPortsHelp},
    {"check", kfw::cli::RunCheckCommand, &kfw::cli::kCheckHelp},
    {"inspect", kfw::cli::RunInspectCommand, &kfw::cli::kInspectHelp},
    {"connect", kfw::cli::RunConnectCommand, &kfw::cli::kConnectHelp},
    {"update", kfw::cli::RunUpdateCommand, &kfw::cli::kUpdateHelp},
    {"simulate", kfw::cli::RunSimulateCommand, &kfw::cli::kSimulateHelp},
    {"pack", kfw::cli::RunPackCommand, &kfw::cli::kPackHelp},
};

bool IsHelp(const std::string& word) {
  return word == "--help" || word == "-h";
}

int RunCommand(const std::vector<std::string>& words) {
  if (words.empty()) {
    std::fputs(kfw::cli::kProgramHelp, stderr);
    return kfw::cli::kExitUsage;
  }
  if (IsHelp(words[0])) {
    std::fputs(kfw::cli::kProgramHelp, stdout);
    return kfw::cli::kExitOk;
  }
  if (words[0] == "--version") {
    std::printf("kfwupdate %s\nbackends:", KFW_VERSION);
    for (const std::string& name : kfw::CompiledBackendNames()) std::printf(" %s", name.c_str());
    std::printf("\n");
    return kfw::cli::kExitOk;
  }
  for (const Entry& entry : kCommands) {
    if (words[0] != entry.name) continue;
    std::vector<std::string> rest(words.begin() + 1, words.end());
    for (const std::string& word : rest) {
      if (IsHelp(word)) {
        std::fputs(*entry.help, stdout);
        return kfw::cli::kExitOk;
      }
    }
    return entry.run(rest);
  }
  std::fprintf(stderr, "kfwupdate: no command \"%s\"; run `kfwupdate --help` for the list\n",
               words[0].c_str());
  return kfw::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  kfw::cli::SetUpConsole();
  const int status = RunCommand(kfw::cli::CommandLineWords(argc, argv));
  // Checked once, at the end: a report that cannot be written must neither stop the work (an
  // update half done is worse than an unread line) nor pass for its result when the work failed.
  if (!kfw::cli::StandardOutputWritten() && status == kfw::cli::kExitOk) {
    kfw::cli::PrintError(
        "kfwupdate: the command succeeded, but its report could not be written to standard output");
    return kfw::cli::kExitReportLost;
  }
  return status;
}
