#include "ui/logic/program_options.h"

#include "base/report.h"
#include "midi/backends/backends.h"

namespace kfw {

namespace {

// The switches the program takes, each a whole word that turns one option on.
struct Switch {
  const char* word;
  bool ProgramOptions::*option;
};

constexpr Switch kSwitches[] = {
    {"--simulator", &ProgramOptions::simulator},
    {"--fast", &ProgramOptions::fast},
};

}  // namespace

ProgramOptions ReadProgramOptions(const std::vector<std::string>& arguments) {
  ProgramOptions options;
  std::string argumentText;
  for (const std::string& argument : arguments) {
    if (!argumentText.empty()) argumentText += ' ';
    argumentText += argument;
    for (const Switch& known : kSwitches) {
      if (argument == known.word) options.*known.option = true;
    }
  }
  // "-log" is a text searched for anywhere, not a word: "-logfile" and "/a -log" count as well.
  options.trace = CommandLineAsksForLog(argumentText);
  options.simulator = options.simulator || SimulatorRequestedByEnvironment();
  return options;
}

}  // namespace kfw
