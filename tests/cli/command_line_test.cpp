// What every command of the program takes and says: the mistakes on a command line, the help of
// each command, the options the program's help gives each, and where the trace goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/image_writer.h"
#include "tests/cli/cli_helpers.h"
#include "tests/support/doubles.h"

namespace kfw::test {
namespace {

TEST(CliUsage, MistakesOnTheCommandLineExitWith64AndSayWhatToDo) {
  const std::vector<std::vector<std::string>> mistakes = {
      {},
      {"frobnicate"},
      {"check"},
      {"check", "a.kfw", "b.kfw"},
      {"check", "a.kfw", "--company", "0x10000"},
      {"update", "a.kfw", "--in", "1"},
      {"update", "a.kfw", "--in", "1", "--out", "1", "--yes", "--no"},
      {"ports", "--bogus"},
      {"pack"},
      {"pack", "out.kfw", "delay:256"},
      // Numbers only as the help writes them; ports that could be none.
      {"check", "a.kfw", "--company", " 33"},
      {"check", "a.kfw", "--product", "0x+0A"},
      {"pack", "out.kfw", "delay:0x 1"},
      {"pack", "out.kfw", "raw:+1"},
      {"connect", "--in", "99999999999999999999", "--out", "sim"},
      {"update", "a.kfw", "--in", "sim", "--out", "18446744073709551616"},
      {"connect", "--in", "", "--out", "sim"},
      {"update", "a.kfw", "--in", "sim", "--out="},
  };
  for (const auto& words : mistakes) {
    std::vector<std::string> argv = {kProgram};
    argv.insert(argv.end(), words.begin(), words.end());
    const test::ProcessResult result = RunProgram(argv);
    std::string line;
    for (const std::string& word : words) line += " \"" + word + "\"";
    SCOPED_TRACE(line);
    EXPECT_EQ(result.exitStatus, 64) << result.err;
    EXPECT_NE(result.err.find("kfwupdate"), std::string::npos) << result.err;
  }
}

TEST(CliHelp, EveryCommandHasHelpWithAnExample) {
  for (const char* command : {"ports", "check", "connect", "update", "simulate", "pack"}) {
    const test::ProcessResult result = RunProgram({kProgram, command, "--help"});
    EXPECT_EQ(result.exitStatus, 0) << command;
    EXPECT_NE(result.out.find("kfwupdate " + std::string(command)), std::string::npos) << command;
  }
  const test::ProcessResult version = RunProgram({kProgram, "--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out.rfind("kfwupdate ", 0), 0u);
}

// The program's help says which options every command takes and which only some do; the man page
// and the bash completion are made from it. Each command is asked whether it takes each option:
// an option it takes lets the parser reach the unknown option put after it.
TEST(CliHelp, EveryCommandTakesTheOptionsTheHelpGivesItAndNoOther) {
  const std::string help = RunProgram({kProgram, "--help"}).out;
  std::vector<std::string> commands;
  std::istringstream lines(help);
  std::string line;
  while (std::getline(lines, line) && line != "Commands:") {
  }
  while (std::getline(lines, line) && !line.empty()) {
    commands.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  ASSERT_GE(commands.size(), 7u) << help;

  // Each option of the "Options:" part, with the commands the heading above it names.
  struct Scope {
    std::string option;
    bool takesValue;
    std::vector<std::string> commands;  // empty: every command
  };
  std::vector<Scope> scopes;
  std::vector<std::string> named;
  bool inOptions = false, everyCommand = false;
  while (std::getline(lines, line)) {
    if (line == "Options:") {
      inOptions = true;
    } else if (!inOptions) {
      continue;
    } else if (line.empty() || line == "Without a command:") {
      break;
    } else if (line == "Every command takes:") {
      everyCommand = true;
      named.clear();
    } else if (const size_t heading = line.find(" also take");
               heading != std::string::npos &&
               (line.substr(heading) == " also take:" || line.substr(heading) == " also takes:")) {
      // "ports, connect and update also take:", or one command: "update also takes:".
      everyCommand = false;
      named.clear();
      std::istringstream words(line.substr(0, heading));
      for (std::string word; words >> word;) {
        if (word.back() == ',') word.pop_back();
        if (word != "and") named.push_back(word);
      }
    } else if (line.rfind("  -", 0) == 0) {
      ASSERT_TRUE(everyCommand || !named.empty()) << "no heading above " << line;
      std::istringstream words(line);
      for (std::string word; words >> word && word[0] == '-';) {
        const bool more = word.back() == ',';
        if (more) word.pop_back();
        std::string next;
        const bool takesValue =
            !more && (words >> next) && std::isupper(static_cast<unsigned char>(next[0]));
        scopes.push_back({word, takesValue, named});
        if (!more) break;
      }
    }
  }
  ASSERT_FALSE(scopes.empty()) << help;

  const std::string stopper = "--kfw-no-such-option";
  for (const Scope& scope : scopes) {
    for (const std::string& command : commands) {
      SCOPED_TRACE(command + " " + scope.option);
      const bool given =
          scope.commands.empty() ||
          std::find(scope.commands.begin(), scope.commands.end(), command) != scope.commands.end();
      std::vector<std::string> argv = {kProgram, command, scope.option};
      if (scope.takesValue) argv.push_back((ScratchDirectory() / "scope-trace.txt").string());
      argv.push_back(stopper);
      const test::ProcessResult result = RunProgram(argv);
      if (scope.option == "-h" || scope.option == "--help") {
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out.rfind("Usage: kfwupdate " + command, 0), 0u) << result.out;
        continue;
      }
#ifdef _WIN32
      // On Windows simulate reads no option: it only says that it needs Linux.
      if (command == "simulate") continue;
#endif
      EXPECT_EQ(result.exitStatus, 64);
      const std::string refused = "unknown option " + scope.option + "\n";
      EXPECT_NE(result.err.find(given ? "unknown option " + stopper + "\n" : refused),
                std::string::npos)
          << (given ? "the help gives it this option, but it refuses it: "
                    : "it takes this option, but the help does not say so: ")
          << result.err;
    }
  }
}

TEST(CliHelp, TheTraceGoesWhereTheHelpSays) {
  const test::ProcessResult help = RunProgram({kProgram, "--help"});
#ifdef _WIN32
  EXPECT_NE(help.out.find("the trace goes to\n                       c:\\trace.txt\n"),
            std::string::npos)
      << help.out;
#else
  EXPECT_NE(help.out.find("the trace goes to\n"
                          "                       $KFW_TRACE_FILE, else kfwupdate-trace.txt in the "
                          "current directory\n"),
            std::string::npos)
      << help.out;
#endif
  const std::string file =
      WriteFile("traced.kfw", ImageWriter::Version0().End().Raw(std::vector<uint8_t>{0}).Bytes());
  const std::filesystem::path named = ScratchDirectory() / "named-trace.txt";
#ifdef _WIN32
  // One fixed place, whatever the environment says; emptied at start, as every -log run does.
  const std::filesystem::path fallback = "c:\\trace.txt";
  std::ofstream(fallback) << "from an earlier run\n";
  ASSERT_TRUE(std::filesystem::exists(fallback)) << "the test cannot write c:\\trace.txt";
  EXPECT_EQ(RunProgram({kProgram, "check", file, "-log"}, {{"KFW_TRACE_FILE", named.string()}})
                .exitStatus,
            0);
  EXPECT_FALSE(std::filesystem::exists(named));
  EXPECT_EQ(test::ReadFileText(fallback), "");
  // --trace-file still chooses.
  EXPECT_EQ(
      RunProgram({kProgram, "check", file, "-log", "--trace-file", named.string()}).exitStatus, 0);
  EXPECT_TRUE(std::filesystem::exists(named));
#else
  const std::filesystem::path fallback = ScratchDirectory() / "kfwupdate-trace.txt";
  std::filesystem::remove(fallback);
  EXPECT_EQ(RunProgram({kProgram, "check", file, "-log"}, {{"KFW_TRACE_FILE", named.string()}})
                .exitStatus,
            0);
  EXPECT_TRUE(std::filesystem::exists(named));
  EXPECT_FALSE(std::filesystem::exists(fallback));
  EXPECT_EQ(RunProgram({kProgram, "check", file, "-log"}, {{"KFW_TRACE_FILE", ""}}).exitStatus, 0);
  EXPECT_TRUE(std::filesystem::exists(fallback));
#endif
}

}  // namespace
}  // namespace kfw::test
