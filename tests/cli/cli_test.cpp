// The command-line program run as a user runs it: exit statuses, the texts printed, and what the
// simulated module holds afterwards.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/result.h"
#include "image/image_writer.h"
#include "tests/cli/child_process.h"
#include "tests/support/doubles.h"
#include "tests/support/in_child.h"

namespace kfw {
namespace {

using test::ScratchDirectory;
test::ProcessResult RunProgram(std::vector<std::string> argv,
                               std::map<std::string, std::string> environment = {}) {
  return test::Run(std::move(argv), std::move(environment));
}

const std::string kProgram = KFW_CLI_PATH;

std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = (ScratchDirectory() / name).string();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<uint8_t> Firmware(size_t size, uint8_t major, uint8_t minor) {
  std::vector<uint8_t> data = {'Q', 'X', 'F', 'W', major, minor};
  for (size_t i = data.size(); i < size; ++i)
    data.push_back(static_cast<uint8_t>((i * 37 + 11) & 0x7F));
  return data;
}

// Firmware with one byte that SysEx cannot carry, near its end.
std::vector<uint8_t> EightBitFirmware(size_t size) {
  std::vector<uint8_t> data = Firmware(size, 1, 3);
  data[size - 3] = 0xC0;
  return data;
}

// The simulated module's identity (sim/module.h defaults): company 0x0021, product 0x0A, v1.2.
constexpr uint16_t kSimCompany = 0x0021;
constexpr uint8_t kSimProduct = 0x0A;

struct CheckCase {
  const char* name;
  std::vector<uint8_t> file;
  std::vector<std::string> identifiers;
  int status;
  std::string advice = "";  // the line under the result's text, when there is one
};

// Said under a mismatch when no module's identifiers were given: which module the file is for,
// and what to do.
std::string NoModuleAdvice(const char* company, const char* product) {
  return std::string("The file is for company ") + company + " and product " + product +
         ", and no module has answered (0x7F7F and 0x7F): give the module's --company and "
         "--product, or connect to the module (`kfwupdate update FILE --in PORT --out PORT` "
         "checks the file against the module that answers).";
}

TEST(CliCheck, ReportsEachFileAsTheUpdateCommandWould) {
  std::vector<uint8_t> badCrc =
      ImageWriter::Version0().Image(1, 0, std::vector<uint8_t>{1}).End().Bytes();
  badCrc[1] ^= 0xFF;
  std::vector<uint8_t> version2 =
      ImageWriter::Version0().End().Raw(std::vector<uint8_t>{0}).Bytes();
  version2[0] = 2;
  const std::vector<CheckCase> cases = {
      {"v0 for any module",
       ImageWriter::Version0().Image(1, 3, Firmware(64, 1, 3)).End().Bytes(),
       {},
       kOk},
      {"v1 for the module",
       ImageWriter::Version1(kSimCompany, kSimProduct)
           .Image(1, 3, Firmware(64, 1, 3))
           .End()
           .Bytes(),
       {"--company", "0x0021", "--product", "0x0A"},
       kOk},
      {"v1 before a module answered",
       ImageWriter::Version1(kSimCompany, kSimProduct).End().Raw(std::vector<uint8_t>{0}).Bytes(),
       {},
       kProductMismatch,
       NoModuleAdvice("0x0021", "0x0A")},
      {"v1 for any product, before a module answered",
       ImageWriter::Version1(0x0123, 0x7F).End().Raw(std::vector<uint8_t>{0}).Bytes(),
       {},
       kCompanyMismatch,
       NoModuleAdvice("0x0123", "0x7F")},
      {"v1 for another module than the one given",
       ImageWriter::Version1(kSimCompany, kSimProduct).End().Raw(std::vector<uint8_t>{0}).Bytes(),
       {"--company", "0x0021", "--product", "0x0B"},
       kProductMismatch},
      {"other company",
       ImageWriter::Version1(0x0022, kSimProduct).End().Raw(std::vector<uint8_t>{0}).Bytes(),
       {"--company", "33", "--product", "10"},
       kCompanyMismatch},
      {"bad crc", badCrc, {}, kImageCrcError},
      {"version 2", version2, {}, kUnknownImageVersion},
      {"no end record", ImageWriter::Version0().Delay(3).Bytes(), {}, kImageCorrupt},
      {"data SysEx cannot carry",
       ImageWriter::Version0().Image(1, 3, EightBitFirmware(64)).End().Bytes(),
       {},
       kImageCorrupt},
      {"empty file", {}, {}, kImageCorrupt},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {kProgram, "check", WriteFile("check.kfw", c.file)};
    argv.insert(argv.end(), c.identifiers.begin(), c.identifiers.end());
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, c.status);
    const std::string& text = c.status == kOk ? result.out : result.err;
    EXPECT_EQ(text, std::string(ResultText(static_cast<ResultCode>(c.status))) + "\n" +
                        (c.advice.empty() ? "" : c.advice + "\n"));
  }
}

// The sample the packages install is for the simulated module; checked with no module, the
// check's result stays the system's, and the line under it says why and what to do.
TEST(CliCheck, TheShippedSampleWithoutAModuleSaysWhatToDo) {
  std::ifstream sample(KFW_SAMPLE_PATH, std::ios::binary);
  ASSERT_TRUE(sample) << "cannot read " << KFW_SAMPLE_PATH;
  const std::string file =
      WriteFile("demo.kfw", std::vector<uint8_t>(std::istreambuf_iterator<char>(sample), {}));
  test::ProcessResult result = RunProgram({kProgram, "check", file});
  EXPECT_EQ(result.exitStatus, kProductMismatch);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Update file's product ID mismatched with device\n" +
                            NoModuleAdvice("0x0021", "0x0A") + "\n");
  // What the advice says to do.
  result = RunProgram({kProgram, "check", file, "--company", "0x0021", "--product", "0x0A"});
  EXPECT_EQ(result.exitStatus, kOk) << result.err;
  EXPECT_EQ(result.out, "No error\n");
  // For programs the result says it all; standard error stays quiet.
  result = RunProgram({kProgram, "check", file, "--json"});
  EXPECT_EQ(result.exitStatus, kProductMismatch);
  EXPECT_EQ(result.err, "");
}

TEST(CliCheck, FileThatCannotBeReadHasItsOwnStatus) {
  const std::string missing = (ScratchDirectory() / "missing.kfw").string();
  const test::ProcessResult result = RunProgram({kProgram, "check", missing});
  EXPECT_EQ(result.exitStatus, 66);
  EXPECT_EQ(result.err, "Can't open file " + missing + " for reading\n");
}

struct InspectCase {
  const char* name;
  std::vector<uint8_t> file;
  std::vector<std::string> identifiers;
  int status;                      // check's, for the same file and identifiers
  std::vector<std::string> lines;  // among the report's lines, in this order
};

TEST(CliInspect, ShowsTheRecordsInPlayOrderAndWhereABadFileGoesWrong) {
  const std::vector<uint8_t> data = Firmware(64, 1, 3);
  std::vector<uint8_t> badCrc = ImageWriter::Version0().Delay(20).Image(1, 3, data).End().Bytes();
  badCrc[1] ^= 0xFF;
  std::vector<uint8_t> resetFour = ImageWriter::Version0().Delay(20).Reset(3).End().Bytes();
  resetFour[6] = 4;
  FixImageCrc(resetFour);
  const std::vector<InspectCase> cases = {
      {"every record, for the module",
       ImageWriter::Version1(kSimCompany, kSimProduct)
           .Delay(20)
           .NoOp()
           .Reset(1)
           .Image(1, 3, data)
           .End()
           .Raw(std::vector<uint8_t>{0x00, 0xFF})
           .Bytes(),
       {"--company", "0x0021", "--product", "0x0A"},
       kOk,
       {"Format version: 1", "Company: 0x0021", "Product: 0x0A",
        "     #  offset  type   arguments               data",
        "     1       6  delay  20 ticks (2.0 s)", "     2       8  noop",
        "     3       9  reset  argument 1",
        "     4      11  image  version 1.3             64 bytes at offset 16",
        "     5      80  end", "After the end record: 2 bytes", "Result: No error (0)"}},
      {"version 0, an exempt version",
       ImageWriter::Version0().Image(0x7F, 1, data).End().Bytes(),
       {},
       kOk,
       {"Company: 0x7F7F (a version-0 file is for any module)",
        "     1       3  image  version 127.1 (not compared)  64 bytes at offset 8",
        "Result: No error (0)"}},
      {"before a module answered",
       ImageWriter::Version1(kSimCompany, kSimProduct).Image(1, 3, data).End().Bytes(),
       {},
       kProductMismatch,
       {"     2      75  end",
        "Fault: the file is for product 0x0A, and no module has answered (0x7F); give the "
        "module's --company and --product",
        "Result: Update file's product ID mismatched with device (16)"}},
      {"another company",
       ImageWriter::Version1(0x0022, kSimProduct).Image(1, 3, data).End().Bytes(),
       {"--company", "33", "--product", "10"},
       kCompanyMismatch,
       {"Fault: the file is for company 0x0022; the module's is 0x0021"}},
      {"a wrong CRC, the records still shown",
       badCrc,
       {},
       kImageCrcError,
       {"     1       3  delay  20 ticks (2.0 s)", "     3      74  end",
        "Result: Update file CRC error (2)"}},
      {"a reset argument of 4",
       resetFour,
       {},
       kImageCorrupt,
       {"     1       3  delay  20 ticks (2.0 s)",
        "Fault: record 2 (reset) at offset 5: argument 4 at offset 6; a reset takes 0 to 3",
        "Result: Update file image corrupt (3)"}},
      {"data SysEx cannot carry",
       ImageWriter::Version0().Delay(1).Image(1, 3, EightBitFirmware(64)).End().Bytes(),
       {},
       kImageCorrupt,
       {"Fault: record 2 (image) at offset 5: data byte 0xC0 at offset 71 is above 0x7F, which "
        "SysEx cannot carry"}},
      {"no end record",
       ImageWriter::Version0().Delay(3).NoOp().Bytes(),
       {},
       kImageCorrupt,
       {"     2       5  noop",
        "Fault: the file ends at offset 6, after record 2, without an end record"}},
      {"no image, and nothing after the end",
       ImageWriter::Version0().Delay(3).End().Bytes(),
       {},
       kImageCorrupt,
       {"     2       5  end", "After the end record: 0 bytes",
        "Fault: record 2 (end) at offset 5 is the file's last byte; a file without an image "
        "record must carry at least one byte after its end record",
        "Result: Update file image corrupt (3)"}},
      {"version 2",
       std::vector<uint8_t>{0x02, 0x00, 0x00, 0xFF},
       {},
       kUnknownImageVersion,
       {"File: ", "Format version: 2",
        "Fault: format version 2 at offset 0; this program knows versions 0 and 1",
        "Result: Unknown update file version (4)"}},
      {"empty file",
       {},
       {},
       kImageCorrupt,
       {"Fault: the file holds 0 bytes; an image file has at least 4"}},
  };
  for (const InspectCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> words = {WriteFile("inspect.kfw", c.file)};
    words.insert(words.end(), c.identifiers.begin(), c.identifiers.end());
    std::vector<std::string> argv = {kProgram, "inspect"};
    argv.insert(argv.end(), words.begin(), words.end());
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, c.status);
    EXPECT_EQ(result.err, "");
    size_t from = 0;
    for (const std::string& line : c.lines) {
      const size_t at = result.out.find(line + (line == "File: " ? "" : "\n"), from);
      EXPECT_NE(at, std::string::npos) << "missing or out of order: " << line << "\n" << result.out;
      if (at != std::string::npos) from = at + line.size();
    }
    // The result's text is the one `check` prints, and the status the same.
    argv[1] = "check";
    const test::ProcessResult checked = RunProgram(argv);
    EXPECT_EQ(checked.exitStatus, result.exitStatus);
    EXPECT_NE(result.out.find("Result: " +
                              std::string(ResultText(static_cast<ResultCode>(checked.exitStatus)))),
              std::string::npos);
  }
}

TEST(CliInspect, AFileThatCannotBeReadOrAMistakeHasItsOwnStatus) {
  const std::string missing = (ScratchDirectory() / "missing.kfw").string();
  const test::ProcessResult result = RunProgram({kProgram, "inspect", missing});
  EXPECT_EQ(result.exitStatus, 66);
  EXPECT_EQ(result.err, "Can't open file " + missing + " for reading\n");
  EXPECT_EQ(result.out, "");
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{}, {"a.kfw", "b.kfw"}, {"a.kfw", "--product", "0x100"}}) {
    std::vector<std::string> argv = {kProgram, "inspect"};
    argv.insert(argv.end(), words.begin(), words.end());
    EXPECT_EQ(RunProgram(argv).exitStatus, 64) << testing::PrintToString(words);
  }
}

TEST(CliFiles, WhatIsNotARegularFileIsRefusedWithoutWaiting) {
  const std::filesystem::path dir = ScratchDirectory() / "special";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "folder");
  const std::string folder = (dir / "folder").string();
  const std::string image =
      WriteFile("plain.kfw", ImageWriter::Version0().End().Raw(std::vector<uint8_t>{0}).Bytes());
  const std::string packed = (dir / "packed.kfw").string();
  const auto cannotRead = [](const std::string& name) {
    return "Can't open file " + name + " for reading\n";
  };
  const auto cannotWrite = [](const std::string& name) {
    return "kfwupdate pack: cannot write " + name + "; check the folder exists and is writable\n";
  };
#ifdef _WIN32
  // Windows opens devices by name as files: "NUL" in any folder (and CON, which would wait for
  // the keyboard).
  const std::string device = "NUL";
  const std::string waiting = (dir / "CON").string();
#else
  const std::string device = "/dev/null";
  const std::string waiting = (dir / "fifo").string();
  test::MakeFifo(waiting);
#endif
  std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
      {{"check", waiting}, 66, cannotRead(waiting)},
      {{"check", folder}, 66, cannotRead(folder)},
      {{"pack", packed, "image:1.0:" + waiting}, 66, cannotRead(waiting)},
      {{"pack", waiting}, 73, cannotWrite(waiting)},
      {{"pack", device}, 73, cannotWrite(device)},
      {{"pack", folder}, 73, cannotWrite(folder)},
      // A trace file that cannot be written is not written; the command goes on.
      {{"check", image, "-log", "--trace-file", waiting}, 0, ""},
      {{"check", image, "-log", "--trace-file", device}, 0, ""},
  };
#ifndef _WIN32
  // Told before the simulated module starts, rather than when its session ends.
  cases.push_back({{"simulate", "--dump-image", waiting},
                   73,
                   "kfwupdate simulate: cannot write " + waiting +
                       "; give a regular file in a folder that exists and is writable\n"});
#endif
  for (const auto& [words, status, error] : cases) {
    std::vector<std::string> argv = {kProgram};
    argv.insert(argv.end(), words.begin(), words.end());
    SCOPED_TRACE(testing::PrintToString(argv));
    // A program blocked on the FIFO is killed at the deadline, failing the test.
    const test::ProcessResult result = test::Run(argv, {}, std::chrono::seconds(10));
    EXPECT_EQ(result.exitStatus, status);
    EXPECT_EQ(result.err, error);
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder));
#ifndef _WIN32
  EXPECT_TRUE(std::filesystem::is_fifo(waiting));
  // pack follows a link to its output, as a shell's ">" would.
  std::filesystem::create_symlink(packed, dir / "link.kfw");
  ASSERT_EQ(RunProgram({kProgram, "pack", (dir / "link.kfw").string()}).exitStatus, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.kfw"));
  EXPECT_EQ(RunProgram({kProgram, "check", packed}).exitStatus, 0);
#endif
}

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

TEST(CliPack, BuildsFilesTheCheckAccepts) {
  const std::string data = WriteFile("fw.bin", Firmware(300, 1, 4));
  const std::string out = (ScratchDirectory() / "packed.kfw").string();
  test::ProcessResult result =
      RunProgram({kProgram, "pack", out, "--company", "0x0021", "--product", "0x0A", "delay:20",
                  "noop", "reset:1", "image:1.4:" + data, "end", "raw:00ff"});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  const std::vector<uint8_t> expected = ImageWriter::Version1(kSimCompany, kSimProduct)
                                            .Delay(20)
                                            .NoOp()
                                            .Reset(1)
                                            .Image(1, 4, Firmware(300, 1, 4))
                                            .End()
                                            .Raw(std::vector<uint8_t>{0x00, 0xFF})
                                            .Bytes();
  const std::string written = test::ReadFileText(out);
  EXPECT_EQ(std::vector<uint8_t>(written.begin(), written.end()), expected);
  result = RunProgram({kProgram, "check", out, "--company", "0x21", "--product", "0x0a"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;

  // Without records the packer still makes a valid file: the end record and one byte after it.
  result = RunProgram({kProgram, "pack", out});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(RunProgram({kProgram, "check", out}).exitStatus, 0);
}

struct PackCase {
  const char* name;
  bool forTheModule;  // version 1 for the simulated module's family, else version 0
  std::vector<std::string> records;
  int status;  // pack's; 0: the file must pass the check with the same identifiers
};

TEST(CliPack, EveryFileItWritesPassesTheCheckAndRecordsThatCannotAreRefused) {
  const std::string image = "image:1.4:" + WriteFile("table.bin", Firmware(200, 1, 4));
  const std::vector<PackCase> cases = {
      {"nothing", false, {}, 0},
      {"only the end", false, {"end"}, 0},
      {"only the end", true, {"end"}, 0},
      {"a delay and the end", true, {"delay:20", "end"}, 0},
      {"a delay, end added", true, {"delay:20"}, 0},
      {"a mix and the end", true, {"noop", "reset:3", "delay:0", "reset:0", "noop", "end"}, 0},
      {"a mix, end added", false, {"reset:1", "noop", "delay:255"}, 0},
      {"an image and the end", true, {image, "end"}, 0},
      {"an image, end added", true, {"delay:1", image}, 0},
      {"two images in a mix", true, {"reset:1", image, "noop", "delay:2", image, "end"}, 0},
      {"bytes after the end", false, {"delay:5", "end", "raw:00ff"}, 0},
      {"no bytes after the end", true, {"end", "raw:"}, 0},
      {"a raw no-op", true, {"raw:01", "delay:3", "end"}, 0},
      {"a raw empty image record", false, {"raw:0000000102", "end"}, 0},
      {"a raw end record", false, {"noop", "raw:ff"}, 0},
      {"a raw type that is none", true, {"raw:05", "end"}, 65},
      {"a raw reset without its argument", false, {"raw:03"}, 65},
      {"a raw reset of argument 4", true, {"raw:0304", "end"}, 65},
      {"a raw image record cut short", false, {"raw:000500", "end"}, 65},
      {"a record after the end", true, {"end", "noop"}, 64},
      {"a second end", false, {"end", "raw:00", "end"}, 64},
  };
  const std::string out = (ScratchDirectory() / "table.kfw").string();
  for (const PackCase& c : cases) {
    std::string records;
    for (const std::string& record : c.records) records += " " + record;
    SCOPED_TRACE(std::string(c.name) + (c.forTheModule ? " (v1):" : " (v0):") + records);
    std::filesystem::remove(out);
    std::vector<std::string> identifiers;
    if (c.forTheModule) identifiers = {"--company", "0x0021", "--product", "0x0A"};
    std::vector<std::string> argv = {kProgram, "pack", out};
    argv.insert(argv.end(), identifiers.begin(), identifiers.end());
    argv.insert(argv.end(), c.records.begin(), c.records.end());
    const test::ProcessResult packed = RunProgram(argv);
    EXPECT_EQ(packed.exitStatus, c.status) << packed.err;
    if (c.status != 0) {
      EXPECT_FALSE(std::filesystem::exists(out)) << "an invalid file was written";
      continue;
    }
    argv = {kProgram, "check", out};
    argv.insert(argv.end(), identifiers.begin(), identifiers.end());
    const test::ProcessResult checked = RunProgram(argv);
    EXPECT_EQ(checked.exitStatus, 0) << checked.err;
  }
}

TEST(CliPack, RefusesDataThatCannotTravelInSysEx) {
  std::vector<uint8_t> data = Firmware(64, 1, 0);
  data[40] = 0x9C;
  const std::string out = (ScratchDirectory() / "eight-bit.kfw").string();
  const test::ProcessResult result =
      RunProgram({kProgram, "pack", out, "image:1.0:" + WriteFile("fw8.bin", data)});
  EXPECT_EQ(result.exitStatus, 65);
  EXPECT_NE(result.err.find("0x9c at offset 40"), std::string::npos) << result.err;
}

TEST(CliPorts, ListsTheSimulatedModuleOnlyWhenAskedFor) {
  const std::map<std::string, std::string> noJack = {{"JACK_NO_START_SERVER", "1"},
                                                     {"JACK_DEFAULT_SERVER", "kfw-none"}};
  test::ProcessResult result = RunProgram({kProgram, "ports", "--simulator"}, noJack);
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_NE(result.out.find("Receive from:\n  0  (Choose a MIDI port)\n"), std::string::npos);
  EXPECT_NE(result.out.find("  Simulated QX-412\n"), std::string::npos) << result.out;

  result = RunProgram({kProgram, "ports"}, noJack);
  EXPECT_EQ(result.out.find("Simulated QX-412"), std::string::npos) << result.out;

  result = RunProgram({kProgram, "ports"},
                      {{"KFW_SIMULATOR", "1"}, {"JACK_DEFAULT_SERVER", "kfw-none"}});
  EXPECT_NE(result.out.find("Simulated QX-412"), std::string::npos) << result.out;
}

TEST(CliUpdate, WholeUpdateOnTheBuiltInSimulatedModule) {
  const std::string file = WriteFile("update.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                       .Image(1, 3, Firmware(512, 1, 3))
                                                       .End()
                                                       .Bytes());
  const std::string trace = (ScratchDirectory() / "update-trace.txt").string();
  const test::ProcessResult result = RunProgram({kProgram, "update", file, "--in", "sim", "--out",
                                                 "simulated", "-log", "--trace-file", trace});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out,
            "Connection established!\n"
            "Serial #: 4b5804120001\n"
            "Current firmware version #: 1.2\n"
            "Product: QX-412\n"
            "Firmware was successfully updated.\n"
            "Serial #: 4b5804120001\n"
            "Current firmware version #: 1.3\n");
  // Not a terminal: one line per step, no control characters.
  EXPECT_EQ(result.err.find('\r'), std::string::npos);
  EXPECT_NE(result.err.find("Updating firmware area...\n"), std::string::npos);
  const std::string log = test::ReadFileText(trace);
  EXPECT_NE(log.find("--- Program final block ---\n"), std::string::npos);
  EXPECT_NE(log.rfind("TX: f0 00 00 21 0a 7f 10 00 f7 \n"), std::string::npos);
}

// The lines of a trace that start with `prefix`.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, prefix.size(), prefix) == 0) {
      lines.push_back(text.substr(start, end - start));
    }
  }
  return lines;
}

// --fast changes when the waits end, nothing the module or the user sees: the same messages in the
// same order, the same report. Connect takes it too; the simulated module is no host and does not.
TEST(CliUpdate, FastSendsTheSameMessagesAndPrintsTheSame) {
  const std::string file = WriteFile("fast.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                     .Delay(2)
                                                     .Image(1, 3, Firmware(700, 1, 3))
                                                     .End()
                                                     .Bytes());
  test::ProcessResult results[2];
  std::vector<std::string> sent[2];
  for (bool fast : {false, true}) {
    const std::string trace =
        (ScratchDirectory() / (fast ? "fast-trace.txt" : "trace.txt")).string();
    std::vector<std::string> argv = {kProgram, "update", file,   "--in",         "sim",
                                     "--out",  "sim",    "-log", "--trace-file", trace};
    if (fast) argv.push_back("--fast");
    results[fast] = RunProgram(argv);
    ASSERT_EQ(results[fast].exitStatus, 0) << results[fast].err;
    sent[fast] = LinesStartingWith(test::ReadFileText(trace), "TX: ");
  }
  EXPECT_EQ(results[1].out, results[0].out);
  EXPECT_EQ(sent[1], sent[0]);
  // Connect's reset and status, the run's own, prepare, 3 blocks, final, status, reset.
  EXPECT_EQ(sent[0].size(), 11u);

  const test::ProcessResult connected =
      RunProgram({kProgram, "connect", "--in", "sim", "--out", "sim", "--fast"});
  EXPECT_EQ(connected.exitStatus, 0) << connected.err;
  EXPECT_EQ(connected.out.rfind("Connection established!\n", 0), 0u) << connected.out;
  // Only the commands that talk to a module take it (on Windows simulate reads no option: it only
  // says that it needs Linux).
#ifdef _WIN32
  for (const char* command : {"ports", "check"}) {
#else
  for (const char* command : {"simulate", "ports", "check"}) {
#endif
    EXPECT_EQ(RunProgram({kProgram, command, "--fast"}).exitStatus, 64) << command;
  }
}

TEST(CliUpdate, DataThatCannotTravelIsRefusedBeforeTheModuleIsErased) {
  const std::string file =
      WriteFile("eight-bit.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                     .Image(1, 3, EightBitFirmware(512))
                                     .End()
                                     .Bytes());
  const std::string trace = (ScratchDirectory() / "eight-bit-trace.txt").string();
  const test::ProcessResult result = RunProgram(
      {kProgram, "update", file, "--in", "sim", "--out", "sim", "-log", "--trace-file", trace});
  EXPECT_EQ(result.exitStatus, kImageCorrupt);
  EXPECT_NE(result.err.find("Update file image corrupt\n"), std::string::npos) << result.err;
  const std::string log = test::ReadFileText(trace);
  EXPECT_NE(log.find("--- QX-412 get status request ---\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("--- Prepare area ---"), std::string::npos) << log;
  EXPECT_EQ(log.find(" 13 00 f7 "), std::string::npos) << log;
}

// The question comes before the erase: a No, given or taken as the default, sends no prepare-area
// command (13 00), so the module keeps the firmware it reported.
TEST(CliUpdate, NoAnswersTheSameVersionQuestionBeforeTheModuleIsErased) {
  // The simulated module holds version 1.2, verified good: the same version is questioned.
  const std::string file = WriteFile("same.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                     .Image(1, 2, Firmware(128, 1, 2))
                                                     .End()
                                                     .Bytes());
  const std::string trace = (ScratchDirectory() / "same-trace.txt").string();
  for (const char* answer : {"--no", "", "--json"}) {
    SCOPED_TRACE(answer);
    std::filesystem::remove(trace);
    std::vector<std::string> argv = {kProgram, "update", file,   "--in",         "sim",
                                     "--out",  "sim",    "-log", "--trace-file", trace};
    if (*answer) argv.push_back(answer);
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, kCanceled);
    if (std::string(answer) == "--json") {
      EXPECT_NE(result.out.find("Update anyway?\",\"answer\":false}"), std::string::npos)
          << result.out;
    } else {
      EXPECT_NE(result.err.find("Update anyway? No"), std::string::npos) << result.err;
      EXPECT_NE(result.err.find("Operation canceled\n"), std::string::npos) << result.err;
    }
    EXPECT_EQ(result.out.find("successfully"), std::string::npos);
    EXPECT_EQ(result.out.find("erased"), std::string::npos) << result.out;
    const std::string log = test::ReadFileText(trace);
    EXPECT_NE(log.find("--- QX-412 get status request ---\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("--- Prepare area ---"), std::string::npos) << log;
    EXPECT_EQ(log.find(" 13 00 f7 "), std::string::npos) << log;
  }
  std::filesystem::remove(trace);
  const test::ProcessResult yes = RunProgram({kProgram, "update", file, "--in", "sim", "--out",
                                              "sim", "--yes", "-log", "--trace-file", trace});
  EXPECT_EQ(yes.exitStatus, 0) << yes.err;
  EXPECT_NE(test::ReadFileText(trace).find("TX: f0 00 00 21 0a 7f 13 00 f7 \n"), std::string::npos);
}

struct StopCase {
  const char* name;
  int signal;         // on Windows, a console event
  bool duringBlocks;  // else during a long delay record, before any block
};

// Ctrl-Break and the closing of the console window on Windows are the same handler's (tested in
// the program's own process): Wine sends no console event but Ctrl-C.
TEST(CliUpdate, CtrlCTermAndHangUpCancelTheRunningStepAndSendNothingMore) {
  // A long delay record gives time to signal while the update waits; an image long enough to
  // take seconds at 31250 baud, to signal between its blocks.
  const std::string slow = WriteFile("slow.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                     .Delay(250)
                                                     .Image(1, 3, Firmware(64, 1, 3))
                                                     .End()
                                                     .Bytes());
  const std::string large = WriteFile("large.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                       .Image(1, 3, Firmware(16000, 1, 3))
                                                       .End()
                                                       .Bytes());
  const std::vector<StopCase> cases = {
#ifdef _WIN32
      {"Ctrl-C during a delay", CTRL_C_EVENT, false},
      {"Ctrl-C between blocks", CTRL_C_EVENT, true},
#else
      {"Ctrl-C during a delay", SIGINT, false},
      {"SIGTERM during a delay", SIGTERM, false},
      {"SIGHUP during a delay", SIGHUP, false},
      {"SIGTERM between blocks", SIGTERM, true},
#endif
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string trace = (ScratchDirectory() / "stopped-trace.txt").string();
    test::ChildProcess update({kProgram, "update", c.duringBlocks ? large : slow, "--in", "sim",
                               "--out", "sim", "-log", "--trace-file", trace});
    ASSERT_TRUE(update.WaitForError(c.duringBlocks ? "Updating firmware area..." : "Delaying...",
                                    std::chrono::seconds(20)));
    update.Signal(c.signal);
    const auto pressed = std::chrono::steady_clock::now();
    const test::ProcessResult result = update.Wait(std::chrono::seconds(10));
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(2));
    EXPECT_EQ(result.exitStatus, kCanceled) << result.err;
    EXPECT_NE(result.err.find("Operation canceled\n"), std::string::npos) << result.err;
    // Nothing after the stop: no further record, no final block, no final reset.
    const std::string log = test::ReadFileText(trace);
    if (!c.duringBlocks) {
      EXPECT_EQ(log.find("--- Transmitting image ---"), std::string::npos);
    }
    EXPECT_NE(log.find("--- Resetting QX-412 ---"), std::string::npos) << "no trace";
    EXPECT_EQ(log.find("--- Program final block ---"), std::string::npos);
    EXPECT_EQ(log.find("TX: f0 00 00 21 0a 7f 10 00 f7"), std::string::npos);
    // Stopped between blocks, the module is left erased, and told so; during the delay it is not.
    EXPECT_EQ(result.out.find("The module's firmware area was erased: its firmware is not verified "
                              "until an update succeeds; update it again.\n") != std::string::npos,
              c.duringBlocks)
        << result.out;
  }
}

struct ClosedOutputCase {
  const char* name;
  std::vector<std::string> words;
  int status;
  std::string doneInTrace;  // what the trace holds once the work is done
};

TEST(CliOutput, AClosedStandardOutputNeitherStopsTheWorkNorPassesForItsResult) {
  const std::string newer =
      WriteFile("closed-newer.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                        .Image(1, 3, Firmware(512, 1, 3))
                                        .End()
                                        .Bytes());
  const std::string same =
      WriteFile("closed-same.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                       .Image(1, 2, Firmware(128, 1, 2))
                                       .End()
                                       .Bytes());
  const std::string packed = (ScratchDirectory() / "closed-packed.kfw").string();
  const std::string trace = (ScratchDirectory() / "closed-trace.txt").string();
  const std::string finalReset = "TX: f0 00 00 21 0a 7f 10 00 f7";
  const std::vector<ClosedOutputCase> cases = {
      {"a whole update", {"update", newer, "--in", "sim", "--out", "sim"}, 74, finalReset},
      // Asked before the erase: the work ends with the status read of the update's own Connect.
      {"an update answered No",
       {"update", same, "--in", "sim", "--out", "sim", "--no"},
       kCanceled,
       "--- QX-412 get status request ---"},
      {"a file checked", {"check", newer, "--company", "0x21", "--product", "0x0a"}, 74, ""},
      {"a file packed", {"pack", packed, "delay:3"}, 74, ""},
  };
  for (const ClosedOutputCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(trace);
    std::vector<std::string> argv = {kProgram};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
    argv.insert(argv.end(), {"-log", "--trace-file", trace});
    test::ChildProcess child(argv, {}, test::ChildOutput::kClosedPipe);
    const test::ProcessResult result = child.Wait();
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, c.status) << result.err;
    if (c.status == 74) {
      EXPECT_NE(result.err.find("its report could not be written to standard output"),
                std::string::npos)
          << result.err;
    }
    if (!c.doneInTrace.empty()) {
      EXPECT_NE(test::ReadFileText(trace).find(c.doneInTrace), std::string::npos);
    }
  }
  EXPECT_EQ(RunProgram({kProgram, "check", packed}).exitStatus, 0);
}

// --json: what a program reading standard output gets.
using Json = nlohmann::json;

// Every line of a command's standard output, parsed. A line that is not one JSON object with its
// event named, or that holds anything but printable ASCII, fails the test.
std::vector<Json> JsonLines(const std::string& out) {
  std::vector<Json> events;
  EXPECT_TRUE(out.empty() || out.back() == '\n') << "the last line is cut: " << out;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    for (const char c : line) {
      EXPECT_TRUE(c >= 0x20 && c < 0x7F)
          << "byte " << int(static_cast<unsigned char>(c)) << " in: " << line;
    }
    Json event = Json::parse(line, nullptr, false);
    EXPECT_TRUE(event.is_object() && event.contains("event") && event["event"].is_string())
        << "not an event: " << line;
    if (event.is_object()) events.push_back(std::move(event));
  }
  return events;
}

// One event in a few words, for comparing sequences: "progress Connecting... 0", "module 1.2",
// "box error <text>", "box question <text> -> no", "result <code> <text> <status>". Each box's
// caption is checked against its kind on the way.
std::string Summary(const Json& event) {
  const std::string name = event.value("event", "");
  if (name == "progress") {
    return "progress " + event.at("caption").get<std::string>() + " " +
           std::to_string(event.at("percent").get<int>());
  }
  if (name == "module") return "module " + event.at("version").get<std::string>();
  if (name == "box") {
    const std::string kind = event.at("kind").get<std::string>();
    const std::map<std::string, std::string> captions = {
        {"error", "Korvex Firmware Update Utility Error"},
        {"question", "Korvex Firmware Update Utility"},
        {"fatal", "Korvex Firmware Update Utility"},
        {"success", "Firmware Firmware Update Utility"}};
    EXPECT_EQ(event.at("caption"), captions.count(kind) ? captions.at(kind) : "?") << event;
    std::string words = "box " + kind + " " + event.at("text").get<std::string>();
    if (kind == "question") words += event.at("answer").get<bool>() ? " -> yes" : " -> no";
    return words;
  }
  if (name == "result") {
    const Json& code = event.at("code");
    return "result " + (code.is_null() ? std::string("null") : std::to_string(code.get<int>())) +
           " " + event.at("text").get<std::string>() + " " +
           std::to_string(event.at("exitStatus").get<int>());
  }
  return name;
}

std::vector<std::string> Summaries(const std::vector<Json>& events) {
  std::vector<std::string> words;
  for (const Json& event : events) words.push_back(Summary(event));
  return words;
}

// The simulated module's texts and numbers as a module event gives them.
void ExpectSimulatedModule(const Json& module, const std::string& version) {
  EXPECT_EQ(module.at("serial"), "4b5804120001");
  EXPECT_EQ(module.at("version"), version);
  EXPECT_EQ(module.at("productName"), "QX-412");
  EXPECT_EQ(module.at("state"), 0);
  EXPECT_EQ(module.at("versionMajor"), 1);
  EXPECT_EQ(module.at("versionMinor"), std::stoi(version.substr(2)));
  EXPECT_EQ(module.at("blockSize"), 256);
  EXPECT_EQ(module.at("companyId"), kSimCompany);
  EXPECT_EQ(module.at("productId"), kSimProduct);
}

TEST(CliJson, AWholeUpdateIsToldStepByStepAndAlikeInBothModes) {
  // A delay of two ticks, then 700 bytes in blocks of 256: three blocks.
  const std::string file = WriteFile("json.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                     .Delay(2)
                                                     .Image(1, 3, Firmware(700, 1, 3))
                                                     .End()
                                                     .Bytes());
  const std::vector<std::string> expected = {
      "progress Connecting... 0",
      "module 1.2",
      "box success Connection established!",
      // The update run connects afresh, in a window of its own.
      "progress Connecting... 0",
      "progress Delaying... 0",
      "progress Delaying... 50",
      "progress Delaying... 100",
      "progress Preparing firmware area... 0",
      "progress Updating firmware area... 0",
      "progress Updating firmware area... 33",
      "progress Updating firmware area... 66",
      "progress Reading updated version #... 0",
      "progress Reading updated version #... 10",
      "module 1.3",
      "box success Firmware was successfully updated.",
      "result 0 No error 0",
  };
  std::string outs[2];
  for (const bool fast : {false, true}) {
    SCOPED_TRACE(fast ? "--fast" : "normal");
    std::vector<std::string> argv = {kProgram, "update", file,  "--in",
                                     "sim",    "--out",  "sim", "--json"};
    if (fast) argv.push_back("--fast");
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    const std::vector<Json> events = JsonLines(result.out);
    EXPECT_EQ(Summaries(events), expected) << result.out;
    if (events.size() == expected.size()) {
      ExpectSimulatedModule(events[1], "1.2");
      ExpectSimulatedModule(events[13], "1.3");
    }
    outs[fast] = result.out;
  }
  EXPECT_EQ(outs[1], outs[0]);
}

struct JsonEndCase {
  const char* name;
  std::vector<std::string> words;  // after the program
  int status;
  std::vector<std::string> last;  // the summaries the output ends with
  bool whole;                     // and nothing before them
};

TEST(CliJson, EveryCommandEndsWithItsResultAndAFailureWithItsErrorBox) {
  const std::string otherProduct = WriteFile(
      "json-other.kfw",
      ImageWriter::Version1(kSimCompany, 0x0B).Image(1, 3, Firmware(64, 1, 3)).End().Bytes());
  // The simulated module holds 1.2, verified good: the same version is questioned.
  const std::string same =
      WriteFile("json-same.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                     .Image(1, 2, Firmware(128, 1, 2))
                                     .End()
                                     .Bytes());
  std::vector<uint8_t> badCrc =
      ImageWriter::Version0().Image(1, 0, std::vector<uint8_t>{1}).End().Bytes();
  badCrc[1] ^= 0xFF;
  const std::string corrupt = WriteFile("json-crc.kfw", badCrc);
  const std::string missing = (ScratchDirectory() / "json-missing.kfw").string();
  const std::string question =
      "box question The firmware image in the hardware is verified good and the version # "
      "matches the update file. Updating with this image file is unnecessary and will change "
      "nothing! Update anyway?";
  const std::vector<JsonEndCase> cases = {
      {"an image for another product",
       {"update", otherProduct, "--in", "sim", "--out", "sim"},
       kProductMismatch,
       {"box success Connection established!",
        "box error Update file's product ID mismatched with device",
        "result 16 Update file's product ID mismatched with device 16"},
       false},
      // Asked before the erase: the update's own Connect is the last thing shown before it.
      {"the same version, not answered",
       {"update", same, "--in", "sim", "--out", "sim"},
       kCanceled,
       {"progress Connecting... 0", question + " -> no", "box error Operation canceled",
        "result 5 Operation canceled 5"},
       false},
      {"the same version, answered Yes",
       {"update", same, "--in", "sim", "--out", "sim", "--yes"},
       kOk,
       {"box success Firmware was successfully updated.", "result 0 No error 0"},
       false},
      {"an image that cannot be read",
       {"update", missing, "--in", "sim", "--out", "sim"},
       66,
       {"box error Can't open file " + missing + " for reading",
        "result null Can't open file " + missing + " for reading 66"},
       true},
      {"a port that is not there",
       {"connect", "--in", "no-such-port", "--out", "sim"},
       69,
       {"box error kfwupdate connect: no port in \"Receive from\" matches \"no-such-port\"; run "
        "`kfwupdate ports` to list them (the simulated module is listed with --simulator)",
        "result null kfwupdate connect: no port in \"Receive from\" matches \"no-such-port\"; "
        "run `kfwupdate ports` to list them (the simulated module is listed with "
        "--simulator) 69"},
       true},
#ifndef _WIN32
      // What is true on Linux, where WinMM's "midiInOpen returned 00000002" would mean nothing.
      {"a raw device that is not there",
       {"connect", "--in", missing, "--out", missing},
       69,
       {"box error Cannot open the MIDI port chosen in \"Receive from\": No such file or "
        "directory. To try the program without hardware, choose the simulated module (start the "
        "program with --simulator).",
        "result null Cannot open the MIDI port chosen in \"Receive from\": No such file or "
        "directory. To try the program without hardware, choose the simulated module (start the "
        "program with --simulator). 69"},
       true},
#endif
      {"a module that answers",
       {"connect", "--in", "sim", "--out", "sim"},
       kOk,
       {"progress Connecting... 0", "module 1.2", "box success Connection established!",
        "result 0 No error 0"},
       true},
      {"a good file checked",
       {"check", same, "--company", "0x21", "--product", "0x0a"},
       kOk,
       {"result 0 No error 0"},
       true},
      {"a bad file checked",
       {"check", corrupt},
       kImageCrcError,
       {"box error Update file CRC error", "result 2 Update file CRC error 2"},
       true},
      {"a file that cannot be checked",
       {"check", missing},
       66,
       {"box error Can't open file " + missing + " for reading",
        "result null Can't open file " + missing + " for reading 66"},
       true},
  };
  for (const JsonEndCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {kProgram};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
    argv.push_back("--json");
    const test::ProcessResult result =
        RunProgram(argv, {{"JACK_NO_START_SERVER", "1"}, {"JACK_DEFAULT_SERVER", "kfw-none"}});
    EXPECT_EQ(result.exitStatus, c.status);
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> summaries = Summaries(JsonLines(result.out));
    ASSERT_GE(summaries.size(), c.last.size()) << result.out;
    if (c.whole) {
      EXPECT_EQ(summaries.size(), c.last.size()) << result.out;
    }
    EXPECT_EQ(std::vector<std::string>(summaries.end() - static_cast<long>(c.last.size()),
                                       summaries.end()),
              c.last)
        << result.out;
  }
}

// The lists `ports` shows people, as (position, name) pairs.
std::vector<std::pair<int, std::string>> ListedPorts(const std::string& out,
                                                     const std::string& title) {
  std::vector<std::pair<int, std::string>> ports;
  std::istringstream lines(out);
  bool inList = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] != ' ') {
      inList = line == title + ":";
      continue;
    }
    const size_t name = line.find("  ", 2);
    const int position = std::stoi(line.substr(2, name - 2));
    if (inList && position > 0) ports.emplace_back(position, line.substr(name + 2));
  }
  return ports;
}

TEST(CliJson, PortsGivesBothListsAsPeopleSeeThem) {
  const std::map<std::string, std::string> noJack = {{"JACK_NO_START_SERVER", "1"},
                                                     {"JACK_DEFAULT_SERVER", "kfw-none"}};
  const test::ProcessResult listed = RunProgram({kProgram, "ports", "--simulator"}, noJack);
  const test::ProcessResult result =
      RunProgram({kProgram, "ports", "--simulator", "--json"}, noJack);
  ASSERT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "");
  const std::vector<Json> events = JsonLines(result.out);
  ASSERT_EQ(events.size(), 2u) << result.out;
  EXPECT_EQ(events[0].at("event"), "ports");
  EXPECT_EQ(Summary(events[1]), "result 0 No error 0");
  for (const auto& [field, title] :
       {std::pair<std::string, std::string>{"receiveFrom", "Receive from"},
        {"transmitTo", "Transmit to"}}) {
    SCOPED_TRACE(field);
    std::vector<std::pair<int, std::string>> ports;
    for (const Json& port : events[0].at(field)) {
      ports.emplace_back(port.at("position").get<int>(), port.at("name").get<std::string>());
    }
    EXPECT_EQ(ports, ListedPorts(listed.out, title)) << listed.out;
    EXPECT_NE(std::find_if(ports.begin(), ports.end(),
                           [](const auto& port) { return port.second == "Simulated QX-412"; }),
              ports.end());
  }
}

struct JsonInspectCase {
  const char* name;
  std::vector<uint8_t> file;
  std::vector<std::string> identifiers;
  std::vector<std::string> records;  // "type@offset"; none when the header cannot be read
  std::vector<std::string> faults;
};

TEST(CliJson, InspectGivesTheFactsOfThePeoplesReport) {
  const std::vector<uint8_t> data = Firmware(64, 1, 3);
  std::vector<uint8_t> badCrc = ImageWriter::Version0().Delay(20).Image(1, 3, data).End().Bytes();
  badCrc[1] ^= 0xFF;
  std::vector<uint8_t> resetFour = ImageWriter::Version0().Delay(20).Reset(3).End().Bytes();
  resetFour[6] = 4;
  FixImageCrc(resetFour);
  const std::vector<JsonInspectCase> cases = {
      {"every record, for the module",
       ImageWriter::Version1(kSimCompany, kSimProduct)
           .Delay(20)
           .NoOp()
           .Reset(1)
           .Image(0x7F, 3, data)
           .End()
           .Raw(std::vector<uint8_t>{0x00, 0xFF})
           .Bytes(),
       {"--company", "0x0021", "--product", "0x0A"},
       {"delay@6", "noop@8", "reset@9", "image@11", "end@80"},
       {}},
      {"before a module answered",
       ImageWriter::Version1(kSimCompany, kSimProduct).Image(1, 3, data).End().Bytes(),
       {},
       {"image@6", "end@75"},
       {"productMismatch"}},
      {"a wrong CRC", badCrc, {}, {"delay@3", "image@5", "end@74"}, {"crcMismatch"}},
      {"a reset argument of 4", resetFour, {}, {"delay@3"}, {"resetArgument"}},
      // The end record was reached: what follows it is counted, none.
      {"no image, nothing after the end",
       ImageWriter::Version0().Delay(2).End().Bytes(),
       {},
       {"delay@3", "end@5"},
       {"nothingAfterEnd"}},
      {"no end record", ImageWriter::Version0().NoOp().Bytes(), {}, {"noop@3"}, {"noEndRecord"}},
      {"version 2", std::vector<uint8_t>{0x02, 0x00, 0x00, 0xFF}, {}, {}, {"unknownVersion"}},
      {"empty", {}, {}, {}, {"tooShort"}},
  };
  for (const JsonInspectCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {kProgram, "inspect", WriteFile("json-inspect.kfw", c.file)};
    argv.insert(argv.end(), c.identifiers.begin(), c.identifiers.end());
    const test::ProcessResult report = RunProgram(argv);
    argv.push_back("--json");
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, report.exitStatus);
    EXPECT_EQ(result.err, "");
    const std::vector<Json> events = JsonLines(result.out);
    ASSERT_EQ(events.size(), 2u) << result.out;
    const Json& inspection = events[0];
    EXPECT_EQ(inspection.at("event"), "inspection");
    EXPECT_EQ(inspection.at("length"), c.file.size());
    const std::string code = std::to_string(report.exitStatus);
    EXPECT_EQ(Summary(events[1]), "result " + code + " " +
                                      ResultText(static_cast<ResultCode>(report.exitStatus)) + " " +
                                      code);

    std::vector<std::string> records;
    for (const Json& record : inspection.value("records", Json::array())) {
      records.push_back(record.at("type").get<std::string>() + "@" +
                        std::to_string(record.at("offset").get<int>()));
      EXPECT_EQ(record.at("number"), records.size());
      if (record.at("type") == "image") {
        EXPECT_EQ(record.at("versionCompared"), record.at("versionMajor") != 0x7F);
        EXPECT_EQ(record.at("dataLength"), data.size());
        EXPECT_EQ(record.at("dataOffset"), record.at("offset").get<int>() + 5);
      }
    }
    EXPECT_EQ(records, c.records);
    // What follows the end record, whenever the walk reached it, as people read it.
    const size_t after = report.out.find("After the end record: ");
    EXPECT_EQ(inspection.contains("bytesAfterEnd"), after != std::string::npos) << report.out;
    if (inspection.contains("bytesAfterEnd") && after != std::string::npos) {
      EXPECT_EQ(report.out.substr(after, report.out.find('\n', after) - after),
                "After the end record: " +
                    std::to_string(inspection.at("bytesAfterEnd").get<unsigned>()) + " bytes");
    }
    // The header and CRC as people read them.
    if (inspection.contains("crc")) {
      char line[64];
      std::snprintf(line, sizeof line, "CRC-16: stored 0x%04X, computed 0x%04X\n",
                    inspection["crc"].at("stored").get<unsigned>(),
                    inspection["crc"].at("computed").get<unsigned>());
      EXPECT_NE(report.out.find(line), std::string::npos) << line << report.out;
      std::snprintf(line, sizeof line, "Company: 0x%04X",
                    inspection.at("companyId").get<unsigned>());
      EXPECT_NE(report.out.find(line), std::string::npos) << line << report.out;
    }
    std::vector<std::string> faults;
    for (const Json& fault : inspection.at("faults")) {
      faults.push_back(fault.at("fault").get<std::string>());
      const std::string text = "Fault: " + fault.at("text").get<std::string>() + "\n";
      EXPECT_NE(report.out.find(text), std::string::npos) << text << report.out;
    }
    EXPECT_EQ(faults, c.faults);
  }
}

// A file of no-op records, then the end record and a byte after it: check accepts it.
std::vector<uint8_t> NoOps(size_t count) {
  ImageWriter writer = ImageWriter::Version0();
  for (size_t i = 0; i < count; ++i) writer.NoOp();
  return writer.End().Raw(std::vector<uint8_t>{0}).Bytes();
}

#ifndef _WIN32
// Each record is written out as it is walked, so the memory taken does not grow with the number
// of records: a million of them are shown, whole, within an address space of 64 MiB (the program
// and its libraries take about 25 MiB, the file 1 MiB). Gathered before being shown they took
// about 100 MiB for the report and 600 MiB for --json.
TEST(CliInspect, AMillionRecordsAreShownInBoundedMemoryAsCheckJudgesThem) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer reserves terabytes of address space: no limit of it can hold";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "a sanitizer reserves terabytes of address space: no limit of it can hold";
#endif
#endif
  constexpr size_t kRecords = 1'000'000;
  const std::string file = WriteFile("million.kfw", NoOps(kRecords));
  EXPECT_EQ(RunProgram({kProgram, "check", file}).exitStatus, kOk);
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "--json" : "the report");
    const test::ProcessResult result =
        RunProgram({"/bin/sh", "-c", "ulimit -v 65536 && exec \"$0\" inspect \"$1\" $2", kProgram,
                    file, json ? "--json" : ""});
    ASSERT_EQ(result.exitStatus, kOk) << result.err;
    EXPECT_EQ(result.err, "");
    if (json) {
      // Read as text, not parsed whole: a million objects would take the test itself hundreds of
      // megabytes.
      const size_t lineEnd = result.out.find('\n');
      ASSERT_NE(lineEnd, std::string::npos);
      const std::string inspection = result.out.substr(0, lineEnd);
      EXPECT_TRUE(Json::accept(inspection)) << "not one JSON object";
      EXPECT_EQ(inspection.rfind("{\"event\":\"inspection\",", 0), 0u);
      size_t noops = 0;
      for (size_t at = 0; (at = inspection.find("\"type\":\"noop\"}", at)) != std::string::npos;
           ++at) {
        ++noops;
      }
      EXPECT_EQ(noops, kRecords);
      const std::string end =
          "{\"number\":1000000,\"offset\":1000002,\"type\":\"noop\"},{\"number\":1000001,"
          "\"offset\":1000003,\"type\":\"end\"}],\"bytesAfterEnd\":1,\"faults\":[]}";
      ASSERT_GE(inspection.size(), end.size());
      EXPECT_EQ(inspection.substr(inspection.size() - end.size()), end);
      const std::vector<Json> rest = JsonLines(result.out.substr(lineEnd + 1));
      ASSERT_EQ(rest.size(), 1u);
      EXPECT_EQ(Summary(rest[0]), "result 0 No error 0");
    } else {
      EXPECT_NE(result.out.find("\n  1000000  1000002  noop\n  1000001  1000003  end\n"
                                "After the end record: 1 bytes\nResult: No error (0)\n"),
                std::string::npos)
          << result.out.substr(result.out.size() - 200);
    }
  }
}
#endif

struct InterruptCase {
  const char* name;
  int signal;
  bool json;
};

// Ctrl-C, SIGTERM or SIGHUP while `inspect` writes out a long file: it stops there and ends as
// every command does, with the canceled result and, for programs, a whole last line.
TEST(CliInspect, AStopWhileTheRecordsAreWrittenEndsItWithTheCanceledResult) {
  const std::string file = WriteFile("long.kfw", NoOps(4'000'000));
  const std::vector<InterruptCase> cases = {
#ifdef _WIN32
      {"Ctrl-C", CTRL_C_EVENT, false},
      {"Ctrl-C, --json", CTRL_C_EVENT, true},
#else
      {"Ctrl-C", SIGINT, false},
      {"SIGTERM, --json", SIGTERM, true},
      {"SIGHUP, --json", SIGHUP, true},
#endif
  };
  for (const InterruptCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {kProgram, "inspect", file};
    if (c.json) argv.push_back("--json");
    test::ChildProcess inspect(argv);
    ASSERT_TRUE(inspect.WaitForOutput(c.json ? "{\"number\":100," : " 102  noop\n",
                                      std::chrono::seconds(20)));
    inspect.Signal(c.signal);
    const test::ProcessResult result = inspect.Wait(std::chrono::seconds(20));
    EXPECT_EQ(result.exitStatus, kCanceled) << result.err;
    EXPECT_EQ(result.err, "\nCanceling... (press Ctrl-C again to quit at once)\n");
    if (c.json) {
      const std::vector<Json> events = JsonLines(result.out);
      ASSERT_EQ(events.size(), 2u);
      EXPECT_LT(events[0].at("records").size(), 4'000'000u);
      EXPECT_FALSE(events[0].contains("bytesAfterEnd"));
      EXPECT_EQ(events[0].at("faults"), Json::array());
      EXPECT_EQ(Summary(events[1]), "result 5 Operation canceled 5");
    } else {
      const std::string last = "noop\nResult: Operation canceled (5)\n";
      ASSERT_GE(result.out.size(), last.size());
      EXPECT_EQ(result.out.substr(result.out.size() - last.size()), last);
    }
  }
}

TEST(CliUpdate, UnknownPortIsTold) {
  const std::string file =
      WriteFile("any.kfw", ImageWriter::Version0().End().Raw(std::vector<uint8_t>{0}).Bytes());
  const test::ProcessResult result =
      RunProgram({kProgram, "update", file, "--in", "no-such-port", "--out", "sim"},
                 {{"JACK_DEFAULT_SERVER", "kfw-none"}});
  EXPECT_EQ(result.exitStatus, 69);
  EXPECT_NE(result.err.find("no port in \"Receive from\" matches \"no-such-port\""),
            std::string::npos)
      << result.err;
}

// A name as the program takes it, in UTF-8, for the test's own file operations: a narrow name
// would be read in the ANSI code page on Windows.
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Names as users give them: UTF-8 on Linux, whatever the system's code page on Windows.
TEST(CliFiles, NamesOutsideAsciiAreReadAndWritten) {
  const std::string dir =
      ScratchDirectory().string() + "/\u043f\u0440\u043e\u0448\u0438\u0432\u043a\u0430";
  std::filesystem::create_directories(PathOf(dir));
  const std::string data = dir + "/\u0434\u0430\u043d\u043d\u044b\u0435.bin";
  const std::string packed = dir + "/\u00e9t\u00e9-\u65e5\u672c.kfw";
  std::ofstream(PathOf(data), std::ios::binary) << "QXFW\x01\x03";
  test::ProcessResult result = RunProgram(
      {kProgram, "pack", packed, "--company", "0x0021", "--product", "0x0A", "image:1.3:" + data});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_NE(result.out.find("Wrote " + packed + ":"), std::string::npos) << result.out;
  EXPECT_TRUE(std::filesystem::exists(PathOf(packed)));
  result = RunProgram({kProgram, "update", packed, "--in", "sim", "--out", "sim"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  // And the name of one that is not there is told as it was given.
  const std::string missing = dir + "/\u043d\u0435\u0442.kfw";
  result = RunProgram({kProgram, "check", missing});
  EXPECT_EQ(result.exitStatus, 66);
  EXPECT_EQ(result.err, "Can't open file " + missing + " for reading\n");
}

}  // namespace
}  // namespace kfw

namespace kfw {
namespace {

#ifdef _WIN32
// Windows has no pseudo-terminals nor raw MIDI devices for the simulated module's far end.
TEST(CliSimulate, SaysItNeedsLinux) {
  for (const std::vector<std::string>& words :
       std::vector<std::vector<std::string>>{{}, {"--in", "pty"}, {"--block-size", "128"}}) {
    std::vector<std::string> argv = {kProgram, "simulate"};
    argv.insert(argv.end(), words.begin(), words.end());
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, 69);
    EXPECT_NE(result.err.find("needs Linux"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("--in sim --out sim"), std::string::npos) << result.err;
  }
  const test::ProcessResult help = RunProgram({kProgram, "simulate", "--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.out.find("This needs Linux."), std::string::npos) << help.out;
}
#else

// The ports named by the simulator's ready line.
std::string TransmitTo(const std::string& readyLine) {
  const std::string marker = "transmit to \"";
  const size_t start = readyLine.find(marker);
  if (start == std::string::npos) return "";
  const size_t from = start + marker.size();
  return readyLine.substr(from, readyLine.find('"', from) - from);
}

TEST(CliSimulate, UpdateOverAPseudoTerminalLeavesTheImageInTheModule) {
  // Two image records with delays, a reset and a no-op between them: the module must end up
  // holding both images, in order, and nothing else.
  const std::vector<uint8_t> first = Firmware(700, 2, 0);
  std::vector<uint8_t> second(300);
  for (size_t i = 0; i < second.size(); ++i) second[i] = static_cast<uint8_t>((i * 5) & 0x7F);
  const std::string file = WriteFile("two.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                    .Image(2, 0, first)
                                                    .Delay(2)
                                                    .NoOp()
                                                    .Reset(1)
                                                    .Image(2, 1, second)
                                                    .End()
                                                    .Bytes());
  const std::string dump = (ScratchDirectory() / "programmed.bin").string();
  test::ChildProcess simulator({kProgram, "simulate", "--block-size", "128", "--dump-image", dump});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)));
  const std::string port = TransmitTo(simulator.Output());
  ASSERT_EQ(port.rfind("/dev/pts/", 0), 0u) << simulator.Output();

  const test::ProcessResult update =
      RunProgram({kProgram, "update", file, "--in", port, "--out", port});
  EXPECT_EQ(update.exitStatus, 0) << update.err;
  EXPECT_NE(update.out.find("Firmware was successfully updated.\n"), std::string::npos);

  simulator.Signal(SIGTERM);
  const test::ProcessResult simulated = simulator.Wait(std::chrono::seconds(10));
  EXPECT_EQ(simulated.exitStatus, 0) << simulated.err;
  EXPECT_NE(simulated.err.find("2 images programmed"), std::string::npos) << simulated.err;
  std::vector<uint8_t> expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  const std::string programmed = test::ReadFileText(dump);
  EXPECT_EQ(std::vector<uint8_t>(programmed.begin(), programmed.end()), expected);
}

// An identity whose replies could not reach the updater whole is a mistake on the command line.
// The port is a path that cannot be opened, so that a simulator that wrongly starts ends at once.
TEST(CliSimulate, RefusesAnIdentityItsRepliesCannotCarry) {
  const std::string name30(30, 'N');
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--company", "0x0080"}, "each byte of --company must be at most 0x7F"},
      {{"--company", "0x8000"}, "each byte of --company must be at most 0x7F"},
      {{"--company", "0xFF7F"}, "each byte of --company must be at most 0x7F"},
      {{"--product", "0x80"}, "--product must be at most 0x7F"},
      {{"--name", name30}, "--name takes at most 29 characters"},
      // UTF-8 "café": its last two bytes are above 0x7F.
      {{"--name", "caf\xC3\xA9"}, "each byte of --name must be at most 0x7F"},
      {{"--name", "QX\x80"}, "each byte of --name must be at most 0x7F"},
  };
  const std::string nowhere = (ScratchDirectory() / "no-such-device").string();
  for (const auto& [options, text] : cases) {
    std::vector<std::string> argv = {kProgram, "simulate", "--in", nowhere, "--out", nowhere};
    argv.insert(argv.end(), options.begin(), options.end());
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, 64) << options.back() << ": " << result.err;
    EXPECT_NE(result.err.find(text), std::string::npos) << result.err;
  }
}

TEST(CliSimulate, TheLongestNameAndHighestIdentifiersStillReachTheUpdater) {
  const std::string name29 = "QX-412 with a name this long.";
  ASSERT_EQ(name29.size(), 29u);
  test::ChildProcess simulator(
      {kProgram, "simulate", "--company", "0x7F7E", "--product", "0x7F", "--name", name29});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)))
      << simulator.Wait(std::chrono::seconds(1)).err;
  const std::string port = TransmitTo(simulator.Output());
  const test::ProcessResult connect =
      RunProgram({kProgram, "connect", "--in", port, "--out", port});
  EXPECT_EQ(connect.exitStatus, 0) << connect.err;
  EXPECT_NE(connect.out.find("Product: " + name29 + "\n"), std::string::npos) << connect.out;
  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.Wait(std::chrono::seconds(10)).exitStatus, 0);
}

TEST(CliSimulate, AModuleNamedWithEscapeSequencesIsPrintedWithThemWrittenOut) {
  // A name that would retitle the terminal and clear the screen.
  test::ChildProcess simulator({kProgram, "simulate", "--name", "\x1b]0;owned\x07QX\x1b[2J"});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)));
  const std::string port = TransmitTo(simulator.Output());
  const test::ProcessResult connect =
      RunProgram({kProgram, "connect", "--in", port, "--out", port});
  EXPECT_EQ(connect.exitStatus, 0) << connect.err;
  EXPECT_NE(connect.out.find("Product: \\x1b]0;owned\\x07QX\\x1b[2J\n"), std::string::npos)
      << connect.out;
  EXPECT_EQ(connect.out.find('\x1b'), std::string::npos);
  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.Wait(std::chrono::seconds(10)).exitStatus, 0);
}

TEST(CliSimulate, ARejectedBlockEndsTheUpdateWithItsText) {
  const std::string file = WriteFile("rejected.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                         .Image(1, 3, Firmware(1024, 1, 3))
                                                         .End()
                                                         .Bytes());
  test::ChildProcess simulator(
      {kProgram, "simulate", "--reject-block", "2", "--reject-status", "1"});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)));
  const std::string port = TransmitTo(simulator.Output());
  const test::ProcessResult update =
      RunProgram({kProgram, "update", file, "--in", port, "--out", port});
  EXPECT_EQ(update.exitStatus, kDeviceBadChecksum);
  EXPECT_NE(update.err.find("MIDI Reports bad checksum\n"), std::string::npos) << update.err;
  EXPECT_NE(update.out.find("The module's firmware area was erased"), std::string::npos)
      << update.out;
  // Connected again, the module reports firmware that is not verified, and the version it gives
  // none: said so, where the version would be. JSON carries the state.
  const test::ProcessResult connect =
      RunProgram({kProgram, "connect", "--in", port, "--out", port});
  EXPECT_EQ(connect.exitStatus, 0) << connect.err;
  EXPECT_NE(
      connect.out.find("Current firmware version #: (firmware not verified: update it again)\n"),
      std::string::npos)
      << connect.out;
  const test::ProcessResult json =
      RunProgram({kProgram, "connect", "--in", port, "--out", port, "--json"});
  EXPECT_NE(json.out.find("\"version\":\"\",\"productName\":\"QX-412\",\"state\":1,"),
            std::string::npos)
      << json.out;
  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.Wait(std::chrono::seconds(10)).exitStatus, 0);
}

TEST(CliJson, CtrlCEndsTheUpdateWithTheCanceledResult) {
  const std::string slow =
      WriteFile("json-slow.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                     .Delay(250)
                                     .Image(1, 3, Firmware(64, 1, 3))
                                     .End()
                                     .Bytes());
  test::ChildProcess update({kProgram, "update", slow, "--in", "sim", "--out", "sim", "--json"});
  ASSERT_TRUE(update.WaitForOutput("\"caption\":\"Delaying...\"", std::chrono::seconds(20)))
      << update.Output();
  update.Signal(SIGINT);
  const test::ProcessResult result = update.Wait(std::chrono::seconds(10));
  EXPECT_EQ(result.exitStatus, kCanceled);
  // Only the note that the Ctrl-C was taken, which cannot wait for the next event.
  EXPECT_EQ(result.err, "\nCanceling... (press Ctrl-C again to quit at once)\n");
  const std::vector<std::string> summaries = Summaries(JsonLines(result.out));
  ASSERT_GE(summaries.size(), 3u) << result.out;
  EXPECT_EQ(
      std::vector<std::string>(summaries.end() - 2, summaries.end()),
      (std::vector<std::string>{"box error Operation canceled", "result 5 Operation canceled 5"}));
  for (const std::string& summary : summaries) {
    EXPECT_EQ(summary.find("Preparing"), std::string::npos) << "went on after the Ctrl-C";
  }
}

TEST(CliJson, AModuleNameOfControlBytesComesThroughWhole) {
  // What would retitle a terminal and clear its screen, a quote and a backslash.
  const std::string name = "\x1b]0;owned\x07QX\x1b[2J\"\\\x7f\x01";
  test::ChildProcess simulator({kProgram, "simulate", "--name", name});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)));
  const std::string port = TransmitTo(simulator.Output());
  const test::ProcessResult connect =
      RunProgram({kProgram, "connect", "--in", port, "--out", port, "--json"});
  EXPECT_EQ(connect.exitStatus, 0) << connect.out;
  const std::vector<Json> events = JsonLines(connect.out);
  ASSERT_EQ(events.size(), 4u) << connect.out;
  EXPECT_EQ(events[1].at("productName"), name);
  EXPECT_NE(connect.out.find(R"("productName":"\u001b]0;owned\u0007QX\u001b[2J\"\\\u007f\u0001")"),
            std::string::npos)
      << connect.out;
  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.Wait(std::chrono::seconds(10)).exitStatus, 0);
}

TEST(CliJson, ARejectedBlockEndsTheProgressWithItsErrorBoxAndResult) {
  const std::string file =
      WriteFile("json-rejected.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                         .Image(1, 3, Firmware(1024, 1, 3))
                                         .End()
                                         .Bytes());
  test::ChildProcess simulator(
      {kProgram, "simulate", "--reject-block", "2", "--reject-status", "1"});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)));
  const std::string port = TransmitTo(simulator.Output());
  const test::ProcessResult update =
      RunProgram({kProgram, "update", file, "--in", port, "--out", port, "--json"});
  EXPECT_EQ(update.exitStatus, kDeviceBadChecksum);
  EXPECT_EQ(update.err, "");
  const std::vector<std::string> summaries = Summaries(JsonLines(update.out));
  // Blocks 0 and 1 were taken, block 2 refused: 1024 bytes in blocks of 256 count as 5.
  ASSERT_GE(summaries.size(), 5u) << update.out;
  EXPECT_EQ(std::vector<std::string>(summaries.end() - 5, summaries.end()),
            (std::vector<std::string>{
                "progress Updating firmware area... 0", "progress Updating firmware area... 20",
                "progress Updating firmware area... 40", "box error MIDI Reports bad checksum",
                "result 11 MIDI Reports bad checksum 11"}))
      << update.out;
  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.Wait(std::chrono::seconds(10)).exitStatus, 0);
}
#endif

}  // namespace
}  // namespace kfw
